// The amplifier simulator: its replies and alarms as the program's own scanner reads them, and
// the simulator program serving its pseudo-terminal under the program's COM link.
#include "sim/amplifier.h"
#include "support/scan_recorder.h"
#include "support/temp_settings.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(sim::Fault)

namespace {

std::string ask(sim::Amplifier& amplifier, std::string_view command) {
    return textOf(amplifier.receive(command));
}

struct SimProcess : QProcess {
    explicit SimProcess(int com) {
        start(QStringLiteral(WATTMETER_SIM_PATH), {"--fast", "--com", QString::number(com)});
    }
    ~SimProcess() override {
        kill();
        waitForFinished(2000);
    }
};

} // namespace

class tst_simulator : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void faultAlarms_data();
    void faultAlarms();
    void resetAndBandSwitch();
    void splitReplyLosesOneField();
    void programServesTheLinkedDevice();
    void existingLink_data();
    void existingLink();
};

void tst_simulator::replies_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("pattern");

    const QString power = R"(FWD: \d+ REV: \d+\rVSWR: \d+\.\d:1\r)";
    const QString current = R"(CURRENT:  (\d+\.\d\d  ){5}\r)";
    QTest::newRow("POWER") << QByteArray("POWER\r") << power;
    QTest::newRow("automatic poll's CURRENT with its leading blank")
        << QByteArray(" CURRENT\r") << current;
    QTest::newRow("STATUS: the band alone when all is well")
        << QByteArray("STATUS\r") << "HIGH BAND SELECTED\r";
    QTest::newRow("RESET: banner and band")
        << QByteArray("RESET\r") << "ZRT-2730 POWER AMP\rHIGH BAND SELECTED\r";
    QTest::newRow("lower case is not understood") << QByteArray("power\r") << R"(\?\r)";
    QTest::newRow("command without its carriage return waits") << QByteArray("POWER") << "";
    QTest::newRow("line feeds ignored, backspace takes back")
        << QByteArray("\nPOWX\bER\r\n") << power;
    QTest::newRow("two commands answered in order")
        << QByteArray("STATUS\rCURRENT\r") << "HIGH BAND SELECTED\r" + current;
    QTest::newRow("overlong line refused") << QByteArray(200, 'P') + "POWER\r"
                                           << R"(\?\r)";
}

void tst_simulator::replies() {
    QFETCH(QByteArray, input);
    QFETCH(QString, pattern);
    sim::Amplifier whole(3), trickled(3);
    const std::string reply = ask(whole, input.toStdString());
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                 .match(QString::fromLatin1(reply))
                 .hasMatch(),
             reply.c_str());
    // The program's bytes may arrive one at a time; the answer must not depend on it.
    std::string trickledReply;
    for (char c : input)
        trickledReply += ask(trickled, std::string_view(&c, 1));
    QCOMPARE(trickledReply, reply);
}

void tst_simulator::faultAlarms_data() {
    QTest::addColumn<sim::Fault>("fault");
    QTest::addColumn<QStringList>("programSees");
    QTest::newRow("over-power") << sim::Fault::OverPower
                                << QStringList{"warning", "alarm PWR FWD ABOVE 1100"};
    QTest::newRow("high VSWR") << sim::Fault::HighVswr << QStringList{"alarm HIGH VSWR"};
    QTest::newRow("supply") << sim::Fault::SupplyFault << QStringList{"alarm POWER SUPPLY FAULT"};
    QTest::newRow("limiter") << sim::Fault::CurrentLimiter
                             << QStringList{"alarm CURRENT LIMITER IN EFFECT"};
    QTest::newRow("imbalance") << sim::Fault::CurrentImbalance
                               << QStringList{"alarm CURRENT IMBALANCE"};
    QTest::newRow("sum") << sim::Fault::SumOfCurrent
                         << QStringList{"alarm SUM OF CURRENT > 100.00 AMPS"};
    QTest::newRow("hardware high band")
        << sim::Fault::HardwareHighBand << QStringList{"alarm HW - HBAND, SW - LBAND"};
    QTest::newRow("hardware low band")
        << sim::Fault::HardwareLowBand << QStringList{"alarm HW - LBAND, SW - HBAND"};
}

void tst_simulator::faultAlarms() {
    QFETCH(sim::Fault, fault);
    QFETCH(QStringList, programSees);
    sim::Amplifier amplifier;
    QCOMPARE(scanned(textOf(amplifier.raise(fault))), programSees);
    QCOMPARE(scanned(ask(amplifier, "STATUS\r")), QStringList{"band high"} + programSees);
    amplifier.clearFaults();
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("HIGH BAND SELECTED\r"));
}

void tst_simulator::resetAndBandSwitch() {
    sim::Amplifier amplifier;
    amplifier.raise(sim::Fault::OverPower);
    amplifier.raise(sim::Fault::HardwareHighBand);
    ask(amplifier, "RESET\r");
    QVERIFY(!amplifier.isActive(sim::Fault::OverPower));
    // The band switch is still where it was, so the mismatch outlives the reset.
    QCOMPARE(ask(amplifier, "STATUS\r"), std::string("HIGH BAND SELECTED\rHARDWARE - HIGH BAND\r"));
    for (int i = 0; i < 20; ++i) {
        amplifier.elapse(500ms);
        QVERIFY(scanned(ask(amplifier, "POWER\r")).first().mid(4).toDouble() <= 1100);
    }
    QCOMPARE(scanned(textOf(amplifier.switchBand())), QStringList{"band low"});
    QCOMPARE(ask(amplifier, "RESET\r"), std::string("ZRT-2730 POWER AMP\rLOW BAND SELECTED\r"));
    QCOMPARE(scanned(textOf(amplifier.switchBand())), QStringList{"band high"});
}

void tst_simulator::splitReplyLosesOneField() {
    sim::Amplifier amplifier;
    amplifier.splitNextReply();
    const sim::Output split = amplifier.receive("POWER\r");
    QCOMPARE(split.size(), std::size_t(2));
    QVERIFY(split[1].pause > 500ms); // longer than the program's quiet rule
    // Read in two ticks, the forward field is in neither.
    const QStringList read = scanned(split[0].bytes) + scanned(split[1].bytes);
    QCOMPARE(read.size(), 2);
    QVERIFY(read[0].startsWith("rev=") && read[1].startsWith("vswr="));
    QCOMPARE(amplifier.receive("POWER\r").size(), std::size_t(1)); // only the next reply is split
}

void tst_simulator::programServesTheLinkedDevice() {
    TempSettings settings;
    const QString link = settings.portsFolder() + "/com7";
    SimProcess sim(7);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
    // The device is for the simulator's user alone.
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFileInfo(QFileInfo(link).symLinkTarget()).permissions() & others,
             QFile::Permissions());

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    QVERIFY(fd >= 0 && ::tcgetattr(fd, &tio) == 0);
    ::cfmakeraw(&tio);
    QVERIFY(::tcsetattr(fd, TCSANOW, &tio) == 0);
    QCOMPARE(::write(fd, "POWER\r", 6), ssize_t(6));
    QByteArray reply;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            char chunk[256];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            reply.append(chunk, qMax<ssize_t>(n, 0));
            return reply.contains(":1\r");
        }(),
        3000);
    ::close(fd);
    QVERIFY2(reply.startsWith("FWD: "), reply.constData());

    sim.terminate();
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_simulator::existingLink_data() {
    QTest::addColumn<QString>("target"); // empty: a plain file stands where the link would
    QTest::addColumn<bool>("replaced");
    QTest::newRow("link to a real device is kept") << "/dev/null" << false;
    QTest::newRow("dangling link to an unplugged adapter is kept") << "/dev/ttyUSB97" << false;
    QTest::newRow("plain file is kept") << "" << false;
    QTest::newRow("stale link to a closed pseudo-terminal is replaced") << "/dev/pts/99999" << true;
}

void tst_simulator::existingLink() {
    QFETCH(QString, target);
    QFETCH(bool, replaced);
    TempSettings settings;
    QVERIFY(QDir().mkpath(settings.portsFolder()));
    const QString link = settings.portsFolder() + "/com2";
    QFile file(link);
    QVERIFY(target.isEmpty() ? file.open(QIODevice::WriteOnly) : QFile::link(target, link));

    SimProcess sim(2);
    if (!replaced) {
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(sim.exitCode() != 0);
        QVERIFY(sim.readAllStandardError().contains(link.toLocal8Bit()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), target.isEmpty() ? QString() : target);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).symLinkTarget().startsWith("/dev/pts/") &&
                                 QFileInfo(link).symLinkTarget() != target,
                             5000);
}

QTEST_GUILESS_MAIN(tst_simulator)
#include "tst_simulator.moc"
