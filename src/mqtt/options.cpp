#include "options.h"

#include <QFile>
#include <QHostAddress>
#include <QUrl>

namespace mqtt {

namespace {

// A password longer than this is not a line someone typed into a file.
constexpr qint64 kMaxPasswordLine = 4096;

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
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(file, source.errorString());
        return false;
    }
    QByteArray line = source.readLine(kMaxPasswordLine);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r')) // a file last saved on Windows
        line.chop(1);
    password = line;
    return true;
}

bool isValidNodeId(const QString& id) {
    return !id.isEmpty() && std::all_of(id.begin(), id.end(), isNodeIdCharacter);
}

QString nodeIdFromHostName(const QString& hostName) {
    QString id = hostName.toLower();
    for (QChar& c : id)
        if (!isNodeIdCharacter(c))
            c = '-';
    return id.isEmpty() ? QStringLiteral("wattmeter") : id;
}

} // namespace mqtt
