// The station on a real mosquitto: what a subscriber sees of it (availability, the retained
// state, Home Assistant's discovery), commands from the broker through the window's rules, the
// program killed, and a stuck broker that holds up nothing.
#include "mqtt/bridge.h"
#include "mqtt/outbox.h"
#include "support/broker.h"
#include "support/pty.h"
#include "support/window_fixture.h"
#include "telemetry/protocol.h"

#include <QJsonArray>
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
    auto started = mqtt::Bridge::start({broker.url(), {}, {}, "n1", control, {}}, w.station,
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

// The keys Home Assistant's MQTT discovery takes (it drops others without a word), those of every
// entity under "", of its maps and of each platform, a * before each it needs; and the values it
// takes where they are few.
const QMap<QString, QString> kKeys{
    {"", "availability availability_mode availability_template availability_topic device "
         "enabled_by_default encoding entity_category entity_picture icon json_attributes_template "
         "json_attributes_topic *name object_id *origin qos *unique_id"},
    {"availability", "*topic value_template payload_available payload_not_available"},
    {"device", "*identifiers connections configuration_url hw_version manufacturer model name "
               "serial_number suggested_area sw_version via_device"},
    {"origin", "*name sw_version support_url"},
    {"sensor", "*state_topic value_template device_class expire_after force_update options "
               "last_reset_value_template state_class suggested_display_precision "
               "unit_of_measurement"},
    {"binary_sensor", "*state_topic value_template device_class expire_after force_update "
                      "off_delay payload_on payload_off"},
    {"button", "*command_topic command_template device_class payload_press retain"},
    {"switch", "*command_topic state_topic value_template command_template device_class "
               "optimistic payload_on payload_off state_on state_off retain"},
    {"event", "*state_topic *event_types value_template device_class"}};
const QMap<QString, QString> kValues{
    {"availability_mode", "all any latest"},
    {"entity_category", "config diagnostic"},
    {"sensor/entity_category", "diagnostic"},
    {"binary_sensor/entity_category", "diagnostic"},
    {"sensor/state_class", "measurement total total_increasing"},
    {"binary_sensor/device_class",
     "battery battery_charging carbon_monoxide cold connectivity door garage_door gas heat light "
     "lock moisture motion moving occupancy opening plug power presence problem running safety "
     "smoke sound tamper update vibration window"},
    {"button/device_class", "identify restart update"},
    {"switch/device_class", "outlet switch"},
    {"event/device_class", "button doorbell motion"}};

void checkKeys(const QString& platform, const QString& map, const QJsonObject& o) {
    const QString keys = kKeys[map] + ' ' + (map.isEmpty() ? kKeys[platform] : QString());
    for (const QString& key : keys.split(' ', Qt::SkipEmptyParts))
        QVERIFY2(!key.startsWith('*') || o.contains(key.mid(1)), qPrintable(platform + key));
    for (auto it = o.begin(); it != o.end(); ++it) {
        QVERIFY2(QString(keys).remove('*').split(' ').contains(it.key()), qPrintable(it.key()));
        const QString values = kValues.value(platform + '/' + it.key(), kValues.value(it.key()));
        QVERIFY2(values.isEmpty() || values.split(' ').contains(it->toString()),
                 qPrintable(platform + '/' + it.key() + ": " + it->toString()));
        for (const QJsonValue inner : it->isArray() ? it->toArray() : QJsonArray{*it})
            if (inner.isObject())
                checkKeys(platform, it.key(), inner.toObject());
    }
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
    void aFloodOfCommandsAndAnAlarm();
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

    // Every entity of the device, kept on the broker.
    QVERIFY(live.saw("homeassistant/sensor/wattmeter_n1/last_alarm/config"));
    QTRY_COMPARE(payloads(later.all(), "1 homeassistant/").size(), 18);
    // How Home Assistant takes them: keys and values its schemas accept, and templates that
    // render what the platform takes from the state above, alarms known and unknown, and command
    // results.
    const QByteArray now = payloads(later.seen, "1 wattmeter/n1/state").last();
    const QMap<QString, QByteArrayList> samples{
        {"wattmeter/n1/state", {now}},
        {"wattmeter/n1/alarm", {R"({"text":"SUM OF CURRENT > 100.00 AMPS"})", R"({"text":"NEW"})"}},
        {"wattmeter/n1/command/result",
         {R"({"command":"RESET","result":"sent"})",
          R"({"command":"STATUS","result":"refused","reason":"too fast","count":15})"}}};
    QList<std::pair<QString, QByteArray>> templates;
    QList<QJsonObject> of; // the entity of each template
    for (const auto& [where, payload] : mqtt::Bridge::discovery("n1", true, "http://shack/")) {
        QJsonObject o = QJsonDocument::fromJson(payload).object();
        checkKeys(where.split('/').value(1), {}, o);
        QVERIFY2((!o.contains("state_topic") || samples.contains(o["state_topic"].toString())) &&
                     (o["availability_topic"] == "wattmeter/n1/availability" ||
                      o["availability"][0]["topic"] == "wattmeter/n1/availability"),
                 payload.constData());
        o["platform"] = QString(where.split('/').value(1));
        for (const QByteArray& sample : samples.value(o["state_topic"].toString()))
            templates << std::pair(o["value_template"].toString(), sample), of << o;
        if (o.contains("availability"))
            templates << std::pair(o["availability"][1]["value_template"].toString(), now),
                of << QJsonObject{{"platform", "availability"}};
    }
    const QStringList rendered = render(templates);
    QMap<QString, QStringList> shown; // by entity: its states, or its event types
    for (qsizetype i = 0; i < templates.size(); ++i) {
        const QString v = rendered.value(i, "none rendered");
        const QJsonObject& o = of[i];
        const QJsonValue event = QJsonDocument::fromJson(v.toUtf8())["event_type"];
        bool number = false;
        v.toDouble(&number);
        const QMap<QString, bool> takes{
            {"availability", v == (state["readings_live"].toBool() ? "online" : "offline")},
            {"binary_sensor", v == "ON" || v == "OFF" || v == "None"},
            {"switch", v == o["state_on"] || v == o["state_off"]},
            {"event", o["event_types"].toArray().contains(event)},
            {"sensor", v == "None" || (o.contains("options") ? o["options"].toArray().contains(v)
                                       : o["device_class"] == "timestamp"
                                           ? QDateTime::fromString(v, Qt::ISODate).isValid()
                                       : o.contains("state_class") ? number
                                                                   : !v.isEmpty())}};
        QVERIFY2(takes[o["platform"].toString()], qPrintable(o["name"].toString() + ": " + v));
        shown[o["name"].toString()] << (event.isString() ? event.toString() : v);
    }
    QCOMPARE(shown["Alarm"], (QStringList{"sum_of_current_over_100_a", "other"}));
    QCOMPARE(shown["Last command"],
             (QStringList{"RESET: sent", "STATUS: refused (too fast, 15 times)"}));
    // Without control, no buttons or switches are left behind.
    for (const char* config : {"button/wattmeter_n1/reset", "switch/wattmeter_n1/polling"})
        QVERIFY(live.saw(QByteArray(" homeassistant/") + config + "/config \n"));
    QVERIFY(!later.seen.contains("homeassistant/button"));
    // The broker back: all of it again (Home Assistant back is homeAssistantRestartsInABurst's).
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

void tst_mqtt_bridge::aFloodOfCommandsAndAnAlarm() {
    // 1,000 commands within a second, and an alarm from the amplifier among them: five reach the
    // line, each with its result; the first refusal says so, the rest are summed up; the alarm is
    // published, and no alarm is dropped.
    WindowFixture f;
    f.station.setClock([] { return qint64(1000); }); // all of them within the second
    (void)f.monitor->choosePort(1);
    Subscriber live(broker_);
    const auto b = bridge(broker_, f, true);
    QVERIFY(live.saw("wattmeter/n1/availability online"));
    QProcess pub;
    pub.start("mosquitto_pub",
              broker_.observer() + QStringList{"-t", "wattmeter/n1/command", "-l"});
    pub.write(QByteArray("STATUS\n").repeated(500));
    QVERIFY(pub.waitForBytesWritten() && live.saw("wattmeter/n1/command/result"));
    f.receiveAndTick("HIGH VSWR\r");
    pub.write(QByteArray("STATUS\n").repeated(500));
    pub.closeWriteChannel();
    int sent = 0;
    QByteArrayList results;
    const auto told = [&] { // commands told of, each sum with its count
        results = payloads(live.all(), "0 wattmeter/n1/command/result");
        int all = sent = 0;
        for (const QByteArray& result : results) {
            const QJsonObject o = QJsonDocument::fromJson(result).object();
            sent += o["result"] == "sent";
            all += o["count"].toInt(1);
        }
        return all;
    };
    QTRY_COMPARE_WITH_TIMEOUT(told(), 1000, 10000);
    QCOMPARE(sent, 5);
    QCOMPARE(f.serial->written(), QByteArray("STATUS\r").repeated(5));
    QVERIFY(results.size() < 20); // a sum a second
    QCOMPARE(payloads(live.all(), "0 wattmeter/n1/alarm").size(), 1);
    const QByteArray state = payloads(live.all(), "0 wattmeter/n1/state").last();
    QCOMPARE(QJsonDocument::fromJson(state)["mqtt_alarms_dropped"], 0);
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
