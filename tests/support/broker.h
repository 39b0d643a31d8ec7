// A mosquitto broker of a test's own on loopback (free ports, its own users and access list,
// with TLS a CA and certificates made at the test's start), and mosquitto_sub as an observer.
#pragma once

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

// A program run to its end: whether it ended well within 30 s.
bool run(const QString& program, const QStringList& arguments, const QString& folder = {});

// Templates as Home Assistant reads them: each rendered by Jinja2, sandboxed, with the payload
// as value_json; "error: ..." for one that does not render.
QStringList render(const QList<std::pair<QString, QByteArray>>& templates);

struct Broker {
    QTemporaryDir dir;
    quint16 port = 0, tlsPort = 0, elsewherePort = 0; // TLS for localhost, for another name
    QProcess process;
    QByteArray log;

    explicit Broker(bool tls = false);
    ~Broker();
    bool start();
    void stop();
    void signal(int number) const;
    QString url() const { return QStringLiteral("mqtt://wattmeter@127.0.0.1:%1").arg(port); }
    QStringList observer() const {
        return {"-p", QString::number(port), "-u", "observer", "-P", "look", "-q", "1"};
    }
};

// mosquitto_sub as the observer: retain flag, topic and payload, flushed line by line.
struct Subscriber {
    QProcess process;
    QByteArray seen;
    explicit Subscriber(const Broker& broker);
    ~Subscriber();
    // Whether the line has come, or comes within the time given.
    bool saw(const QByteArray& line, int ms = 5000);
    // All it has seen so far.
    const QByteArray& all() { return seen += process.readAll(); }
};

// A broker on loopback for what mosquitto cannot be made to do: "refuse v5" (or "... as 3.1.1")
// and take 3.1.1, or take MQTT 5 then "take over", send one "oversized" message, or "flood".
struct ScriptedBroker {
    QTcpServer server;
    QList<int> versions; // of each CONNECT
    explicit ScriptedBroker(const QString& script);
    QString url() const { return QStringLiteral("mqtt://u@127.0.0.1:%1").arg(server.serverPort()); }
};
