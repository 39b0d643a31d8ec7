// The MQTT client against a real mosquitto started here on loopback (a free port, its own users
// and ACL): the options' rules, topics and a clean stop, reconnecting with a back-off, TLS
// checked against the URL's host, and what waits for a broker that answers nothing.
#include "mqtt/client.h"
#include "support/broker.h"
#include "support/pty.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

using mqtt::Client;

namespace {

Client::Settings settings(const QString& url, const QByteArray& id = "wattmeter-n1") {
    Client::Settings settings;
    settings.password = "secret";
    settings.clientId = id;
    settings.willTopic = "wattmeter/n1/availability";
    settings.willPayload = "offline";
    settings.firstRetryMs = 100;
    settings.lastRetryMs = 400;
    settings.housekeepingMs = 100;
    settings.connectTimeoutMs = 1000;
    QString error;
    if (!mqtt::parseBrokerUrl(url, settings.broker, error))
        qFatal("%s", qPrintable(error));
    return settings;
}

// What the program does with its client: "online" in every session.
void announce(Client& client) {
    QObject::connect(&client, &Client::sessionStarted, &client, [&client] {
        client.publishLatest("wattmeter/n1/availability", "online", true);
    });
    QString error;
    QVERIFY2(client.start(error), qPrintable(error));
}

QString cause(const QSignalSpy& reported, int line) {
    return reported.at(line).at(0).toString().section(": ", 1);
}

} // namespace

class tst_mqtt_client : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(broker_.start()); }
    void brokerUrl_data();
    void brokerUrl();
    void nodeId_data();
    void nodeId();
    void password_data();
    void password();
    void topicsAndACleanStop();
    void connects_data();
    void connects();
    void reconnectsWithBackOff();
    void shortSessionsKeepBackingOff();
    void twoStationsUnderOneId();
    void stuckBrokerHoldsUpNothing();
    void outboxBounds();
    void careless_data();
    void careless();

private:
    Broker broker_{true}; // for the tests that leave it running
};

void tst_mqtt_client::brokerUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected"); // user@host:port and TLS, or the error
    const auto row = [](const char* name, const char* url, const char* expected) {
        QTest::newRow(name) << QString(url) << QString(expected);
    };
    row("plain host, default port", "mqtt://broker.lan", "@broker.lan:1883");
    row("TLS in capitals, default port", "MQTTS://broker.lan", "@broker.lan:8883 TLS");
    row("user and port", "mqtt://ha@10.0.0.2:65535", "ha@10.0.0.2:65535");
    row("encoded user", "mqtt://a%40b@h", "a@b@h:1883");
    row("IPv6 literal", "mqtt://[::1]:1885", "@[::1]:1885");
    row("IPv6 literal, default port", "mqtts://u@[fe80::1]", "u@[fe80::1]:8883 TLS");
    row("other scheme", "http://h", "not an mqtt:// or mqtts:// URL");
    row("password", "mqtt://u:pw@h", "a password does not belong in the URL");
    row("empty user", "mqtt://@h", "empty user name");
    row("two at signs", "mqtt://a@b@h", "bad user name");
    row("encoded control character in the user", "mqtt://a%0a@h", "bad user name");
    row("path", "mqtt://h:1883/x", "a path is not allowed");
    row("query", "mqtt://h?x=1", "a query is not allowed");
    row("empty host", "mqtt://:1883", "no host");
    row("bad host character", "mqtt://h!st", "bad host name");
    row("host starts with a dot", "mqtt://.h", "bad host name");
    row("IPv6 without brackets", "mqtt://::1", "an IPv6 address needs brackets");
    row("unclosed bracket", "mqtt://[::1", "bad IPv6 address");
    row("junk after the bracket", "mqtt://[::1]x1", "bad port");
    row("signed port", "mqtt://h:+1", "bad port");
    row("port zero", "mqtt://h:0", "port out of range");
    row("port too large", "mqtt://h:65536", "port out of range");
    row("space", "mqtt://h :1", "spaces or control characters");
    row("control character", "mqtt://h\x01", "spaces or control characters");
}

void tst_mqtt_client::brokerUrl() {
    QFETCH(QString, url);
    QFETCH(QString, expected);
    mqtt::BrokerUrl parsed;
    QString error;
    if (mqtt::parseBrokerUrl(url, parsed, error))
        error = parsed.user + '@' + parsed.authority() + (parsed.tls ? " TLS" : "");
    QCOMPARE(error, expected);
}

void tst_mqtt_client::nodeId_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("fromHost"); // a valid id is what a host name of it would give
    const auto row = [](const char* name, const QString& given, const QByteArray& fromHost) {
        QTest::newRow(name) << given << QString(fromHost);
    };
    row("already safe", "shack_2-a", "shack_2-a");
    row("capitals, domain, topic and other characters", "Pi.local/+#\u00f6", "pi-local----");
    row("empty", "", "wattmeter");
    row("64 characters", QString(64, 'a'), QByteArray(64, 'a'));
    row("65 characters, and a host name that long", QString(65, 'a'), QByteArray(64, 'a'));
}

void tst_mqtt_client::nodeId() {
    QFETCH(QString, given);
    QFETCH(QString, fromHost);
    QCOMPARE(mqtt::nodeIdFromHostName(given), fromHost);
    QCOMPARE(mqtt::isValidNodeId(given), given == fromHost);
}

void tst_mqtt_client::password_data() {
    QTest::addColumn<QString>(
        "source"); // "file", "fifo", "silent fifo", or "none": the environment
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // "=" and the password, the end of the refusal, or none
    const auto row = [](const char* name, const char* source, const QByteArray& content,
                        const char* expected) {
        QTest::newRow(name) << QString(source) << content << QString(expected);
    };
    row("regular file, before the environment", "file", "pw 1\nsecond\n", "=pw 1");
    row("CRLF line end", "file", "pw 1\r\nsecond", "=pw 1");
    row("exactly 1 KB", "file", QByteArray(1024, 'x') + "\r\n", "=" + QByteArray(1024, 'x'));
    row("FIFO with a writer", "fifo", "from pass\n", "=from pass");
    row("FIFO with no writer", "silent fifo", {}, "no line came within 2 s");
    row("NUL byte", "file", QByteArray("pw\0x\n", 5), "the line holds a NUL byte");
    row("over 1 KB", "file", QByteArray(1025, 'x') + '\n', "the line is longer than 1024 bytes");
    row("empty line", "file", "\r\npw\n", "the line is empty");
    row("empty FIFO", "fifo", {}, "the line is empty");
    row("missing", "missing", {}, "No such file or directory");
    row("no file: the environment", "none", "env", "=env");
    row("no file, no environment", "none", {}, "");
}

void tst_mqtt_client::password() {
    QFETCH(QString, source);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = broker_.dir.filePath("pw");
    QFile::remove(path);
    QProcess writer;
    if (source == "file") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    } else if (source.endsWith("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        if (source == "fifo") // a password manager behind a pipe, answering after a moment
            writer.start("sh", {"-c", R"(sleep 0.2; printf %s "$1" > "$0")", path, content});
    }
    qputenv("WATTMETER_MQTT_PASSWORD", source == "none" ? content : "env");
    std::optional<QByteArray> password;
    QString error;
    if (mqtt::readPassword(source == "none" ? QString() : path, password, error))
        error = password ? "=" + QString::fromLatin1(*password) : QString();
    writer.waitForFinished();
    qunsetenv("WATTMETER_MQTT_PASSWORD");
    QVERIFY2(expected.startsWith('=') || expected.isEmpty() ? error == expected
                                                            : error.endsWith(expected),
             qPrintable(error));
}

void tst_mqtt_client::topicsAndACleanStop() {
    // Wildcards are for subscribing only, and never in the middle. (Messages received, retained
    // or not, are tst_mqtt_bridge's commands; the will of a killed program its theProgram.)
    Client client(settings(broker_.url()));
    QVERIFY(client.subscribe("wattmeter/n1/command") && !client.subscribe("a/#/b"));
    QVERIFY(!client.publishEvent("a/+", "x") && !client.publishLatest("#", "x", true));
    announce(client);
    QTRY_VERIFY(client.isConnected());
    // A clean stop: the final message goes out and the will is not published.
    Subscriber live(broker_);
    QVERIFY(client.stop("wattmeter/n1/availability", "stopped", true));
    QVERIFY(live.saw("0 wattmeter/n1/availability stopped\n"));
    QTest::qWait(300); // the time a will would take to come
    QVERIFY(!live.saw("0 wattmeter/n1/availability offline", 0));
}

void tst_mqtt_client::reconnectsWithBackOff() {
    Broker broker;
    Client::Settings given = settings(broker.url());
    given.takenOverRetryMs = given.lastRetryMs; // quick restarts may look like another client
    Client client(given);
    QSignalSpy reported(&client, &Client::reported), sessions(&client, &Client::sessionStarted),
        changes(&client, &Client::connectedChanged);
    announce(client);
    QTest::qWait(700); // several attempts at the broker that is not there yet
    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0][0].toString(), "MQTT broker " + broker.url().mid(17) +
                                            ": connection refused; trying again in 100 ms");
    int memory = 0;
    qsizetype files = 0;
    for (int cycle = 1; cycle <= 10; ++cycle) {
        QVERIFY(broker.start());
        QTRY_COMPARE(sessions.size(), cycle);
        QVERIFY(Subscriber(broker).saw("1 wattmeter/n1/availability online\n")); // again
        const qsizetype open = QDir("/proc/self/fd").entryList().size();
        if (cycle == 2)
            std::tie(memory, files) = std::pair(residentMegabytes(), open);
        QVERIFY(cycle < 10 || (open == files && residentMegabytes() - memory < 2));
        broker.stop();
        QTRY_VERIFY(!client.isConnected());
    }
    QCOMPARE(client.reconnects(), quint64(9));
    QCOMPARE(changes.size(), 20);
    QVERIFY(!client.stop("wattmeter/n1/availability", "offline", true)); // with nobody to tell
    QVERIFY(broker.start());
    QTest::qWait(300); // beyond the next attempt, had the client gone on
    QCOMPARE(sessions.size(), 10);
    QCOMPARE(cause(reported, 2), "the broker closed the connection; trying again in 400 ms");
    for (qsizetype line = 1; line < reported.size(); ++line) // each line a new cause
        QVERIFY(reported[line] != reported[line - 1]);
}

void tst_mqtt_client::shortSessionsKeepBackingOff() {
    // A broker that accepts each connection and closes it at once, on timings a twentieth of the
    // program's.
    QTcpServer broker;
    QVERIFY(broker.listen(QHostAddress::LocalHost));
    int attempts = 0, holdMs = 0;
    connect(&broker, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = broker.nextPendingConnection()) {
            ++attempts;
            socket->write(QByteArray("\x20\x03\x00\x00\x00", 5)); // CONNACK: accepted
            QTimer::singleShot(holdMs, socket, [socket] { socket->disconnectFromHost(); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    Client::Settings given = settings(QString("mqtt://u@127.0.0.1:%1").arg(broker.serverPort()));
    given.firstRetryMs = 50;
    given.lastRetryMs = 3000;
    given.stableSessionMs = 1500;
    given.takenOverRetryMs = 3000;
    Client client(given);
    QSignalSpy reported(&client, &Client::reported);
    announce(client);
    QTest::qWait(given.stableSessionMs);
    // The second such close in a row is taken as another client under our id.
    QVERIFY2(attempts == 2, qPrintable(QString::number(attempts)));
    QVERIFY(cause(reported, int(reported.size()) - 1)
                .startsWith("the broker ends each session soon after it begins; if another client "
                            "uses the id wattmeter-n1, give each station its own --mqtt-node; "
                            "trying again in 3 s"));
    // A session that lasted starts again from the first delay.
    holdMs = given.stableSessionMs + 100;
    QTRY_VERIFY_WITH_TIMEOUT(cause(reported, int(reported.size()) - 1).endsWith("in 50 ms"), 5000);
}

void tst_mqtt_client::twoStationsUnderOneId() {
    // Debian's mosquitto takes the session from the one connected without a reason, and each
    // take-over publishes its will: on timings a twentieth of the program's, at most 4 in 3 s.
    Subscriber live(broker_);
    Client::Settings given = settings(broker_.url());
    given.firstRetryMs = 50;
    given.stableSessionMs = 1500;
    given.takenOverRetryMs = 3000;
    Client one(given), other(given);
    announce(one);
    announce(other);
    QTest::qWait(3000);
    QVERIFY2(live.all().count("availability offline") <= 4, live.seen.constData());
}

void tst_mqtt_client::connects_data() {
    QTest::addColumn<QString>("url"); // %p is the broker's port, %t and %e its TLS ports
    QTest::addColumn<QString>("ca");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("expected"); // what is reported first
    const auto row = [](const char* name, const char* url, const char* ca, const char* password,
                        const QString& expected) {
        QTest::newRow(name) << QString(url) << QString(ca) << QByteArray(password) << expected;
    };
    const QString failed = QStringLiteral("certificate verify failed: %1; trying again in 100 ms");
    row("TLS to the name in the certificate", "mqtts://wattmeter@localhost:%t", "ca.crt", "secret",
        "connected");
    row("TLS with the system's CAs", "mqtts://wattmeter@localhost:%t", "", "secret",
        failed.arg("unable to get local issuer certificate"));
    row("TLS to a name the certificate does not have", "mqtts://wattmeter@localhost:%e", "ca.crt",
        "secret", failed.arg("hostname mismatch"));
    row("TLS to an address the certificate does not name", "mqtts://wattmeter@127.0.0.1:%t",
        "ca.crt", "secret", failed.arg("IP address mismatch"));
    row("TLS to a port without it", "mqtts://wattmeter@localhost:%p", "ca.crt", "secret",
        "TLS: unexpected eof while reading; trying again in 100 ms");
    row("wrong password", "mqtt://wattmeter@127.0.0.1:%p", "", "wrong",
        "refused: not authorized; trying again in 100 ms");
}

void tst_mqtt_client::connects() {
    QFETCH(QString, url);
    QFETCH(QString, ca);
    QFETCH(QByteArray, password);
    QFETCH(QString, expected);
    Client::Settings given = settings(url.replace("%p", QString::number(broker_.port))
                                          .replace("%t", QString::number(broker_.tlsPort))
                                          .replace("%e", QString::number(broker_.elsewherePort)));
    given.caFile = ca.isEmpty() ? ca : broker_.dir.filePath(ca);
    given.password = password;
    Client client(given);
    QSignalSpy reported(&client, &Client::reported);
    announce(client);
    QTRY_COMPARE(reported.size(), 1);
    QCOMPARE(cause(reported, 0), expected);
}

void tst_mqtt_client::stuckBrokerHoldsUpNothing() {
    Broker broker;
    QVERIFY(broker.start());
    broker.signal(SIGSTOP); // takes connections, answers none
    Client client(settings(broker.url()));
    QSignalSpy reported(&client, &Client::reported);
    announce(client);
    QTRY_COMPARE(reported.size(), 1);
    QCOMPARE(cause(reported, 0), "no answer; trying again in 100 ms");
    broker.signal(SIGCONT);
    QTRY_VERIFY(client.isConnected());
    // What waits while it answers nothing again: the latest state, the newest alarms, and of
    // the commands' results every one carried out before the newest refusals.
    Subscriber live(broker);
    broker.signal(SIGSTOP);
    const int sent = 300;
    using Event = mqtt::Outbox::Event;
    for (int i = 0; i < sent; ++i) {
        const QByteArray n = QByteArray::number(i);
        const bool done = i % 6 == 0; // 50 of them
        QVERIFY(client.publishLatest("wattmeter/n1/state", n, true) &&
                client.publishEvent("wattmeter/n1/alarm", "alarm " + n) &&
                client.publishEvent("wattmeter/n1/command/result", (done ? "done " : "no ") + n,
                                    done ? Event::Result : Event::Refusal));
    }
    QCOMPARE(client.eventsDropped(), quint64(sent - mqtt::Outbox::kMaxEvents));
    QCOMPARE(client.resultsDropped(), quint64(sent - mqtt::Outbox::kMaxEvents));
    broker.signal(SIGCONT);
    QVERIFY(live.saw("0 wattmeter/n1/state 299\n") &&
            live.saw("0 wattmeter/n1/alarm alarm 299\n") && live.saw("result no 299\n"));
    QCOMPARE(live.seen.count(" wattmeter/n1/command/result done "), 50);
    QCOMPARE(live.seen.count(" wattmeter/n1/command/result no "), 50);
    // The state on its way when the broker stopped answering, then only the latest.
    QCOMPARE(live.seen.count(" wattmeter/n1/state "), 2);
    broker.signal(SIGSTOP); // a clean stop it never acknowledges is no clean stop
    QVERIFY(!client.stop("wattmeter/n1/availability", "offline", true, 300));
}

void tst_mqtt_client::outboxBounds() {
    // What a stopped broker's test above does not reach: results alone over their bound, and the
    // counts and places kept when the message out comes back or a stop replaces what waits.
    using Event = mqtt::Outbox::Event;
    mqtt::Outbox box;
    const auto drain = [&box] {
        QByteArrayList sent;
        while (const mqtt::Outbox::Message* message = box.takeNext())
            sent << message->payload, box.acknowledge();
        return sent;
    };
    box.putEvent("a", "alarm");
    for (int i = 0; i <= mqtt::Outbox::kMaxEvents; ++i)
        box.putEvent("r", QByteArray::number(i), Event::Result);
    QCOMPARE(drain().first(), "alarm");
    QCOMPARE(box.resultsDropped(), 1u);
    box.replaceWaiting("s", "offline", true);
    box.putLatest("s", "0", true);
    (void)box.takeNext();
    box.returnOut(); // the state out comes back, and a newer one takes its place
    box.putLatest("s", "1", true);
    QCOMPARE(drain(), QByteArrayList{"1"});
    box.putEvent("a", "0");
    (void)box.takeNext();
    box.returnOut(); // an alarm too, counted once
    for (int i = 1; i < mqtt::Outbox::kMaxEvents; ++i)
        box.putEvent("a", QByteArray::number(i));
    QCOMPARE(drain().size(), mqtt::Outbox::kMaxEvents);
    QCOMPARE(box.eventsDropped(), 0u);
}

void tst_mqtt_client::careless_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected"); // a line reported, as a pattern
    const auto row = [](const char* name, const char* script, const char* expected) {
        QTest::newRow(name) << QString(script) << QString(expected);
    };
    row("refuses MQTT 5 in its words", "refuse v5", "does not take MQTT 5; using MQTT 3.1.1");
    row("refuses MQTT 5 as a 3.1.1 broker", "refuse v5 as 3.1.1", "using MQTT 3.1.1\n");
    row("takes the session over", "take over",
        "id wattmeter-n1; give each station its own "
        "--mqtt-node; trying again in 60 s");
    row("sends more than our bound", "oversized", "1048576 bytes on t is over our bound of 64 KB");
    // Whichever comes first on a busy machine: the session ends, and what it held is bounded.
    row("floods us and reads nothing", "flood", "(stopped reading|no answer to keep-alive); try");
}

void tst_mqtt_client::careless() {
    QFETCH(QString, script);
    QFETCH(QString, expected);
    ScriptedBroker broker(script);
    Client::Settings given = settings(broker.url());
    given.keepAliveSeconds = 5;
    Client client(given);
    QString said;
    connect(&client, &Client::reported, this,
            [&said](const QString& line) { said += line + '\n'; });
    int memory = residentMegabytes(), peak = memory; // while it lasts, too
    announce(client);
    const auto sawIt = [&] { // and the peak meanwhile (none is known under AddressSanitizer)
        peak = std::max(peak, residentMegabytes());
        return said.contains(QRegularExpression(expected));
    };
    QTRY_VERIFY_WITH_TIMEOUT(sawIt(), 20000); // a flood fills the buffers first
    QVERIFY2(peak - memory < 10, qPrintable(QString::number(peak - memory)));
    if (script.startsWith("refuse v5"))
        QTRY_VERIFY(client.isConnected() && broker.versions == QList<int>({5, 4}));
    QCOMPARE(client.oversizedDropped(), quint64(script == "oversized"));
}

QTEST_GUILESS_MAIN(tst_mqtt_client)
#include "tst_mqtt_client.moc"
