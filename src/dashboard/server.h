// The dashboard's web server, inside the program's event loop: the live page and its files, the
// current state and history as JSON, the metrics, and the live updates over a WebSocket. It only
// reads the station; nothing it serves changes the amplifier or the program.
#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QWebSocketServer>

#include <algorithm>
#include <climits>

class QTcpSocket;
class QTimer;
class QWebSocket;

namespace dashboard {

class StationView;
struct RequestHead;

class Server : public QObject {
    Q_OBJECT
public:
    // What one client, and all of them together, may hold of the program.
    struct Limits {
        // Connections of every kind; reaching it, the oldest HTTP connection goes. The open-file
        // limit may leave room for fewer.
        int connections = 400;
        // Live pages, counting those still in their handshake; at most half the connections, so
        // that plain requests always keep room.
        int live = 200;
        // Unsent bytes: a connection takes no new request beyond the first figure, and while all
        // of them together hold the second every request gets a 503; a page is dropped beyond
        // the third.
        qint64 backlog = 512 * 1024;
        qint64 backlogs = 8 << 20;
        qint64 liveBacklog = 128 * 1024;
    };
    // Descriptors the open-file limit keeps for the rest of the program (the display, the serial
    // port, the journal) beyond those open when the dashboard starts listening.
    static constexpr int kFilesKept = 64;

    struct Reply {
        int status = 200;
        QByteArray type;
        QByteArray body;
    };

    explicit Server(StationView& station, QObject* parent = nullptr);
    ~Server() override;

    // Host names besides IP literals and localhost that requests may give, comma-separated.
    void setAllowedNames(const QString& names) { allowedNames_ = names.toStdString(); }
    // How long a connection may take to send a whole request head, to finish its WebSocket
    // handshake, or to take any of its answer.
    void setDeadline(int ms) { deadlineMs_ = ms; }
    void setLimits(const Limits& limits) { limits_ = limits; }
    // Raises the process's soft open-file limit to its hard limit first, and fits the
    // connections under it. Should the process run out of descriptors all the same (its limit
    // lowered from outside, or another part holding more), the connection that waits longest is
    // closed and the listener rests a while, each time, instead of spinning on a failed accept.
    bool listen(const QHostAddress& address, quint16 port, QString* error = nullptr);
    quint16 port() const { return tcp_.serverPort(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void take(QTcpSocket* socket);
    void resume();
    bool outOfFiles() const;
    void shed();
    void keepSpare();
    void serve(QTcpSocket* socket);
    Reply decide(const RequestHead& head) const;
    Reply handshake(const RequestHead& head) const;
    bool answer(QTcpSocket* socket, const RequestHead& head, const Reply& reply);
    void finish(QTcpSocket* socket);
    void upgrade(QTcpSocket* socket);
    void goLive(QWebSocket* client);
    bool keep(QWebSocket* client);
    void push();
    int connections() const { return int(waiting_.size() + upgrading_.size() + clients_.size()); }
    int maxConnections() const { return std::max(1, std::min(limits_.connections, fileRoom_)); }
    int maxLive() const { return std::min(limits_.live, maxConnections() / 2); }

    StationView& station_;
    QTcpServer tcp_;
    QWebSocketServer live_;
    QTimer* watch_ = nullptr; // looks at every page's backlog
    QTimer* rest_ = nullptr;  // the listener's pause after a failed accept
    int spare_ = -1;          // a descriptor kept to take a connection when none is left
    std::string allowedNames_;
    Limits limits_;
    int fileRoom_ = INT_MAX;       // connections that the open-file limit leaves room for
    QList<QTcpSocket*> waiting_;   // HTTP connections, oldest first
    QList<QTcpSocket*> upgrading_; // handed to the WebSocket server, handshake not yet done
    QList<QWebSocket*> clients_;
    QHash<QByteArray, Reply> files_; // the page's, and the chart library's from its package
    int deadlineMs_ = 10000;
    bool pushDue_ = false;
};

} // namespace dashboard
