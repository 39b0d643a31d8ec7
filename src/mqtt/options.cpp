#include "options.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QScopeGuard>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace mqtt {

namespace {

// A password longer than this is not a line someone typed into a file.
constexpr qsizetype kMaxPasswordLine = 1024;
// What a password manager behind a pipe may take to answer before the start is refused.
constexpr int kPasswordWaitMs = 2000;
constexpr qsizetype kMaxNodeId = 64;

bool fail(QString& error, const char* phrase) {
    error = QString::fromLatin1(phrase);
    return false;
}

bool isControlOrSpace(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSpace() ||
           c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
}

bool isHostNameCharacter(QChar c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool isNodeIdCharacter(QChar c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

QString BrokerUrl::authority() const {
    const QString shownHost = host.contains(':') ? '[' + host + ']' : host;
    return shownHost + ':' + QString::number(port);
}

bool parseBrokerUrl(const QString& text, BrokerUrl& url, QString& error) {
    if (std::any_of(text.begin(), text.end(), isControlOrSpace))
        return fail(error, "spaces or control characters");
    BrokerUrl parsed;
    QStringView rest;
    if (text.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive)) {
        rest = QStringView(text).mid(7);
    } else if (text.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive)) {
        parsed.tls = true;
        rest = QStringView(text).mid(8);
    } else {
        return fail(error, "not an mqtt:// or mqtts:// URL");
    }
    if (rest.contains('?'))
        return fail(error, "a query is not allowed");
    if (rest.contains('#'))
        return fail(error, "a fragment is not allowed");
    if (rest.contains('/'))
        return fail(error, "a path is not allowed");

    if (const qsizetype at = rest.lastIndexOf('@'); at >= 0) {
        const QStringView user = rest.left(at);
        if (user.contains(':'))
            return fail(error, "a password does not belong in the URL");
        if (user.isEmpty())
            return fail(error, "empty user name");
        parsed.user = QUrl::fromPercentEncoding(user.toUtf8());
        if (user.contains('@') || std::any_of(parsed.user.begin(), parsed.user.end(),
                                              [](QChar c) { return c.unicode() < 0x20; }))
            return fail(error, "bad user name");
        rest = rest.mid(at + 1);
    }

    QStringView port;
    bool hasPort = false;
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        QHostAddress address;
        if (close < 0 || !address.setAddress(rest.mid(1, close - 1).toString()) ||
            address.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(error, "bad IPv6 address");
        parsed.host = rest.mid(1, close - 1).toString();
        const QStringView after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(':'))
            return fail(error, "bad port");
        hasPort = !after.isEmpty();
        port = after.mid(1);
    } else {
        const qsizetype colon = rest.indexOf(':');
        if (colon >= 0 && rest.indexOf(':', colon + 1) >= 0)
            return fail(error, "an IPv6 address needs brackets");
        hasPort = colon >= 0;
        const QStringView host = hasPort ? rest.left(colon) : rest;
        if (host.isEmpty())
            return fail(error, "no host");
        if (!std::all_of(host.begin(), host.end(), isHostNameCharacter) || host.startsWith('.') ||
            host.startsWith('-'))
            return fail(error, "bad host name");
        parsed.host = host.toString();
        port = hasPort ? rest.mid(colon + 1) : QStringView();
    }

    parsed.port = parsed.tls ? kDefaultTlsPort : kDefaultPort;
    if (hasPort) {
        if (port.isEmpty() ||
            !std::all_of(port.begin(), port.end(), [](QChar c) { return c >= '0' && c <= '9'; }))
            return fail(error, "bad port");
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number < 1 || number > 65535)
            return fail(error, "port out of range");
        parsed.port = quint16(number);
    }
    url = parsed;
    return true;
}

bool readPassword(const QString& file, std::optional<QByteArray>& password, QString& error) {
    if (file.isEmpty()) {
        const QByteArray fromEnvironment = qgetenv("WATTMETER_MQTT_PASSWORD");
        password = fromEnvironment.isEmpty() ? std::nullopt : std::optional(fromEnvironment);
        return true;
    }
    const auto refuse = [&](const QString& why) {
        error = QStringLiteral("cannot read a password from %1: %2").arg(file, why);
        return false;
    };
    // Without O_NONBLOCK, opening a FIFO that nobody writes to would hang the start for ever.
    const int fd =
        ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(qt_error_string(errno));
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    // A regular file is always readable; a pipe, a FIFO or a terminal gets a deadline for its line.
    QByteArray bytes;
    QDeadlineTimer deadline(kPasswordWaitMs);
    while (!bytes.contains('\n') && bytes.size() < kMaxPasswordLine + 2) { // CR LF after it
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (polled == 0)
            return refuse(QStringLiteral("no line came within %1 s").arg(kPasswordWaitMs / 1000));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled < 0)
            return refuse(qt_error_string(errno));
        char chunk[256];
        const ssize_t got =
            ::read(fd, chunk, std::min(sizeof chunk, size_t(kMaxPasswordLine + 2 - bytes.size())));
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got < 0)
            return refuse(qt_error_string(errno));
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    QByteArray line = bytes.left(bytes.indexOf('\n'));
    if (line.endsWith('\r')) // a file last saved on Windows
        line.chop(1);
    if (line.size() > kMaxPasswordLine)
        return refuse(QStringLiteral("the line is longer than %1 bytes").arg(kMaxPasswordLine));
    if (line.contains('\0'))
        return refuse(QStringLiteral("the line holds a NUL byte"));
    if (line.isEmpty())
        return refuse(QStringLiteral("the line is empty"));
    password = line;
    return true;
}

bool isValidNodeId(const QString& id) {
    return !id.isEmpty() && id.size() <= kMaxNodeId &&
           std::all_of(id.begin(), id.end(), isNodeIdCharacter);
}

QString nodeIdFromHostName(const QString& hostName) {
    QString id = hostName.toLower();
    for (QChar& c : id)
        if (!isNodeIdCharacter(c))
            c = '-';
    return id.isEmpty() ? QStringLiteral("wattmeter") : id.left(kMaxNodeId);
}

} // namespace mqtt
