// Every surface follows the station, which hears the line through the engine, with no window:
// port transitions, silence, live or stale readings with the reason; and over-power while the
// window's box waits. The surfaces are the journal, the notifications, the dashboard's state and
// metrics, and what the MQTT bridge publishes.
#include "app/journal.h"
#include "app/notifier.h"
#include "app/station_json.h"
#include "dashboard/station_view.h"
#include "mqtt/bridge.h"
#include "support/broker.h"
#include "support/pty.h"
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>

namespace {

class RecordingNotifier : public app::Notifier {
public:
    QStringList shown; // the bodies, without their time of day
protected:
    void show(const QString& body, Urgency, Slot) override { shown << body.section(" - ", 1); }
};

// The surfaces, following one station.
struct Surfaces {
    QTemporaryDir folder;
    std::unique_ptr<app::Journal> journal;
    RecordingNotifier notifier;
    dashboard::StationView view;

    explicit Surfaces(app::Station& station)
        : journal(app::Journal::open(folder.filePath("journal.csv"), nullptr)), view(station) {
        journal->follow(station);
        notifier.follow(station);
    }
    // The journal's lines without their times.
    QStringList journalLines() {
        QFile file(folder.filePath("journal.csv"));
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line :
                 QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                lines << line.mid(25);
        return lines;
    }
    QString last(const char* kind) {
        const QStringList lines = journalLines().filter(QRegularExpression(QString("^") + kind));
        return lines.isEmpty() ? QString() : lines.last();
    }
    QJsonObject state() { return QJsonDocument::fromJson(view.stateJson()).object(); }
};

// Home Assistant's availability of a numeric sensor against the state, with the program online.
QString availability(const QJsonObject& state) {
    for (const auto& [topic, payload] : mqtt::Bridge::discovery("n1", false)) {
        const QJsonObject config = QJsonDocument::fromJson(payload).object();
        if (topic.endsWith("/forward_power/config"))
            return config["availability_mode"] != "all"
                       ? "not all"
                       : render({{config["availability"][1]["value_template"].toString(),
                                  QJsonDocument(state).toJson()}})
                             .value(0);
    }
    return "no sensor";
}

} // namespace

class tst_surfaces : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(broker_.start()); }
    void portTransitions_data();
    void portTransitions();
    void staleReasons_data();
    void staleReasons();
    void overPowerReachesEverySurfaceWhileTheBoxWaits();
    void journalThatCannotWrite();
    void brokerThatRefusesThenGoes();

private:
    Broker broker_;
};

void tst_surfaces::portTransitions_data() {
    QTest::addColumn<QString>("journal"); // the last port line; a prefix for a loss
    QTest::addColumn<QString>("notified");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("open");
    const auto row = [](const char* name, const char* port, bool open, const char* journal,
                        const char* notified = "") {
        QTest::newRow(name) << QString(journal) << QString(notified) << QString(port) << open;
    };
    row("opened", "COM2", true, "port,COM2,opened");
    row("failed", "COM3", false,
        "port,COM3,failed,COM3 could not be opened: No such file or directory");
    row("closed", "COM2", false, "port,COM2,closed");
    row("not reopened", "COM2", false, "port,COM2,not reopened,not a tty",
        "COM2 cannot be reopened");
    row("lost", "COM2", false, "port,COM2,lost,gone", "COM2 was lost");
    row("reopened", "COM2", true, "port,COM2,reopened", "COM2 was lost|COM2 is back");
    row("waited for", "COM3", true, "port,COM3,reopened", "COM3 is back");
}

void tst_surfaces::portTransitions() {
    QFETCH(QString, journal);
    QFETCH(QString, notified);
    QFETCH(QString, port);
    QFETCH(bool, open);
    const QString row = QTest::currentDataTag();
    // The device going and coming as the serial component reports it (the real one on a
    // simulator that pulls its device is tst_service's and tst_serial_port's).
    Engine<FakeSerial> f;
    Surfaces surfaces(f.station);
    f.serial->refusedPorts = {3};
    (void)f.monitor->choosePort(row == "failed" || row == "waited for" ? 3 : 2);
    if (row == "closed")
        f.monitor->closePort();
    if (row == "not reopened")
        emit f.serial->reopenFailed("not a tty");
    if (row == "lost" || row == "reopened") {
        f.serial->setOpen(false);
        emit f.serial->deviceLost("gone");
    }
    if (row == "reopened" || row == "waited for") {
        f.serial->setOpen(true);
        emit f.serial->reopened();
        QVERIFY(f.monitor->commands().runRemote("STATUS")); // the port counts as chosen
    }
    QVERIFY2(surfaces.last("port,").startsWith(journal), qPrintable(surfaces.last("port,")));
    QCOMPARE(surfaces.notifier.shown.join('|'), notified);
    const QJsonObject state = surfaces.state();
    QCOMPARE(state["port"].toString(), port);
    QCOMPARE(state["port_open"].toBool(), open);
    const QString up = QString("wattmeter_port_up{port=\"%1\"} %2\n").arg(port).arg(int(open));
    QVERIFY2(surfaces.view.metrics().contains(up.toUtf8()), qPrintable(up));
}

void tst_surfaces::staleReasons_data() {
    QTest::addColumn<QString>("reason"); // null while live
    QTest::addColumn<QString>("asked");  // what goes out to the amplifier, on COM1
    const auto row = [](const char* name, const char* reason, const char* asked = "") {
        QTest::newRow(name) << QString(reason) << QString(asked);
    };
    for (const char* reason : app::kStaleReasons)
        row(reason, reason, QByteArray(reason) == "amplifier silent" ? "button" : "");
    QTest::newRow("live") << QString() << QString();
    // What else starts the silence clock, and what does not.
    row("silent after the start-up reset", "amplifier silent", "start");
    row("silent after an automatic poll", "amplifier silent", "poll");
    row("a typed key asks nothing", "amplifier not asked", "key");
    row("the button on a port closed since", "port closed", "closed");
}

void tst_surfaces::staleReasons() {
    QFETCH(QString, reason);
    QFETCH(QString, asked);
    Engine<FakeSerial> f;
    Surfaces surfaces(f.station);
    f.station.setSilenceAfter(std::chrono::milliseconds(50));
    f.station.setStaleAfter(std::chrono::milliseconds(300));
    const auto says = [&] {
        const QJsonObject state = surfaces.state();
        QCOMPARE(state["readings_live"].toBool(), reason.isNull());
        QCOMPARE(state["readings_stale_because"].toString(), reason);
        QCOMPARE(state["amplifier"] == "silent", reason == "amplifier silent");
        QCOMPARE(app::stateJson(f.station)["readings_live"], state["readings_live"]); // MQTT's
        QCOMPARE(availability(state), reason.isNull() ? "online" : "offline");
        const QString live = QString("wattmeter_readings_live %1\n").arg(int(reason.isNull()));
        QVERIFY2(surfaces.view.metrics().contains(live.toUtf8()), qPrintable(live));
        QCOMPARE(surfaces.last("live,"), reason.isNull() ? "live,yes" : "live,no," + reason);
    };
    f.settings.set("port", "1");
    if (asked == "start")
        f.monitor->loadStoredPort();
    else
        (void)f.monitor->choosePort(1);
    app::CommandPath& commands = f.monitor->commands();
    if (reason == "port closed")
        f.monitor->closePort();
    if (asked == "button" || asked == "closed")
        commands.run(app::Command::Status, app::Origin::Button);
    if (asked == "poll") {
        commands.run(app::Command::PollOn, app::Origin::Button);
        f.monitor->Timer1_Timer();
        f.monitor->Timer1_Timer();
    }
    if (asked == "key")
        (void)commands.send("S", app::Origin::Key);
    QCOMPARE(f.serial->written().isEmpty(), asked.isEmpty() || asked == "closed");
    if (reason == "over-power warning") { // behind the window's box, the reading ages
        auto* boxes = new RecordingMessageBox;
        ui::frmWattmeter window(*f.monitor, std::unique_ptr<app::MessageBox>(boxes));
        boxes->onShow = [&] {
            QTRY_COMPARE(surfaces.state()["readings_stale_because"].toString(), reason);
            says();
        };
        f.receiveAndTick("FWD: 850 \rPWR FWD ABOVE 1100\r");
        QCOMPARE(boxes->shown.size(), 1);
        return;
    }
    if (reason == "no recent reading" || reason.isNull())
        f.receiveAndTick("FWD: 850 ");
    if (!asked.isEmpty())
        QTest::qWait(200); // four times the silence's limit: long enough to fall silent, if at all
    QTRY_COMPARE(surfaces.state()["readings_stale_because"].toString(), reason);
    says();
    if (reason != "amplifier silent")
        return;
    // A silence, and its end, on the surfaces that say so in words of their own.
    const auto answering = [&](const char* is, const char* notified) {
        QCOMPARE(surfaces.state()["amplifier"].toString(), is);
        QCOMPARE(surfaces.last("amplifier,"), QString("amplifier,") + is);
        QVERIFY(surfaces.view.metrics().contains(
            QString("wattmeter_amplifier_answering %1\n").arg(int(is[0] == 'a')).toUtf8()));
        QCOMPARE(surfaces.notifier.shown.last(), notified);
    };
    answering("silent", "COM1: no reply from the amplifier");
    f.serial->receive("x");
    answering("answering", "COM1: the amplifier answers again");
}

void tst_surfaces::overPowerReachesEverySurfaceWhileTheBoxWaits() {
    // The box is left open: what the amplifier says meanwhile reaches every surface once the
    // line goes quiet, with the time of the scan that found it; the window shows it after OK.
    WindowFixture f;
    Surfaces surfaces(f.station);
    surfaces.notifier.setInterval(std::chrono::milliseconds(3000));
    QTime now(16, 7, 51);
    f.monitor->setClock([&now] { return now; });
    qputenv("WATTMETER_MQTT_PASSWORD", "secret");
    QString error;
    Subscriber alarms(broker_);
    const auto bridge = mqtt::Bridge::start({broker_.url(), {}, {}, "n1", false, {}}, f.station,
                                            f.monitor->commands(), error);
    QVERIFY2(bridge, qPrintable(error));
    (void)f.monitor->choosePort(1); // the tick now comes 500 ms after the line goes quiet
    const auto everywhere = [&](const char* alarm, int count) {
        QTRY_COMPARE_WITH_TIMEOUT(surfaces.journalLines().filter(alarm).size(), count, 2000);
        const QJsonArray listed = surfaces.state()["alarms"].toArray();
        QCOMPARE(listed.last()["text"].toString(), alarm);
        const QString counted = QString("wattmeter_alarms_total{alarm=\"%1\"} %2\n").arg(alarm);
        QVERIFY(surfaces.view.metrics().contains(counted.arg(count).toUtf8()));
        QVERIFY(alarms.saw(QString("wattmeter/n1/alarm {\"text\":\"%1\"").arg(alarm).toUtf8()));
    };
    const auto pane = [&] { return ui::paneText(f.part<QPlainTextEdit>("txtAlarms")); };
    bool openAtTheSecond = false;
    f.boxes->onShow = [&] {
        if (f.boxes->shown.size() > 1) { // the warning stays open until its last box is answered
            openAtTheSecond = f.station.overPowerWarning().open;
            return;
        }
        everywhere("PWR FWD ABOVE 1100", 1);
        QCOMPARE(surfaces.state()["over_power_warning_open_since"].toString().isEmpty(), false);
        now = now.addSecs(10);
        f.serial->receive("HIGH VSWR\r");
        everywhere("HIGH VSWR", 1);
        now = now.addSecs(5);
        f.serial->receive("PWR FWD ABOVE 1100\r");
        everywhere("PWR FWD ABOVE 1100", 2);
        QCOMPARE(pane(), "");
        now = now.addSecs(30);
    };
    f.serial->receive("PWR FWD ABOVE 1100\r");
    QTRY_COMPARE(pane(), "16:07:51 - PWR FWD ABOVE 1100\r\n16:08:01 - HIGH VSWR\r\n"
                         "16:08:06 - PWR FWD ABOVE 1100\r\n");
    QVERIFY(f.boxes->shown.size() == 2 && openAtTheSecond &&
            !f.station.overPowerWarning().open); // both boxes answered
    QTRY_COMPARE_WITH_TIMEOUT(
        surfaces.notifier.shown,
        (QStringList{"PWR FWD ABOVE 1100", "HIGH VSWR", "PWR FWD ABOVE 1100 (1 more)"}), 5000);
}

void tst_surfaces::journalThatCannotWrite() {
    Engine<FakeSerial> f;
    Surfaces surfaces(f.station);
    const auto full = app::Journal::open("/dev/full", nullptr);
    full->follow(f.station);
    (void)f.monitor->choosePort(1); // a line to write, and the readings' state
    const QJsonObject state = surfaces.state();
    QCOMPARE(state["journal"].toString(), "failing");
    QCOMPARE(state["journal_lines_waiting"].toInt(), 2);
    QVERIFY(surfaces.view.metrics().contains("wattmeter_journal_failing 1\n"));
    QCOMPARE(surfaces.notifier.shown,
             QStringList{"full cannot be written: No space left on device"});
}

void tst_surfaces::brokerThatRefusesThenGoes() {
    // The access list refuses this node's topics, which MQTT 5 tells, and 50 MB wait on a topic
    // it takes, which MQTT 5's bound keeps from it; then the broker is lost and back.
    Engine<FakeSerial> f;
    Surfaces surfaces(f.station);
    const QStringList journal = surfaces.journalLines();
    const QString status =
        "mosquitto_pub -t homeassistant/status -r " + broker_.observer().join(' ');
    QVERIFY(run("sh", {"-c", "head -c 50000000 /dev/zero | " + status + " -s"}));
    const int memory = residentMegabytes();
    qputenv("WATTMETER_MQTT_PASSWORD", "secret");
    QString error;
    const auto bridge = mqtt::Bridge::start({broker_.url(), {}, {}, "n2", false, {}}, f.station,
                                            f.monitor->commands(), error);
    // The availability and the state refused, once each: a refusal republishes nothing.
    QTRY_VERIFY(f.station.bus().publishRefused == 2 &&
                broker_.log.contains("too large outgoing PUBLISH"));
    QVERIFY(residentMegabytes() - memory < 10 && run("sh", {"-c", status + " -n"}));
    const QJsonObject bus = surfaces.state()["mqtt"].toObject();
    QVERIFY(bus["connected"].toBool() && bus["last_refusal"] == "not authorized");
    const QString refused = "wattmeter_mqtt_publish_refused_total %1\n";
    QVERIFY(surfaces.view.metrics().contains(refused.arg(bus["publish_refused"].toInt()).toUtf8()));
    broker_.stop();
    QTRY_VERIFY(!f.station.bus().connected);
    QVERIFY(broker_.start());
    QTRY_COMPARE_WITH_TIMEOUT(f.station.bus().publishRefused, quint64(4), 5000);
    QStringList shown = surfaces.notifier.shown;
    shown[1] = shown.value(1).section(": ", 0, 0); // closed, or a write that found it gone
    QCOMPARE(shown,
             (QStringList{"the broker refuses our messages: not authorized",
                          "the broker at 127.0.0.1 is lost", "the broker at 127.0.0.1 is back"}));
    QCOMPARE(surfaces.journalLines(), journal);
}

QTEST_MAIN(tst_surfaces)
#include "tst_surfaces.moc"
