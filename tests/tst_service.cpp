// wattmeterd, the station without a window, as systemd runs it: no display and no session bus,
// the simulator on the line, a real mosquitto and its dashboard; the notify protocol; its
// refusals at start; the journal under rotation; and the shipped alert rules against its metrics.
#include "support/broker.h"
#include "support/engine_fixture.h"
#include "support/http.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTest>

#include <csignal>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A datagram socket in systemd's place: what the service tells it, message by message, read
// as it comes (a full socket would hold the service up, as it would under systemd).
struct NotifySocket {
    QTemporaryDir dir;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    QStringList got;
    QSocketNotifier reader{fd, QSocketNotifier::Read};

    NotifySocket() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, qPrintable(path()), sizeof address.sun_path - 1);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        QObject::connect(&reader, &QSocketNotifier::activated, [this] { messages(); });
    }
    ~NotifySocket() { ::close(fd); }
    QString path() const { return dir.filePath("notify"); }
    const QStringList& messages() {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            got << QString::fromUtf8(buffer, n);
        return got;
    }
    bool saw(const QString& message, int ms = 10000) {
        return QTest::qWaitFor([&] { return messages().contains(message); }, ms);
    }
};

// wattmeterd as a service runs it: no display, no session bus; its ports folder in settings.
struct Service {
    QProcess process;
    QByteArray said;

    void start(const TempSettings& settings, const QStringList& arguments,
               const QStringList& environment = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                 "DBUS_SESSION_BUS_ADDRESS", "NOTIFY_SOCKET"})
            env.remove(name);
        env.insert("XDG_CONFIG_HOME", settings.folder());
        for (const QString& pair : environment)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(settings.folder());
        process.start(QStringLiteral(WATTMETERD_PATH), arguments);
    }
    const QByteArray& standardError() { return said += process.readAllStandardError(); }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    ~Service() {
        process.kill();
        process.waitForFinished();
    }
};

QStringList journal(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n')
                                          : QStringList();
}

} // namespace

class tst_service : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(broker_.start()); }
    void startRefusals_data();
    void startRefusals();
    void atWork();
    void journalRotation_data();
    void journalRotation();

private:
    Broker broker_;
};

void tst_service::startRefusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("config"); // written to service.conf when not empty
    QTest::addColumn<QString>("said");
    const auto row = [](const char* name, const QStringList& arguments, const char* said,
                        const char* config = "") {
        QTest::newRow(name) << arguments << QString(config) << QString(said);
    };
    row("no surface", {"--port", "1"}, "nothing would ever be told");
    row("no device", {"--journal", "j.csv"}, "give exactly one of --device PATH and --port N");
    row("both --device and --port", {"--device", "/dev/null", "--port", "1", "--journal", "j.csv"},
        "give exactly one of");
    row("a config line in error", {"--config", "service.conf"},
        "service.conf:3: poll is yes or no, not \"maybe\"",
        "journal = j.csv\n# polling\npoll = maybe\n");
    row("a config key twice", {"--config", "service.conf", "--port", "2"},
        "service.conf:2: journal is given twice", "journal = a.csv\njournal = b.csv\n");
    row("a device that is not there", {"--device", "/dev/ttyUSB97", "--journal", "j.csv"},
        "/dev/ttyUSB97 could not be opened: No such file or directory");
}

void tst_service::startRefusals() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, config);
    QFETCH(QString, said);
    TempSettings settings;
    QVERIFY(config.isEmpty() || writeFile(settings.folder() + "/service.conf", config.toUtf8()));
    Service service;
    service.start(settings, arguments);
    QVERIFY(service.process.waitForFinished(10000));
    QCOMPARE(service.process.exitCode(), 2);
    const QList<QByteArray> lines = service.standardError().trimmed().split('\n');
    QVERIFY2(lines.size() == 1 && lines[0].startsWith("wattmeterd: ") &&
                 lines[0].contains(said.toUtf8()),
             service.said.constData());
}

void tst_service::atWork() {
    TempSettings settings;
    QProcess simulator;
    QVERIFY(startSimulator(simulator, settings, {"--fast"}));
    NotifySocket systemd;
    Subscriber mqtt(broker_);
    const quint16 port = freePort();
    // By its path the port has no COM number: every surface names it so, and it counts as chosen
    // for the commands from afar. The file's switch is overridden by the command line's; the rest
    // of the file holds.
    const QString device = settings.portsFolder() + "/com1", config = settings.folder() + "/s.conf";
    QVERIFY(writeFile(config, "# the station\ndevice = " + device.toUtf8() +
                                  "\npoll = no\njournal = j.csv\nmqtt-node = n1\n"));
    Service service;
    service.start(settings,
                  {"--config", config, "--poll", "--serve", QString("127.0.0.1:%1").arg(port),
                   "--mqtt", broker_.url(), "--mqtt-control"},
                  {"NOTIFY_SOCKET=" + systemd.path(), "WATCHDOG_USEC=400000",
                   "WATTMETER_MQTT_PASSWORD=secret"});
    QVERIFY(systemd.saw("READY=1"));
    const auto state = [&] { return body(get(port, "/api/readings")).object(); };
    QTRY_VERIFY_WITH_TIMEOUT(state()["readings_live"].toBool(), 10000);
    // The shipped alert rules watch only series that the program exports.
    QFile rules(ALERT_RULES);
    const QByteArray metrics = get(port, "/metrics");
    QVERIFY(rules.open(QIODevice::ReadOnly));
    for (const auto& name : QRegularExpression("wattmeter_[a-z_]+").globalMatch(rules.readAll()))
        QVERIFY2(metrics.contains("# TYPE " + name.captured().toUtf8() + ' '),
                 qPrintable(name.captured()));
    QVERIFY(mqtt.saw(("\"port\":\"" + device + "\"").toUtf8()));
    const QRegularExpression answering("^STATUS=" + QRegularExpression::escape(device) +
                                       " open, amplifier answering, \\d+ W$");
    QTRY_VERIFY(!systemd.messages().filter(answering).isEmpty());
    // The watchdog's keep-alive at half the period asked for: about five in a second.
    const auto watchdogs = [&] { return systemd.messages().count("WATCHDOG=1"); };
    const int before = watchdogs();
    QTest::qWait(1000); // the keep-alives of one second are what is measured
    QVERIFY2(watchdogs() - before >= 3 && watchdogs() - before <= 7,
             qPrintable(QString::number(watchdogs() - before)));

    simulator.write("vanish\n");
    QVERIFY(systemd.saw("STATUS=" + device + " lost, waiting for it"));
    simulator.write("return\n");
    QTRY_VERIFY_WITH_TIMEOUT(state()["readings_live"].toBool(), 10000);
    simulator.write("mute\n");
    QTRY_COMPARE_WITH_TIMEOUT(state()["amplifier"].toString(), "silent", 10000);
    QVERIFY(service.standardError().contains(
        (" - " + device + ": no reply from the amplifier\n").toUtf8()));
    simulator.write("unmute\n");
    QTRY_COMPARE_WITH_TIMEOUT(state()["amplifier"].toString(), "answering", 5000);

    QVERIFY(run("mosquitto_pub",
                broker_.observer() + QStringList{"-t", "wattmeter/n1/command", "-m", "RESET"}));
    QVERIFY(mqtt.saw("wattmeter/n1/command/result {\"command\":\"RESET\",\"result\":\"sent\"}"));
    // Over-power: the warning opens, the readings go on, DISMISS WARNING closes it.
    simulator.write("overpower\n");
    QTRY_VERIFY_WITH_TIMEOUT(!state()["over_power_warning_open_since"].isNull(), 5000);
    const QString read = state()["powers_time"].toString();
    QTRY_VERIFY_WITH_TIMEOUT(state()["powers_time"].toString() > read, 5000);
    QVERIFY(state()["readings_live"].toBool());
    QVERIFY(run("mosquitto_pub", broker_.observer() + QStringList{"-t", "wattmeter/n1/command",
                                                                  "-m", "DISMISS WARNING"}));
    QTRY_VERIFY(state()["over_power_warning_open_since"].isNull());

    // A clean stop: offline on the broker, every line of the journal on the disk.
    service.signal(SIGTERM);
    QVERIFY(service.process.waitForFinished(2000));
    QCOMPARE(service.process.exitCode(), 0);
    QVERIFY(systemd.saw("STOPPING=1", 0));
    QVERIFY(mqtt.saw(" wattmeter/n1/availability offline"));
    const QStringList lines = journal(settings.folder() + "/j.csv");
    QVERIFY(lines.filter(",remote,RESET,sent").size() == 1 && lines.last().isEmpty());
    QVERIFY(lines.first().endsWith(",port," + device + ",opened"));
    QVERIFY(lines.filter(",alarm,PWR FWD ABOVE 1100").size() >= 1);
    stopSimulator(simulator);
}

void tst_service::journalRotation_data() {
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("renamed, then SIGHUP") << true;
    QTest::newRow("renamed, nothing said") << false;
}

void tst_service::journalRotation() {
    QFETCH(bool, hangUp);
    TempSettings settings;
    const QString path = settings.folder() + "/state/j.csv";
    QVERIFY(QDir().mkpath(settings.folder() + "/state"));
    NotifySocket systemd;
    Service service; // a relative journal goes into systemd's StateDirectory=
    service.start(
        settings, {"--port", "5", "--wait-for-device", "--poll", "--journal", "j.csv"},
        {"STATE_DIRECTORY=" + settings.folder() + "/state", "NOTIFY_SOCKET=" + systemd.path()});
    QVERIFY(systemd.saw("READY=1") && systemd.saw("STATUS=COM5 not open, waiting for it"));
    QProcess simulator;
    QVERIFY(startSimulator(simulator, settings, {"--fast"}, 5));
    QVERIFY(systemd.saw("STATUS=COM5 open, amplifier not asked yet"));
    QTRY_VERIFY_WITH_TIMEOUT(journal(path).filter(",reading,").size() >= 2, 10000);
    QVERIFY(QFile::rename(path, path + ".1"));
    if (hangUp)
        service.signal(SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(journal(path).filter(",reading,").size() >= 2, 5000);
    service.signal(SIGKILL);
    QVERIFY(service.process.waitForFinished(2000));
    // Killed as it wrote: every line whole, in one file or the other, in order.
    QVERIFY(journal(path + ".1").last().isEmpty() && journal(path).last().isEmpty());
    const QStringList lines = journal(path + ".1") + journal(path);
    QStringList times;
    for (const QString& line : lines)
        if (!line.isEmpty())
            times << line.section(',', 0, 0);
    QVERIFY(lines.filter(QRegularExpression("^\\d{4}-.*Z,(reading|sent|live|port),")).size() ==
            times.size());
    QStringList sorted = times;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(times, sorted);
    stopSimulator(simulator);
}

QTEST_GUILESS_MAIN(tst_service)
#include "tst_service.moc"
