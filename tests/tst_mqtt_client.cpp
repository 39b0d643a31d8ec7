// The MQTT options' rules: the broker URL, the node id and the password.
#include "mqtt/options.h"

#include <QTemporaryDir>
#include <QTest>

class tst_mqtt_client : public QObject {
    Q_OBJECT
private slots:
    void brokerUrl_data();
    void brokerUrl();
    void nodeId_data();
    void nodeId();
    void password();
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
    row("empty host", "mqtt://", "no host");
    row("bad host character", "mqtt://h!st", "bad host name");
    row("host starts with a dot", "mqtt://.h", "bad host name");
    row("IPv6 without brackets", "mqtt://::1", "an IPv6 address needs brackets");
    row("unclosed bracket", "mqtt://[::1", "bad IPv6 address");
    row("junk after the bracket", "mqtt://[::1]x", "bad port");
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
    const auto row = [](const char* name, const QString& given, const char* fromHost) {
        QTest::newRow(name) << given << QString(fromHost);
    };
    row("already safe", "shack_2-a", "shack_2-a");
    row("capitals, domain and topic characters", "Pi.local/+#", "pi-local---");
    row("non-ASCII", "k\u00f6ln", "k-ln");
    row("empty", "", "wattmeter");
}

void tst_mqtt_client::nodeId() {
    QFETCH(QString, given);
    QFETCH(QString, fromHost);
    QCOMPARE(mqtt::nodeIdFromHostName(given), fromHost);
    QCOMPARE(mqtt::isValidNodeId(given), given == fromHost);
}

void tst_mqtt_client::password() {
    QTemporaryDir dir;
    QFile file(dir.filePath("pw"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("pw 1\r\nsecond\n") && file.flush());
    std::optional<QByteArray> password;
    QString error;
    qputenv("WATTMETER_MQTT_PASSWORD", "env"); // the file comes first
    QVERIFY(mqtt::readPassword(file.fileName(), password, error) && password == "pw 1");
    QVERIFY(mqtt::readPassword({}, password, error) && password == "env");
    qunsetenv("WATTMETER_MQTT_PASSWORD");
    QVERIFY(mqtt::readPassword({}, password, error) && !password);
    QVERIFY(!mqtt::readPassword(dir.filePath("missing"), password, error));
}

QTEST_GUILESS_MAIN(tst_mqtt_client)
#include "tst_mqtt_client.moc"
