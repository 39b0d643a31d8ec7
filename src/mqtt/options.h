// What the command line tells the MQTT client: the broker's URL, the password (never on the
// command line itself: from a file or the environment) and the node id that names this station
// in topics. Reading them is separate from connecting, so a mistake is reported at start-up.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace mqtt {

inline constexpr quint16 kDefaultPort = 1883;
inline constexpr quint16 kDefaultTlsPort = 8883;

struct BrokerUrl {
    bool tls = false; // mqtts://
    QString user;     // empty when the URL names none
    QString host;     // a name or an address; an IPv6 address without its brackets
    quint16 port = 0;

    // "host:port" as a user would write it, for messages.
    QString authority() const;
};

// `mqtt://[USER@]HOST[:PORT]` or `mqtts://...`. False with a short phrase in `error` for anything
// else, including a password in the URL.
bool parseBrokerUrl(const QString& text, BrokerUrl& url, QString& error);

// The first line of `file` when one is named, else WATTMETER_MQTT_PASSWORD when it is set and not
// empty, else none. False with the reason when the file cannot be read, when a pipe or FIFO
// gives no line within 2 s, or when the line is empty, longer than 1 KB or holds a NUL byte.
bool readPassword(const QString& file, std::optional<QByteArray>& password, QString& error);

// A node id is safe in a topic: 1 to 64 of a-z, 0-9, '_' and '-'.
bool isValidNodeId(const QString& id);
// The host name in lower case with every other character turned into '-', cut to 64; never
// empty.
QString nodeIdFromHostName(const QString& hostName);

} // namespace mqtt
