// The amplifier simulator: the model's replies as the program reads them, its faults and line
// disturbances, and the simulator program on a real pseudo-terminal.
#include "sim/amplifier.h"
#include "support/temp_settings.h"
#include "telemetry/scanner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <chrono>

#ifdef WATTMETER_SIM_PATH
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(sim::Fault)

namespace {

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// What the program's own scanner makes of a text, one entry per report.
class Recorder : public telemetry::ScanSink {
public:
    QStringList events;
    QMap<QString, QString> fields; // the last value of each reading

    void band(telemetry::Band band) override {
        events << (band == telemetry::Band::High ? "band high" : "band low");
    }
    void overPowerWarning() override { events << "warning"; }
    void alarm(std::string_view text) override { events << "alarm " + latin1(text); }
    void reading(telemetry::Reading which, std::string_view field) override {
        static const char* const names[] = {"fwd", "rev", "vswr", "i1", "i2", "i3", "i4", "total"};
        const QString name = names[static_cast<int>(which)];
        events << name;
        fields[name] = latin1(field);
    }
    double number(const QString& name) const { return fields.value(name, "nan").toDouble(); }
};

Recorder scanned(std::string_view text) {
    Recorder recorder;
    telemetry::scan(text, recorder);
    return recorder;
}

std::string ask(sim::Amplifier& amplifier, std::string_view command) {
    return textOf(amplifier.receive(command));
}

// A session of commands and passing time, for comparing two amplifiers.
std::string session(sim::Amplifier& amplifier) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        amplifier.elapse(700ms);
        text += ask(amplifier, "POWER\r CURRENT\r");
        if (i == 20)
            text += textOf(amplifier.lineNoise());
    }
    return text;
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void faultAlarms_data();
    void faultAlarms();
    void resetClearsLatchedAlarmsOnly();
    void bandSwitchReportsTheHardwareBand();
    void splitReplyLosesOneField_data();
    void splitReplyLosesOneField();
    void sameSeedSameReplies();
    void programServesTheLinkedDevice();
    void existingLink_data();
    void existingLink();
};

void TestSimulator::replies_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("pattern");

    const QString power = R"(FWD: \d+ REV: \d+\rVSWR: \d+\.\d:1\r)";
    const QString current = R"(CURRENT:  (\d+\.\d\d  ){5}\r)";
    QTest::newRow("POWER: forward, reflected, VSWR") << QByteArray("POWER\r") << power;
    QTest::newRow("CURRENT: four stages and the total") << QByteArray("CURRENT\r") << current;
    QTest::newRow("automatic poll's CURRENT with its leading blank")
        << QByteArray(" CURRENT\r") << current;
    QTest::newRow("STATUS: the band alone when all is well")
        << QByteArray("STATUS\r") << "HIGH BAND SELECTED\r";
    QTest::newRow("RESET: banner and band")
        << QByteArray("RESET\r") << "ZRT-2730 POWER AMP\rHIGH BAND SELECTED\r";
    QTest::newRow("lower-case power is not understood") << QByteArray("power\r") << R"(\?\r)";
    QTest::newRow("unknown command") << QByteArray("HELLO\r") << R"(\?\r)";
    QTest::newRow("command without its carriage return waits") << QByteArray("POWER") << "";
    QTest::newRow("empty line gets no answer") << QByteArray("\r") << "";
    QTest::newRow("line feeds are ignored") << QByteArray("\nPOW\nER\r\n") << power;
    QTest::newRow("backspace takes back a typed character") << QByteArray("POWX\bER\r") << power;
    QTest::newRow("two commands in one write answered in order")
        << QByteArray("STATUS\rPOWER\r") << "HIGH BAND SELECTED\r" + power;
    QTest::newRow("overlong line refused") << QByteArray(200, 'P') + "POWER\r"
                                           << R"(\?\r)";
    QTest::newRow("NUL in a command makes it unknown") << QByteArray("POW\0ER\r", 7) << R"(\?\r)";
}

void TestSimulator::replies() {
    QFETCH(QByteArray, input);
    QFETCH(QString, pattern);

    sim::Amplifier whole(3);
    const std::string reply = ask(whole, view(input));
    const QRegularExpression expected(QRegularExpression::anchoredPattern(pattern));
    QVERIFY2(expected.match(latin1(reply)).hasMatch(), reply.c_str());

    // The program's bytes may arrive one at a time; the answer must not depend on it.
    sim::Amplifier trickled(3);
    std::string trickledReply;
    for (char c : input)
        trickledReply += ask(trickled, std::string_view(&c, 1));
    QCOMPARE(trickledReply, reply);
}

void TestSimulator::faultAlarms_data() {
    QTest::addColumn<sim::Fault>("fault");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QStringList>("programSees");

    auto row = [](const char* name, sim::Fault fault, const QString& sent,
                  const QStringList& programSees) {
        QTest::newRow(name) << fault << sent << programSees;
    };
    row("over-power warns", sim::Fault::OverPower, "PWR FWD ABOVE 1100\r",
        {"warning", "alarm PWR FWD ABOVE 1100"});
    row("high VSWR", sim::Fault::HighVswr, "HIGH VSWR\r", {"alarm HIGH VSWR"});
    row("power supply fault", sim::Fault::SupplyFault, "POWER SUPPLY FAULT\r",
        {"alarm POWER SUPPLY FAULT"});
    row("current limiter", sim::Fault::CurrentLimiter, "CURRENT LIMITER IN EFFECT\r",
        {"alarm CURRENT LIMITER IN EFFECT"});
    row("current imbalance", sim::Fault::CurrentImbalance, "CURRENT IMBALANCE\r",
        {"alarm CURRENT IMBALANCE"});
    row("sum of current", sim::Fault::SumOfCurrent, "SUM OF CURRENT > 100.00 AMPS\r",
        {"alarm SUM OF CURRENT > 100.00 AMPS"});
    row("hardware high band is an alarm, not a band report", sim::Fault::HardwareHighBand,
        "HARDWARE - HIGH BAND\r", {"alarm HW - HBAND, SW - LBAND"});
    row("hardware low band is an alarm, not a band report", sim::Fault::HardwareLowBand,
        "HARDWARE - LOW BAND\r", {"alarm HW - LBAND, SW - HBAND"});
}

void TestSimulator::faultAlarms() {
    QFETCH(sim::Fault, fault);
    QFETCH(QString, sent);
    QFETCH(QStringList, programSees);

    sim::Amplifier amplifier;
    const std::string unasked = textOf(amplifier.raise(fault));
    QCOMPARE(latin1(unasked), sent);
    QCOMPARE(scanned(unasked).events, programSees);
    QVERIFY(amplifier.isActive(fault));

    const std::string status = ask(amplifier, "STATUS\r");
    QCOMPARE(latin1(status), "HIGH BAND SELECTED\r" + sent);
    QCOMPARE(scanned(status).events, QStringList{"band high"} + programSees);

    amplifier.clearFaults();
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("HIGH BAND SELECTED\r"));
}

void TestSimulator::resetClearsLatchedAlarmsOnly() {
    sim::Amplifier amplifier;
    amplifier.raise(sim::Fault::OverPower);
    amplifier.raise(sim::Fault::HighVswr);
    amplifier.raise(sim::Fault::HardwareHighBand);

    QCOMPARE(ask(amplifier, "RESET\r"), std::string("ZRT-2730 POWER AMP\rHIGH BAND SELECTED\r"));
    QVERIFY(!amplifier.isActive(sim::Fault::OverPower));
    QVERIFY(!amplifier.isActive(sim::Fault::HighVswr));
    // The band switch is still where it was, so the mismatch outlives the reset.
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("HIGH BAND SELECTED\rHARDWARE - HIGH BAND\r"));
    for (int i = 0; i < 20; ++i) {
        amplifier.elapse(500ms);
        QVERIFY(scanned(ask(amplifier, "POWER\r")).number("fwd") <= 1100);
    }
}

void TestSimulator::bandSwitchReportsTheHardwareBand() {
    sim::Amplifier amplifier;
    const std::string toLow = textOf(amplifier.switchBand());
    QCOMPARE(toLow, std::string("HARDWARE - LOWBAND\r"));
    QCOMPARE(scanned(toLow).events, QStringList{"band low"});
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("LOW BAND SELECTED\r"));
    QCOMPARE(ask(amplifier, "RESET\r"), std::string("ZRT-2730 POWER AMP\rLOW BAND SELECTED\r"));

    const std::string toHigh = textOf(amplifier.switchBand());
    QCOMPARE(toHigh, std::string("HARDWARE - HIGHBAND\r"));
    QCOMPARE(scanned(toHigh).events, QStringList{"band high"});
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("HIGH BAND SELECTED\r"));
}

void TestSimulator::splitReplyLosesOneField_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("lost");
    QTest::addColumn<QStringList>("kept"); // what the program still reads from the two halves

    QTest::newRow("power reply loses forward power")
        << QByteArray("POWER\r") << "fwd" << QStringList{"rev", "vswr"};
    // Behind the cut the values have no marker left, so the whole reading goes.
    QTest::newRow("current reply loses the currents")
        << QByteArray("CURRENT\r") << "i1" << QStringList{};
    QTest::newRow("reset reply loses the banner, keeps the band")
        << QByteArray("RESET\r") << "alarm AMPLIFIER RESTARTED" << QStringList{"band high"};
    QTest::newRow("status reply loses the band report")
        << QByteArray("STATUS\r") << "band high" << QStringList{};
}

void TestSimulator::splitReplyLosesOneField() {
    QFETCH(QByteArray, command);
    QFETCH(QString, lost);
    QFETCH(QStringList, kept);

    sim::Amplifier amplifier;
    amplifier.splitNextReply();
    const sim::Output split = amplifier.receive(view(command));
    QCOMPARE(split.size(), std::size_t(2));
    QCOMPARE(split[0].pause, 0ms);
    QVERIFY(split[1].pause > 500ms); // longer than the program's quiet rule

    // Read whole it is complete; read in two ticks, the cut item is in neither.
    QVERIFY(scanned(textOf(split)).events.contains(lost));
    QCOMPARE(scanned(split[0].bytes).events + scanned(split[1].bytes).events, kept);

    // Only the next reply is split.
    QCOMPARE(amplifier.receive(view(command)).size(), std::size_t(1));
}

void TestSimulator::sameSeedSameReplies() {
    sim::Amplifier first(42), second(42);
    QCOMPARE(session(first), session(second));

    // Time handed in whole or in small steps moves the amplifier the same way.
    sim::Amplifier whole(42), stepped(42);
    whole.elapse(30s);
    for (int i = 0; i < 300; ++i)
        stepped.elapse(100ms);
    QCOMPARE(ask(whole, "POWER\rCURRENT\r"), ask(stepped, "POWER\rCURRENT\r"));
}

#ifdef WATTMETER_SIM_PATH

namespace {

// The simulator program under a temporary settings folder, stopped at the end of the test.
struct SimProcess {
    QProcess process;

    void start(int com) {
        process.start(QStringLiteral(WATTMETER_SIM_PATH),
                      {"--fast", "--com", QString::number(com), "--seed", "3"});
    }
    ~SimProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
};

// Reads from a non-blocking descriptor until `until` shows up or the time runs out.
QByteArray readUntil(int fd, const QByteArray& until, int timeoutMs) {
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    while (!data.contains(until) && clock.elapsed() < timeoutMs) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0 && (pfd.revents & POLLIN)) {
            char chunk[256];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0)
                data.append(chunk, n);
        }
    }
    return data;
}

} // namespace

void TestSimulator::programServesTheLinkedDevice() {
    TempSettings settings;
    const QString link = settings.portsFolder() + "/com7";
    SimProcess sim;
    sim.start(7);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
    QByteArray printed;
    QTRY_VERIFY_WITH_TIMEOUT((printed += sim.process.readAllStandardOutput())
                                 .contains(("\nlink " + link + " -> /dev/").toLocal8Bit()),
                             2000);

    // The device is for the simulator's user alone.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFileInfo(QFileInfo(link).symLinkTarget()).permissions() & others, QFile::Permissions());

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios tio{};
    QVERIFY(::tcgetattr(fd, &tio) == 0);
    ::cfmakeraw(&tio);
    QVERIFY(::tcsetattr(fd, TCSANOW, &tio) == 0);
    QCOMPARE(::write(fd, "POWER\r", 6), ssize_t(6));
    const QByteArray reply = readUntil(fd, ":1\r", 3000);
    ::close(fd);
    QVERIFY2(reply.startsWith("FWD: "), reply.constData());

    sim.process.terminate(); // SIGTERM
    QVERIFY(sim.process.waitForFinished(3000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimulator::existingLink_data() {
    QTest::addColumn<QString>("target"); // empty: a plain file stands where the link would
    QTest::addColumn<bool>("replaced");
    QTest::newRow("link to a real device is kept") << "/dev/null" << false;
    QTest::newRow("dangling link to an unplugged adapter is kept") << "/dev/ttyUSB97" << false;
    QTest::newRow("plain file is kept") << "" << false;
    QTest::newRow("stale link to a closed pseudo-terminal is replaced") << "/dev/pts/99999" << true;
}

void TestSimulator::existingLink() {
    QFETCH(QString, target);
    QFETCH(bool, replaced);

    TempSettings settings;
    QVERIFY(QDir().mkpath(settings.portsFolder()));
    const QString link = settings.portsFolder() + "/com2";
    if (target.isEmpty()) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QFile::link(target, link));
    }

    SimProcess sim;
    sim.start(2);
    if (!replaced) {
        QVERIFY(sim.process.waitForFinished(5000));
        QVERIFY(sim.process.exitCode() != 0);
        QVERIFY(sim.process.readAllStandardError().contains(link.toLocal8Bit()));
        QCOMPARE(QFileInfo(link).isSymLink(), !target.isEmpty());
        if (!target.isEmpty())
            QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).symLinkTarget() != target, 5000);
    QVERIFY(QFileInfo(link).symLinkTarget().startsWith("/dev/pts/"));
    sim.process.terminate();
    QVERIFY(sim.process.waitForFinished(3000));
    QVERIFY(!QFileInfo(link).isSymLink());
}

#else // no pseudo-terminals here

void TestSimulator::programServesTheLinkedDevice() {
    QSKIP("the simulator program needs pseudo-terminals");
}
void TestSimulator::existingLink_data() {}
void TestSimulator::existingLink() {
    QSKIP("the simulator program needs pseudo-terminals");
}

#endif

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
