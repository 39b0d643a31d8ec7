// The station on a real mosquitto: what a subscriber sees of it (availability, the retained
// state, Home Assistant's discovery), commands from the broker through the window's rules, the
// program killed, and a stuck broker that holds up nothing.
#include "mqtt/bridge.h"
#include "mqtt/outbox.h"
#include "support/broker.h"
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include <csignal>

namespace {

template <typename Serial>
std::unique_ptr<mqtt::Bridge> bridge(const Broker& broker, Window<Serial>& w, bool control) {
    qputenv("WATTMETER_MQTT_PASSWORD", "secret");
    QString error;
    auto started = mqtt::Bridge::start({broker.url(), {}, {}, "n1", control}, w.station,
                                       w.monitor->commands(), error);
    if (!started)
        qFatal("%s", qPrintable(error));
    return started;
}

// The payloads of the lines a subscriber saw whose retain flag and topic start so.
QList<QByteArray> payloads(const QByteArray& seen, const QByteArray& start) {
    QList<QByteArray> found;
    for (const QByteArray& line : seen.split('\n'))
        if (line.startsWith(start))
            found << line.mid(line.indexOf(' ', 2) + 1);
    return found;
}

bool publish(const Broker& broker, const QStringList& arguments, const QByteArray& lines = {},
             const QString& topic = "wattmeter/n1/command") {
    QProcess pub;
    pub.start("mosquitto_pub", broker.observer() + QStringList{"-t", topic} + arguments);
    pub.write(lines);
    pub.closeWriteChannel();
    return pub.waitForFinished(5000) && pub.exitCode() == 0;
}

} // namespace

class tst_mqtt_bridge : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(broker_.start()); }
    void publishesTheStation();
    void commands_data();
    void commands();
    void theProgram();
    void stuckBrokerHoldsUpNothing();
    void homeAssistantRestartsInABurst();

private:
    Broker broker_;
};

void tst_mqtt_bridge::publishesTheStation() {
    Subscriber live(broker_);
    LiveWindow w;
    const auto b = bridge(broker_, w, false);
    QSet<QString> forward; // every forward power the window showed
    connect(&w.part<QLineEdit>("txtForward"), &QLineEdit::textChanged, this,
            [&](const QString& text) {
                if (!text.isEmpty())
                    forward << text;
            });
    QVERIFY(w.loadWithSimulator());
    w.part<QAction>("mnuPoll1").trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!forward.isEmpty(), 5000);
    Subscriber later(broker_); // what is kept for whoever comes later
    QVERIFY(later.saw("1 wattmeter/n1/availability online\n") && later.saw("1 wattmeter/n1/state"));
    const QJsonObject state =
        QJsonDocument::fromJson(payloads(later.seen, "1 wattmeter/n1/state").last()).object();
    QVERIFY2(forward.contains(state["texts"]["forward"].toString()),
             qPrintable(state["time"].toString()));
    QCOMPARE(state["forward_w"].toDouble(), state["texts"]["forward"].toString().toDouble());

    // Every entity of the device, with what Home Assistant needs of it.
    QVERIFY(live.saw("homeassistant/sensor/wattmeter_n1/last_alarm/config"));
    int entities = 0;
    for (const QByteArray& config : payloads(later.seen, "1 homeassistant/")) {
        const QJsonObject o = QJsonDocument::fromJson(config).object();
        QVERIFY2(o["state_topic"].toString().startsWith("wattmeter/n1/") &&
                     o["unique_id"].toString().startsWith("wattmeter_n1_") &&
                     (o["availability_topic"] == "wattmeter/n1/availability" ||
                      o["availability"][0]["topic"] == "wattmeter/n1/availability") &&
                     o["device"]["identifiers"][0] == "wattmeter_n1" &&
                     o["origin"]["name"] == "Vorlan Wattmeter" && o.contains("name") &&
                     (o["expire_after"] == 180 || o["state_topic"] == "wattmeter/n1/alarm"),
                 config.constData());
        ++entities;
    }
    QCOMPARE(entities, 13);
    // How Home Assistant shows them: the digits, what tells of the line or sets the station,
    // and Reset as a restart.
    QMap<QByteArray, QJsonObject> entity;
    for (const auto& [where, payload] : mqtt::Bridge::discovery("n1", true))
        entity[where.split('/').value(3)] = QJsonDocument::fromJson(payload).object();
    QCOMPARE(entity["forward_power"]["suggested_display_precision"], 0);
    QCOMPARE(entity["vswr"]["suggested_display_precision"], 2);
    QCOMPARE(entity["total_current"]["suggested_display_precision"], 2);
    QCOMPARE(entity["port_up"]["entity_category"], "diagnostic");
    QCOMPARE(entity["polling"]["entity_category"], "config");
    QCOMPARE(entity["reset"]["device_class"], "restart");
    // Without control, no buttons or switches are left behind.
    for (const char* config : {"button/wattmeter_n1/reset", "switch/wattmeter_n1/polling"})
        QVERIFY(live.saw(QByteArray(" homeassistant/") + config + "/config \n"));
    QVERIFY(!later.seen.contains("homeassistant/button"));
    // Home Assistant back, and the broker back: all of it again.
    const auto configs = [&] { return live.all().count("wattmeter_n1/forward_power/config"); };
    QVERIFY(run("mosquitto_pub",
                broker_.observer() + QStringList{"-t", "homeassistant/status", "-m", "online"}));
    QTRY_COMPARE(configs(), 2);
    broker_.stop();
    QVERIFY(broker_.start());
    QVERIFY(Subscriber(broker_).saw(" wattmeter/n1/state", 10000));
}

void tst_mqtt_bridge::commands_data() {
    QTest::addColumn<bool>("control");
    QTest::addColumn<QStringList>("publish"); // mosquitto_pub's options; "-l", "-s" read the lines
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("line"); // what the amplifier receives
    QTest::addColumn<QList<QByteArray>>("results");
    const QByteArray sent = R"({"command":"STATUS","result":"sent"})";
    const QByteArray tooFast = R"({"command":"STATUS","reason":"too fast","result":"refused"})";
    const auto row = [](const char* name, bool control, const QStringList& publish,
                        const QByteArray& line, const QList<QByteArray>& results,
                        const QByteArray& lines = {}) {
        QTest::newRow(name) << control << publish << lines << line << results;
    };
    const QStringList reset{"-m", "RESET"};
    row("reset, with control", true, reset, "RESET\r", {R"({"command":"RESET","result":"sent"})"});
    row("reset, without control", false, reset, {}, {});
    row("a reset kept on the broker", true, QStringList{"-r"} + reset, {}, {});
    row("a byte-order mark before POWER", true, {"-s"}, {},
        {R"({"command":"\\xef\\xbb\\xbfPOWER","reason":"unknown command","result":"refused"})"},
        "\xEF\xBB\xBFPOWER");
    row("a burst of twenty", true, {"-l"}, QByteArray("STATUS\r").repeated(5),
        QList<QByteArray>(5, sent) + QList<QByteArray>(15, tooFast),
        QByteArray("STATUS\n").repeated(20));
}

void tst_mqtt_bridge::commands() {
    QFETCH(bool, control);
    QFETCH(QStringList, publish);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, results);
    const bool kept = publish.contains("-r");
    if (kept) // there before the program subscribes, so it comes with the retain flag
        QVERIFY(::publish(broker_, publish));
    Subscriber live(broker_);
    LiveWindow w;
    Pty pty;
    QVERIFY(w.load(pty, 1));
    const auto b = bridge(broker_, w, control);
    QVERIFY(live.saw("wattmeter/n1/availability online"));
    if (!kept)
        QVERIFY(::publish(broker_, publish, lines));
    QTRY_COMPARE(payloads(live.all(), "0 wattmeter/n1/command/result"), results);
    // What reaches the line: all of it, and nothing that should not, once the broker has
    // delivered the command (or a command that should not count) and the window has written.
    QTest::qWait(300);
    QCOMPARE(pty.read(line.size() + 1, 300), line);
    if (kept)
        QVERIFY(::publish(broker_, {"-r", "-n"})); // the next test finds none
}

void tst_mqtt_bridge::theProgram() {
    // A URL that cannot work ends the program at start; a good one publishes, and the broker
    // says "offline" for a program that was killed.
    TempSettings settings;
    QProcess program;
    qputenv("WATTMETER_MQTT_PASSWORD", "secret"); // the program's environment
    program.start(WATTMETER_PATH, {"--mqtt", "mqtt://u:pw@h", "-platform", "offscreen"});
    QVERIFY(program.waitForFinished(10000) && program.exitCode() == 2);
    QVERIFY(program.readAllStandardError().endsWith(
        "\nwattmeter: MQTT: a password does not belong in the URL\n"));
    // A password in the clear to another machine is said once; a name that never resolves
    // keeps the attempt on this machine.
    program.start(WATTMETER_PATH, {"--mqtt", "mqtt://u@broker.invalid", "-platform", "offscreen"});
    QByteArray said;
    QTRY_VERIFY((said += program.readAllStandardError()).contains("broker.invalid"));
    QCOMPARE(said.count("wattmeter: MQTT: the password goes to broker.invalid unencrypted"), 1);
    program.kill();
    program.waitForFinished();
    Subscriber live(broker_);
    program.start(WATTMETER_PATH,
                  {"--mqtt", broker_.url(), "--mqtt-node", "n1", "-platform", "offscreen"});
    QVERIFY(live.saw("wattmeter/n1/availability online"));
    program.kill();
    QVERIFY(live.saw("wattmeter/n1/availability offline"));
}

void tst_mqtt_bridge::stuckBrokerHoldsUpNothing() {
    // Readings and alarms flow while the broker answers nothing: the window's turns stay short
    // and what waits for the broker stays bounded; once it answers, the latest state goes out,
    // saying how many alarms were dropped meanwhile, after the alarms kept. Stopping while it
    // answers nothing gives up after its one second.
    WindowFixture f;
    Subscriber live(broker_);
    const auto b = bridge(broker_, f, false);
    QTRY_VERIFY(f.station.bus().connected);
    broker_.signal(SIGSTOP);
    const int memory = residentMegabytes();
    QElapsedTimer flow, turn;
    int slowTurns = 0;
    for (flow.start(); !flow.hasExpired(15000);) {
        turn.start();
        f.receiveAndTick("FWD: 850 REV: 12\rHIGH VSWR\r");
        QCoreApplication::processEvents();
        slowTurns += turn.elapsed() >= 100;
    }
    QVERIFY2(slowTurns <= 5, qPrintable(QString::number(slowTurns)));
    QVERIFY(residentMegabytes() - memory < 10);
    broker_.signal(SIGCONT);
    const auto dropped = [&] {
        const QList<QByteArray> states = payloads(live.all(), "0 wattmeter/n1/state");
        return states.isEmpty()
                   ? 0
                   : QJsonDocument::fromJson(states.last())["mqtt_alarms_dropped"].toInt();
    };
    QTRY_VERIFY_WITH_TIMEOUT(dropped() > 0, 10000);
    const auto alarms = [&] { return live.all().count(" wattmeter/n1/alarm "); };
    QTRY_VERIFY(alarms() >= mqtt::Outbox::kMaxEvents); // and one on its way at most
    QVERIFY(alarms() <= mqtt::Outbox::kMaxEvents + 1);
    broker_.signal(SIGSTOP);
    flow.start();
    b->stop();
    QVERIFY(flow.elapsed() < 2000);
    broker_.signal(SIGCONT);
}

void tst_mqtt_bridge::homeAssistantRestartsInABurst() {
    // 10,000 "online" from Home Assistant cost little: the discovery goes out for the first, once
    // more at the end of its hold for all the others, and again for one after the hold.
    WindowFixture f;
    Subscriber live(broker_);
    const auto b = bridge(broker_, f, false);
    b->setDiscoveryHold(std::chrono::milliseconds(3000)); // longer than the burst takes
    const auto published = [&] {
        return live.all().count("0 homeassistant/sensor/wattmeter_n1/vswr/config "); // not kept
    };
    QTRY_COMPARE(published(), 1); // the session's
    QTest::qWait(3100);           // beyond the session discovery's hold
    const std::clock_t cpu = std::clock();
    QVERIFY(
        ::publish(broker_, {"-l"}, QByteArray("online\n").repeated(10000), "homeassistant/status"));
    QTRY_COMPARE_WITH_TIMEOUT(published(), 3, 6000);
    QVERIFY(double(std::clock() - cpu) / CLOCKS_PER_SEC < 1);
    QTest::qWait(3200); // a further hold: nothing more may go out
    QCOMPARE(published(), 3);
    QVERIFY(::publish(broker_, {"-m", "online"}, {}, "homeassistant/status"));
    QTRY_COMPARE(published(), 4);
}

QTEST_MAIN(tst_mqtt_bridge)
#include "tst_mqtt_bridge.moc"
