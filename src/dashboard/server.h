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

class QTcpSocket;
class QWebSocket;

namespace dashboard {

class StationView;
struct RequestHead;

class Server : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 400; // beyond it the oldest waiting one is dropped
    static constexpr int kMaxLive = 200;        // live pages at once
    // Unsent bytes: a connection takes no new request beyond the first figure, and while all of
    // them together hold the second every request gets a 503; a page is dropped beyond the third.
    static constexpr qint64 kMaxBacklog = 512 * 1024;
    static constexpr qint64 kMaxBacklogs = 8 << 20;
    static constexpr qint64 kMaxLiveBacklog = 128 * 1024;

    struct Reply {
        int status = 200;
        QByteArray type;
        QByteArray body;
    };

    explicit Server(StationView& station, QObject* parent = nullptr);
    ~Server() override;

    // Host names besides IP literals and localhost that requests may give, comma-separated.
    void setAllowedNames(const QString& names) { allowedNames_ = names.toStdString(); }
    // How long a connection may take to send a whole request head, or to take any of its answer.
    void setDeadline(int ms) { deadlineMs_ = ms; }
    bool listen(const QHostAddress& address, quint16 port, QString* error = nullptr);
    quint16 port() const { return tcp_.serverPort(); }

private:
    void accept();
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const RequestHead& head);
    bool wantsLive(const RequestHead& head) const; // a WebSocket request we take
    void upgrade(QTcpSocket* socket);
    void goLive(QWebSocket* client);
    void push();

    StationView& station_;
    QTcpServer tcp_;
    QWebSocketServer live_;
    std::string allowedNames_;
    QList<QTcpSocket*> waiting_; // HTTP connections, oldest first
    QList<QWebSocket*> clients_;
    QHash<QByteArray, Reply> files_; // the page's, and the chart library's from its package
    int deadlineMs_ = 10000;
    bool pushDue_ = false;
};

} // namespace dashboard
