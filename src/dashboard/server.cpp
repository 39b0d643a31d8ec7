#include "server.h"

#include "app/about.h"
#include "request_head.h"
#include "station_view.h"

#include <QEvent>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <map>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace dashboard {

namespace {

// The page's own files and the chart library's, which Debian installs here.
const QString kChartFolder = QStringLiteral("/usr/share/javascript/dygraphs/");

const QByteArray kSecurityHeaders =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; connect-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n";

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 414:
        return "URI Too Long";
    case 426:
        return "Upgrade Required";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

using Reply = Server::Reply;

Reply failure(int status) {
    return {status, "text/plain; charset=utf-8",
            QByteArray::number(status) + ' ' + reason(status) + '\n'};
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QTimer* deadline(QTcpSocket* socket) {
    return socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
}

// Minutes of history asked for: 1 to 60, all 60 when not given; 0 for anything else.
int minutesAsked(const QString& query) {
    const QUrlQuery fields(query);
    if (query.isEmpty())
        return StationView::kHistoryMinutes;
    bool ok = false;
    const int minutes = fields.queryItemValue(QStringLiteral("minutes")).toInt(&ok);
    const bool only = fields.queryItems().size() == 1;
    return ok && only && minutes >= 1 && minutes <= StationView::kHistoryMinutes ? minutes : 0;
}

// Connections that the open-file limit leaves room for, after raising it as far as it goes (the
// usual practice of servers): what is not open yet, less what the rest of the program keeps.
int roomForConnections() {
#ifdef Q_OS_WIN
    return INT_MAX;
#else
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return INT_MAX;
    if (const rlimit raised{files.rlim_max, files.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &raised) == 0)
        files = raised;
    if (files.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    int open = -3; // the listing's own descriptor, "." and ".."
    if (DIR* listing = ::opendir("/dev/fd")) {
        while (::readdir(listing))
            ++open;
        ::closedir(listing);
    }
    return int(std::min(files.rlim_cur, rlim_t(INT_MAX))) - std::max(open, 0) - Server::kFilesKept;
#endif
}

} // namespace

Server::Server(StationView& station, QObject* parent)
    : QObject(parent), station_(station),
      live_(QString::fromLatin1(app::kProgramName), QWebSocketServer::NonSecureMode) {
    // The files, read once; the chart's only when its package is installed.
    const QByteArray html = "text/html; charset=utf-8", script = "text/javascript; charset=utf-8",
                     style = "text/css; charset=utf-8";
    for (const auto& [path, type, file] :
         {std::tuple{"/", html, QStringLiteral(":/dashboard/page/index.html")},
          {"/index.html", html, QStringLiteral(":/dashboard/page/index.html")},
          {"/app.js", script, QStringLiteral(":/dashboard/page/app.js")},
          {"/style.css", style, QStringLiteral(":/dashboard/page/style.css")},
          {"/dygraph.min.js", script, kChartFolder + QStringLiteral("dygraph.min.js")},
          {"/dygraph.min.css", style, kChartFolder + QStringLiteral("dygraph.min.css")}})
        if (const QByteArray content = readFile(file); !content.isEmpty())
            files_.insert(path, {200, type, content});
    connect(&tcp_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = tcp_.nextPendingConnection())
            take(socket);
    });
    // Qt pauses the listener when it reports a failed accept; a later try may find what was
    // missing.
    rest_ = new QTimer(this);
    rest_->setSingleShot(true);
    rest_->setInterval(250);
    connect(rest_, &QTimer::timeout, this, [this] {
        keepSpare();
        resume();
    });
    connect(&tcp_, &QTcpServer::acceptError, rest_, qOverload<>(&QTimer::start));
    // Qt answers each ping into the page's write buffer and says nothing of it.
    watch_ = new QTimer(this);
    watch_->setInterval(1000);
    connect(
        watch_, &QTimer::timeout, this,
        [this] {
            for (QWebSocket* client : QList(clients_)) // an abort takes its client off the list
                keep(client);
        });
    connect(&live_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* client = live_.nextPendingConnection())
            goLive(client);
    });
    // Reports come in bursts (a scan's readings and alarms): one update per burst.
    connect(&station_, &StationView::changed, this, [this] {
        if (!std::exchange(pushDue_, true))
            QTimer::singleShot(0, this, &Server::push);
    });
}

Server::~Server() {
#ifndef Q_OS_WIN
    if (spare_ >= 0)
        ::close(spare_);
#endif
    // The connections go after the lists that their handlers keep them in.
    for (QTcpSocket* socket : waiting_ + upgrading_)
        socket->disconnect(this);
    for (QWebSocket* client : std::as_const(clients_))
        client->disconnect(this);
}

bool Server::listen(const QHostAddress& address, quint16 port, QString* error) {
    keepSpare(); // before the room is counted, which it takes from
    fileRoom_ = roomForConnections();
    // A burst of connections waits in the system's queue rather than retrying a second later.
    tcp_.setListenBacklogSize(maxConnections());
    if (!tcp_.listen(address, port)) {
        if (error)
            *error = tcp_.errorString();
        return false;
    }
    watch_->start();
#ifndef Q_OS_WIN
    // Out of descriptors, Qt's accept fails without a word (no acceptError) and leaves the
    // listener readable, so the loop would spin on it: its notifier is watched instead.
    for (QSocketNotifier* notifier : tcp_.findChildren<QSocketNotifier*>())
        if (notifier->type() == QSocketNotifier::Read &&
            notifier->socket() == tcp_.socketDescriptor())
            notifier->installEventFilter(this);
#endif
    return true;
}

void Server::take(QTcpSocket* socket) {
    if (connections() >= maxConnections()) { // Qt accepts on to the end of a burst
        socket->abort();
        socket->deleteLater();
        return;
    }
    waiting_ << socket;
    // Reading stops at a head's worth: a longer head is refused from what is buffered.
    socket->setReadBufferSize(kMaxHead + 1);
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    timer->start(deadlineMs_);
    connect(timer, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        deadline(socket)->start(deadlineMs_);
        serve(socket);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        waiting_.removeOne(socket);
        socket->deleteLater();
        resume();
    });
    // At the limit the listener rests, so that no descriptor beyond it is taken; the oldest HTTP
    // connection makes room at once, so that idle ones cannot keep a new client out.
    if (connections() >= maxConnections()) {
        tcp_.pauseAccepting();
        if (waiting_.size() > 1)
            waiting_.first()->abort();
    }
}

void Server::resume() {
    if (connections() < maxConnections())
        tcp_.resumeAccepting();
}

bool Server::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::SockAct && outOfFiles()) {
        shed();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// Whether an accept would fail for want of a descriptor: a copy of one needs one as well.
bool Server::outOfFiles() const {
#ifdef Q_OS_WIN
    return false;
#else
    const int probe = ::fcntl(int(tcp_.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (probe >= 0)
        ::close(probe);
    return probe < 0 && errno == EMFILE;
#endif
}

// The spare descriptor takes the connection that waits longest and closes it, so that its client
// hears at once instead of waiting in the queue, and the listener rests until descriptors may
// have come back.
void Server::shed() {
#ifndef Q_OS_WIN
    if (spare_ >= 0) {
        ::close(std::exchange(spare_, -1));
        if (const int waiting =
                ::accept4(int(tcp_.socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
            waiting >= 0)
            ::close(waiting);
        keepSpare();
    }
#endif
    tcp_.pauseAccepting();
    rest_->start();
}

void Server::keepSpare() {
#ifndef Q_OS_WIN
    if (spare_ < 0)
        spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
#endif
}

void Server::serve(QTcpSocket* socket) {
    // One request at a time, and none while the answers to earlier ones pile up unread.
    while (socket->state() == QAbstractSocket::ConnectedState &&
           socket->bytesToWrite() < limits_.backlog) {
        const QByteArray received = socket->peek(kMaxHead + 1);
        const RequestHead head =
            readRequestHead({received.constData(), std::size_t(received.size())});
        if (head.status == RequestHead::Incomplete)
            return;
        const Reply reply = decide(head);
        if (reply.status == 101)
            return upgrade(socket); // the WebSocket server reads the request itself
        socket->skip(qint64(head.length));
        if (!answer(socket, head, reply))
            return;
    }
}

Reply Server::decide(const RequestHead& head) const {
    static const std::map<RequestHead::Status, int> refusals{{RequestHead::BadRequest, 400},
                                                             {RequestHead::UriTooLong, 414},
                                                             {RequestHead::TooLarge, 431}};
    if (head.status != RequestHead::Complete)
        return failure(refusals.at(head.status));
    const QByteArray target(head.target.data(), qsizetype(head.target.size()));
    const QByteArray path = target.split('?').first();
    const bool live = head.websocket && path == "/live";
    qint64 backlogs = 0;
    for (const QTcpSocket* other : waiting_)
        backlogs += other->bytesToWrite();
    if (!hostAllowed(head.host, allowedNames_))
        return failure(403);
    if (head.method != "GET" && (head.method != "HEAD" || live))
        return failure(405);
    if (backlogs >= limits_.backlogs)
        return failure(503); // answers that clients have not taken already fill the budget
    if (head.hasBody)
        return failure(400);
    if (live)
        return handshake(head);
    if (files_.contains(path))
        return files_.value(path);
    if (path == "/api/readings")
        return {200, "application/json", station_.stateJson()};
    if (path == "/api/history") {
        const int minutes = minutesAsked(QString::fromLatin1(target.mid(path.size() + 1)));
        return minutes ? Reply{200, "application/json", station_.historyJson(minutes)}
                       : failure(400);
    }
    if (path == "/metrics")
        return {200, "text/plain; version=0.0.4; charset=utf-8", station_.metrics()};
    return failure(404);
}

// The WebSocket server's own refusals lack our headers, and some it never sends: what it would
// refuse is refused here.
Reply Server::handshake(const RequestHead& head) const {
    // Any site's page may open a WebSocket to us: only our own page's origin may have one.
    const QByteArray origin(head.origin.data(), qsizetype(head.origin.size()));
    const QByteArray host(head.host.data(), qsizetype(head.host.size()));
    if (!origin.isEmpty() && origin.compare("http://" + host, Qt::CaseInsensitive) != 0 &&
        origin.compare("https://" + host, Qt::CaseInsensitive) != 0)
        return failure(403);
    if (head.websocketVersion != "13")
        return failure(426);
    const auto key = QByteArray::fromBase64Encoding(
        QByteArray(head.websocketKey.data(), qsizetype(head.websocketKey.size())),
        QByteArray::AbortOnBase64DecodingErrors);
    if (head.websocketKey.size() != 24 || !key || key.decoded.size() != 16)
        return failure(400);
    if (upgrading_.size() + clients_.size() >= maxLive())
        return failure(503);
    return {101, {}, {}};
}

// Whether the connection stays open for another request.
bool Server::answer(QTcpSocket* socket, const RequestHead& head, const Reply& reply) {
    // After a refusal the rest of what the client sent cannot be trusted to be a request.
    const bool close = head.close || (reply.status >= 400 && reply.status != 404);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) +
                     "\r\nContent-Type: " + reply.type +
                     "\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\n" +
                     kSecurityHeaders;
    if (reply.status == 405)
        out += "Allow: GET, HEAD\r\n";
    if (reply.status == 426)
        out += "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n";
    out += close ? "Connection: close\r\n\r\n" : "\r\n";
    if (head.method != "HEAD")
        out += reply.body;
    socket->write(out);
    deadline(socket)->start(deadlineMs_);
    if (close)
        finish(socket);
    return !close;
}

// Closing with bytes unread makes the system reset the connection, and the reset may reach the
// client before the answer does: once the answer is out, say so and drop what still comes for a
// while.
void Server::finish(QTcpSocket* socket) {
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    disconnect(socket, &QTcpSocket::bytesWritten, this, nullptr);
    const auto linger = [this, socket] {
        if (socket->bytesToWrite() > 0) {
            deadline(socket)->start(deadlineMs_);
            return;
        }
#ifndef Q_OS_WIN
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
#endif
        deadline(socket)->start(1000);
    };
    connect(socket, &QTcpSocket::bytesWritten, this, linger);
    connect(socket, &QTcpSocket::readyRead, this, [socket, dropped = qint64(0)]() mutable {
        dropped += socket->skip(socket->bytesAvailable());
        if (dropped > 64 * 1024)
            socket->abort();
    });
    linger();
    socket->skip(socket->bytesAvailable()); // a full read buffer would keep the rest unread
}

void Server::upgrade(QTcpSocket* socket) {
    waiting_.removeOne(socket);
    upgrading_ << socket;
    socket->disconnect(this);
    // The WebSocket server starts no time-out of its own for a socket handed to it: ours runs on
    // until the page is live.
    deadline(socket)->start(deadlineMs_);
    connect(socket, &QObject::destroyed, this, [this, socket] {
        upgrading_.removeOne(socket);
        resume();
    });
    socket->setReadBufferSize(64 * 1024);
    live_.handleConnection(socket);
}

void Server::goLive(QWebSocket* client) {
    const auto same = [client](const QTcpSocket* socket) {
        return socket->peerPort() == client->peerPort() &&
               socket->peerAddress() == client->peerAddress();
    };
    const auto it = std::find_if(upgrading_.begin(), upgrading_.end(), same);
    client->setParent(this);
    if (it == upgrading_.end()) {
        client->abort();
        client->deleteLater();
        return;
    }
    QTcpSocket* socket = *it;
    upgrading_.erase(it);
    socket->disconnect(this);
    delete deadline(socket);
    // The page sends nothing; anything larger than a close frame is not ours, nor is a message.
    client->setMaxAllowedIncomingFrameSize(1024);
    client->setMaxAllowedIncomingMessageSize(1024);
    connect(client, &QWebSocket::textMessageReceived, client, &QWebSocket::abort);
    connect(client, &QWebSocket::binaryMessageReceived, client, &QWebSocket::abort);
    clients_ << client;
    connect(client, &QWebSocket::disconnected, this, [this, client] {
        clients_.removeOne(client);
        client->deleteLater();
        resume();
    });
    // Qt writes a pong for every ping from its own handler of this signal, which runs first: a
    // flood of pings is stopped before it has grown the write buffer far.
    connect(socket, &QTcpSocket::readyRead, client, [this, client] { keep(client); });
    client->sendTextMessage(QString::fromUtf8(station_.stateJson()));
}

// A page that stopped reading, its updates or the answers to its pings, is dropped rather than
// buffered for.
bool Server::keep(QWebSocket* client) {
    if (client->bytesToWrite() <= limits_.liveBacklog)
        return true;
    client->abort();
    return false;
}

void Server::push() {
    pushDue_ = false;
    if (clients_.isEmpty())
        return;
    const QString state = QString::fromUtf8(station_.stateJson());
    for (QWebSocket* client : QList(clients_)) // an abort takes its client off the list
        if (keep(client))
            client->sendTextMessage(state);
}

} // namespace dashboard
