// The amplifier simulator: the model's replies as the program reads them, its faults and line
// disturbances, the pacing of its output, and the simulator program on a real pseudo-terminal.
#include "sim/amplifier.h"
#include "sim/console_command.h"
#include "sim/scenario.h"
#include "sim/transmitter.h"
#include "support/temp_settings.h"
#include "telemetry/scanner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>

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
    void currentsAddUpAsTheProgramReadsThem_data();
    void currentsAddUpAsTheProgramReadsThem();
    void faultAlarms_data();
    void faultAlarms();
    void faultReadings_data();
    void faultReadings();
    void resetClearsLatchedAlarmsOnly();
    void bandSwitchReportsTheHardwareBand();
    void carrierKeysOnAndOff();
    void splitReplyLosesOneField_data();
    void splitReplyLosesOneField();
    void lineNoiseHasHardBytesButNoReplies();
    void sameSeedSameReplies();
    void differentSeedsDiffer();
    void pacing_data();
    void pacing();
    void scenariosUseKnownCommandsInOrder();
    void scenarioRunner_data();
    void scenarioRunner();
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

void TestSimulator::currentsAddUpAsTheProgramReadsThem_data() {
    QTest::addColumn<QList<sim::Fault>>("faults");
    QTest::newRow("no fault") << QList<sim::Fault>{};
    QTest::newRow("current imbalance") << QList<sim::Fault>{sim::Fault::CurrentImbalance};
    QTest::newRow("sum of current above 100 A") << QList<sim::Fault>{sim::Fault::SumOfCurrent};
    QTest::newRow("over-power") << QList<sim::Fault>{sim::Fault::OverPower};
    QTest::newRow("limiter with a sagging supply")
        << QList<sim::Fault>{sim::Fault::CurrentLimiter, sim::Fault::SupplyFault};
}

void TestSimulator::currentsAddUpAsTheProgramReadsThem() {
    QFETCH(QList<sim::Fault>, faults);
    sim::Amplifier amplifier(11);
    for (sim::Fault fault : faults)
        amplifier.raise(fault);

    // Over a minute the carrier keys several times; keyed or not the total is the sum.
    for (int i = 0; i < 120; ++i) {
        amplifier.elapse(500ms);
        const Recorder r = scanned(ask(amplifier, "CURRENT\r"));
        QCOMPARE(r.events, (QStringList{"i1", "i2", "i3", "i4", "total"}));
        long sum = 0;
        for (const char* stage : {"i1", "i2", "i3", "i4"})
            sum += std::lround(r.number(stage) * 100);
        QCOMPARE(sum, std::lround(r.number("total") * 100));
    }
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

void TestSimulator::faultReadings_data() {
    QTest::addColumn<QList<sim::Fault>>("faults");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");

    using F = sim::Fault;
    QTest::newRow("healthy forward power stays on the bar") << QList<F>{} << "fwd" << 0.0 << 1100.0;
    QTest::newRow("healthy reflected power is small") << QList<F>{} << "rev" << 0.0 << 40.0;
    QTest::newRow("healthy total current") << QList<F>{} << "total" << 1.0 << 40.0;
    QTest::newRow("over-power above 1100 W") << QList<F>{F::OverPower} << "fwd" << 1100.5 << 1300.0;
    QTest::newRow("high VSWR") << QList<F>{F::HighVswr} << "vswr" << 2.5 << 4.0;
    QTest::newRow("high VSWR reflects a lot") << QList<F>{F::HighVswr} << "rev" << 150.0 << 400.0;
    QTest::newRow("sagging supply") << QList<F>{F::SupplyFault} << "fwd" << 0.0 << 600.0;
    QTest::newRow("limiter holds the output")
        << QList<F>{F::CurrentLimiter} << "fwd" << 600.0 << 710.0;
    QTest::newRow("sum of current above 100 A")
        << QList<F>{F::SumOfCurrent} << "total" << 100.01 << 120.0;
    QTest::newRow("imbalance: stage 3 far above stage 1")
        << QList<F>{F::CurrentImbalance} << "i3/i1" << 1.5 << 2.2;
    QTest::newRow("over-power wins over the limiter")
        << QList<F>{F::CurrentLimiter, F::OverPower} << "fwd" << 1100.5 << 1300.0;
}

void TestSimulator::faultReadings() {
    QFETCH(QList<sim::Fault>, faults);
    QFETCH(QString, quantity);
    QFETCH(double, low);
    QFETCH(double, high);

    sim::Amplifier amplifier(5);
    for (sim::Fault fault : faults)
        amplifier.raise(fault);
    // Sampled across a minute, through the carrier's rests: these faults hold it keyed.
    for (int i = 0; i < 60; ++i) {
        amplifier.elapse(1s);
        const Recorder r = scanned(ask(amplifier, "POWER\rCURRENT\r"));
        const double value =
            quantity == "i3/i1" ? r.number("i3") / r.number("i1") : r.number(quantity);
        if (faults.isEmpty() && !amplifier.carrierKeyed())
            continue;
        QVERIFY2(value >= low && value <= high,
                 qPrintable(QString("%1 = %2 at %3 s").arg(quantity).arg(value).arg(i + 1)));
    }
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

void TestSimulator::carrierKeysOnAndOff() {
    sim::Amplifier amplifier(9);
    int keyed = 0, rests = 0, changes = 0;
    bool wasKeyed = true;
    for (int i = 0; i < 240; ++i) { // two minutes
        amplifier.elapse(500ms);
        const Recorder r = scanned(ask(amplifier, "POWER\r"));
        const double forward = r.number("fwd");
        if (amplifier.carrierKeyed()) {
            ++keyed;
            QVERIFY2(forward > 780 && forward < 920, qPrintable(r.fields.value("fwd")));
            QVERIFY(r.number("rev") > 0);
        } else {
            ++rests;
            QCOMPARE(forward, 0.0);
            QCOMPARE(r.fields.value("rev"), QString("0"));
            QCOMPARE(r.fields.value("vswr"), QString("1.0"));
        }
        changes += amplifier.carrierKeyed() != wasKeyed;
        wasKeyed = amplifier.carrierKeyed();
    }
    // Keyed 3 to 7 s and resting 1.5 to 4 s: over two minutes, a dozen or more changes.
    QVERIFY2(changes >= 10 && changes <= 60, qPrintable(QString::number(changes)));
    QVERIFY(keyed > rests);
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

void TestSimulator::lineNoiseHasHardBytesButNoReplies() {
    for (std::uint32_t seed = 0; seed < 50; ++seed) {
        sim::Amplifier amplifier(seed);
        const std::string burst = textOf(amplifier.lineNoise());
        QVERIFY(burst.size() >= 16);
        QVERIFY(burst.find('\0') != std::string::npos);
        QVERIFY(burst.find('\r') != std::string::npos);
        QVERIFY(burst.find('\b') != std::string::npos);
        QVERIFY(std::any_of(burst.begin(), burst.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
        QVERIFY(scanned(burst).events.isEmpty());
    }
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

void TestSimulator::differentSeedsDiffer() {
    sim::Amplifier first(1), second(2);
    QVERIFY(session(first) != session(second));
}

void TestSimulator::pacing_data() {
    QTest::addColumn<int>("characterMs");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("secondQueuedAt");
    QTest::addColumn<int>("secondPause");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QList<int>>("sendTimes"); // of each byte, in order

    QTest::newRow("300 baud: a character every 33 ms")
        << 33 << QByteArray("ABC") << 0 << 0 << QByteArray() << QList<int>{0, 33, 66};
    QTest::newRow("full speed: the whole reply at once")
        << 0 << QByteArray("ABC") << 0 << 0 << QByteArray() << QList<int>{0, 0, 0};
    QTest::newRow("300 baud: pause between the halves of a split reply")
        << 33 << QByteArray("AB") << 0 << 800 << QByteArray("CD") << QList<int>{0, 33, 833, 866};
    QTest::newRow("full speed keeps the pause of a split reply")
        << 0 << QByteArray("AB") << 0 << 800 << QByteArray("CD") << QList<int>{0, 0, 800, 800};
    QTest::newRow("reply queued mid-character waits its turn")
        << 33 << QByteArray("A") << 10 << 0 << QByteArray("B") << QList<int>{0, 33};
    QTest::newRow("reply after a quiet spell goes at once")
        << 33 << QByteArray("A") << 1000 << 0 << QByteArray("B") << QList<int>{0, 1000};
}

void TestSimulator::pacing() {
    QFETCH(int, characterMs);
    QFETCH(QByteArray, first);
    QFETCH(int, secondQueuedAt);
    QFETCH(int, secondPause);
    QFETCH(QByteArray, second);
    QFETCH(QList<int>, sendTimes);

    using Ms = std::chrono::milliseconds;
    sim::Transmitter transmitter{Ms(characterMs)};
    transmitter.queue({{Ms(0), first.toStdString()}}, Ms(0));
    bool secondQueued = false;
    QList<int> times;
    QByteArray line;
    while (times.size() < sendTimes.size()) {
        const std::optional<Ms> next = transmitter.nextReady();
        if (!secondQueued && (!next || *next >= Ms(secondQueuedAt))) {
            transmitter.queue({{Ms(secondPause), second.toStdString()}}, Ms(secondQueuedAt));
            secondQueued = true;
            continue;
        }
        QVERIFY(next);
        QVERIFY(transmitter.ready(*next - Ms(1)).empty()); // nothing early
        const std::string_view bytes = transmitter.ready(*next);
        QVERIFY(!bytes.empty());
        line.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
        for (std::size_t i = 0; i < bytes.size(); ++i)
            times << static_cast<int>(next->count());
        transmitter.sent(bytes.size(), *next);
    }
    QCOMPARE(times, sendTimes);
    QCOMPARE(line, first + second);
    QVERIFY(transmitter.idle());
}

void TestSimulator::scenariosUseKnownCommandsInOrder() {
    QVERIFY(!sim::scenarios().empty());
    for (const sim::Scenario& scenario : sim::scenarios()) {
        QVERIFY(!scenario.steps.empty());
        auto previous = std::chrono::milliseconds(-1);
        for (const sim::ScenarioStep& step : scenario.steps) {
            const QString where = latin1(scenario.name) + ": " + latin1(step.command);
            QVERIFY2(sim::parseConsoleCommand(step.command), qPrintable(where));
            QVERIFY2(step.at > previous, qPrintable(where));
            previous = step.at;
        }
        if (scenario.period > 0ms)
            QVERIFY2(scenario.period > previous, scenario.name.data());
    }
    QVERIFY(sim::findScenario("alarms"));
    QVERIFY(!sim::findScenario("Alarms"));
}

void TestSimulator::scenarioRunner_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("untilMs");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one-shot runs once") << "overpower" << 60000 << QStringList{"overpower"};
    QTest::newRow("nothing before the first step") << "vanish" << 4999 << QStringList{};
    QTest::newRow("periodic starts over after its period")
        << "split" << 13000 << QStringList{"split", "split", "split"};
    QTest::newRow("a late clock gets every step it missed, in order")
        << "bands" << 9000 << QStringList{"band", "band", "hwhigh"};
}

void TestSimulator::scenarioRunner() {
    QFETCH(QString, scenario);
    QFETCH(int, untilMs);
    QFETCH(QStringList, expected);

    const sim::Scenario* found = sim::findScenario(scenario.toStdString());
    QVERIFY(found);
    sim::ScenarioRunner runner(*found, 0ms);
    QStringList played;
    for (std::string_view command : runner.due(std::chrono::milliseconds(untilMs)))
        played << latin1(command);
    QCOMPARE(played, expected);
    QVERIFY(runner.due(std::chrono::milliseconds(untilMs)).empty()); // each step only once
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
