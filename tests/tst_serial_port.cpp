// The real serial component against pseudo-terminals: bytes both ways, line settings, refusals,
// open failures and the loss of the device while the port is open.
#include "link/qt_serial_component.h"
#include "support/cpu_time.h"
#include "support/pty.h"
#include "support/temp_settings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#endif

using seriallink::Failure;
using seriallink::QtSerialComponent;
using seriallink::SerialComponent;

namespace {

QByteArray allByteValues() {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    return bytes;
}

// "9600 E 7 2", or "" for settings that do not parse.
QString describe(const QString& settings) {
    const auto parsed = seriallink::parseLineSettings(settings);
    if (!parsed)
        return {};
    const char parity = "N?EOSM"[parsed->parity]; // QSerialPort::Parity's values are 0, 2 to 5
    const QString stop = parsed->stopBits == QSerialPort::OneAndHalfStop ? "1.5"
                         : parsed->stopBits == QSerialPort::TwoStop      ? "2"
                                                                         : "1";
    return QStringLiteral("%1 %2 %3 %4")
        .arg(parsed->baudRate)
        .arg(QChar(parity))
        .arg(int(parsed->dataBits))
        .arg(stop);
}

} // namespace

class TstSerialPort : public QObject {
    Q_OBJECT

    std::unique_ptr<TempSettings> settings_;
    std::unique_ptr<Pty> pty_;
    std::unique_ptr<QtSerialComponent> serial_;

    // Opens COM3 on a fresh pty linked as COM3; false (with the test failed) if that fails.
    bool openOnPty() {
        pty_ = std::make_unique<Pty>();
        [&] {
            QVERIFY(pty_->isValid());
            QVERIFY(pty_->linkAsComPort(3, settings_->portsFolder()));
            QVERIFY(!serial_->setCommPort(3));
            const Failure failure = serial_->setPortOpen(true);
            QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
            QVERIFY(serial_->portOpen());
            QCOMPARE(serial_->device(), pty_->devicePath());
        }();
        return !QTest::currentTestFailed();
    }

private slots:
    void initTestCase() {
#ifdef _WIN32
        QSKIP("the tests play the device on a pseudo-terminal");
#endif
    }

    void init() {
        settings_ = std::make_unique<TempSettings>();
        serial_ = std::make_unique<QtSerialComponent>();
        serial_->setRThreshold(1);
    }

    void cleanup() {
        serial_.reset();
        pty_.reset();
        settings_.reset();
    }

    void parseLineSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // as describe() puts it; empty when refused
        const auto row = [](const char* name, const char* text, const char* parsed) {
            QTest::newRow(name) << QString(text) << QString(parsed);
        };
        row("the program's settings", "300,N,8,1", "300 N 8 1");
        row("even parity, 7 bits, 2 stop", "9600,E,7,2", "9600 E 7 2");
        row("lower-case odd, 5 bits, 1.5 stop", "1200,o,5,1.5", "1200 O 5 1.5");
        row("mark parity, 6 bits", "110,M,6,1", "110 M 6 1");
        row("spaces around fields", " 300 , S , 8 , 1 ", "300 S 8 1");
        row("junk", "fast please", "");
        row("a field missing", "300,N,8", "");
        row("baud zero", "0,N,8,1", "");
        row("baud not a number", "3OO,N,8,1", "");
        row("parity spelt out", "300,None,8,1", "");
        row("4 data bits", "300,N,4,1", "");
        row("3 stop bits", "300,N,8,3", "");
    }

    void parseLineSettings() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        QCOMPARE(describe(text), parsed);
    }

    void commPortRange_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("COM1 is the first") << 1 << true;
        QTest::newRow("COM16 is the last") << 16 << true;
        QTest::newRow("0 is below the range") << 0 << false;
        QTest::newRow("17 is above the range") << 17 << false;
    }

    void commPortRange() {
        QFETCH(int, port);
        QFETCH(bool, accepted);
        QVERIFY(!serial_->setCommPort(7));
        QCOMPARE(!serial_->setCommPort(port), accepted);
        QCOMPARE(serial_->commPort(), accepted ? port : 7);
    }

    void closedAndOpenPortRules() {
        QVERIFY(!serial_->setPortOpen(false));
        QCOMPARE(serial_->output("POWER\r"), Failure("Port is not open"));
        QVERIFY(serial_->input().isEmpty());
        if (!openOnPty())
            return;
        QVERIFY(serial_->setCommPort(4));
        QCOMPARE(serial_->commPort(), 3);
        QVERIFY(serial_->setPortOpen(true));
        QVERIFY(!serial_->setPortOpen(false));
        QVERIFY(!serial_->setPortOpen(false));
        QVERIFY(!serial_->portOpen());
    }

    void openFailure_data() {
        QTest::addColumn<QString>("device"); // what COM3 links to; "@" is the temporary folder
        QTest::addColumn<QFile::Permissions>("mode");
        QTest::addColumn<QString>("advice");
        QTest::newRow("dangling link: not there")
            << "@/gone/ttyUSB9" << QFile::Permissions() << "not there";
        QTest::newRow("unreadable device: dialout group")
            << "@/ttyUSB0" << QFile::Permissions() << "dialout";
        QTest::newRow("plain file: link the right device")
            << "@/ttyUSB0" << (QFile::ReadOwner | QFile::WriteOwner) << "link COM3";
    }

    void openFailure() {
#ifndef _WIN32
        QFETCH(QString, device);
        QFETCH(QFile::Permissions, mode);
        QFETCH(QString, advice);
        if (advice == "dialout" && ::geteuid() == 0)
            QSKIP("root may open a file of mode 000");

        device.replace('@', settings_->folder());
        if (!device.contains("gone")) {
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setPermissions(mode));
        }
        QVERIFY(QDir().mkpath(settings_->portsFolder()));
        QVERIFY(QFile::link(device, settings_->portsFolder() + "/com3"));
        QVERIFY(!serial_->setCommPort(3));

        const Failure failure = serial_->setPortOpen(true);
        QVERIFY(failure);
        QVERIFY2(failure->startsWith("COM3 could not be opened: " + device), qPrintable(*failure));
        QVERIFY2(failure->contains(advice), qPrintable(*failure));
        QVERIFY(!serial_->portOpen());
#endif
    }

    void lockHeldByAnotherComponent() {
        if (!openOnPty())
            return;
        // Through another link, as two programs set up differently would reach one adapter.
        QVERIFY(pty_->linkAsComPort(4, settings_->portsFolder()));
        QtSerialComponent other;
        QVERIFY(!other.setCommPort(4));
        const Failure failure = other.setPortOpen(true);
        QVERIFY(failure);
        QVERIFY2(failure->contains("another program is using " + pty_->devicePath()),
                 qPrintable(*failure));
        // The refused second open must leave the first one working.
        QVERIFY(!serial_->output("ok"));
        QCOMPARE(pty_->readExactly(2, 2000), QByteArray("ok"));
    }

    void outputReachesDevice_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("command and carriage return") << QByteArray("POWER\r");
        QTest::newRow("NUL, high bytes, CR and LF unchanged")
            << QByteArray("\0\x80\xff\r\n\x7f", 6);
        QTest::newRow("every byte value") << allByteValues();
    }

    void outputReachesDevice() {
        QFETCH(QByteArray, bytes);
        if (!openOnPty())
            return;
        QVERIFY(!serial_->output(bytes));
        QCOMPARE(pty_->readExactly(bytes.size(), 2000), bytes);
    }

    void inputReachesProgram_data() {
        outputReachesDevice_data();
        QTest::newRow("burst longer than one read")
            << QByteArray("FWD: 1000 REV: 12 VSWR: 1.2\r\n").repeated(200);
    }

    void inputReachesProgram() {
        QFETCH(QByteArray, bytes);
        if (!openOnPty())
            return;
        QByteArray received;
        connect(serial_.get(), &SerialComponent::OnComm, this, [&] {
            QCOMPARE(serial_->commEvent(), int(seriallink::comEvReceive));
            received += serial_->input();
        });
        QVERIFY(pty_->write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), bytes.size(), 2000);
        QCOMPARE(received, bytes);
    }

    void rthreshold_data() {
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("eventsAfterTwoBytes");
        QTest::addColumn<int>("eventsAfterThreeBytes");
        QTest::newRow("threshold 1 raises on every arrival") << 1 << 1 << 2;
        QTest::newRow("threshold 0 raises nothing") << 0 << 0 << 0;
        QTest::newRow("threshold 3 waits for three bytes") << 3 << 0 << 1;
    }

    void rthreshold() {
        QFETCH(int, threshold);
        QFETCH(int, eventsAfterTwoBytes);
        QFETCH(int, eventsAfterThreeBytes);
        if (!openOnPty())
            return;
        serial_->setRThreshold(threshold);
        QSignalSpy events(serial_.get(), &SerialComponent::OnComm);
        QVERIFY(events.isValid());

        // Nothing signals "arrived but no event", so give the bytes a moment to be read.
        QVERIFY(pty_->write("ab"));
        QTest::qWait(100);
        QCOMPARE(events.count(), eventsAfterTwoBytes);
        QVERIFY(pty_->write("c"));
        QTest::qWait(100);
        QCOMPARE(events.count(), eventsAfterThreeBytes);
        QCOMPARE(serial_->input(), QByteArray("abc"));
    }

    void settingsReachTheLine_data() {
        QTest::addColumn<bool>("beforeOpen");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("line"); // speed and stop bits

        // A pseudo-terminal forces 8 data bits and no parity whatever it is told, so only the
        // speed and the stop bits can be seen on it.
        QTest::newRow("300,N,8,1 on the open port") << false << "300,N,8,1" << true << "300 1";
        QTest::newRow("9600,N,8,2 on the open port") << false << "9600,N,8,2" << true << "9600 2";
        QTest::newRow("given while closed, applied at open")
            << true << "1200,N,8,2" << true << "1200 2";
        QTest::newRow("junk is refused, the line stays") << false << "junk" << false << "300 1";
        // Qt's termios call fails with "Invalid argument" for even parity on a pseudo-terminal,
        // which stands in here for a device that refuses a setting.
        QTest::newRow("refused settings put the speed back")
            << false << "9600,E,8,2" << false << "300 1";
    }

    void settingsReachTheLine() {
#ifndef _WIN32
        QFETCH(bool, beforeOpen);
        QFETCH(QString, settings);
        QFETCH(bool, accepted);
        QFETCH(QString, line);
        if (beforeOpen)
            QVERIFY(!serial_->setSettings(settings));
        if (!openOnPty())
            return;
        if (!beforeOpen)
            QCOMPARE(!serial_->setSettings(settings), accepted);

        // On Linux the master's termios calls act on the slave, whose line the program set.
        termios tio{};
        QCOMPARE(::tcgetattr(pty_->masterFd(), &tio), 0);
        static const QMap<speed_t, int> bauds{{B300, 300}, {B1200, 1200}, {B9600, 9600}};
        QCOMPARE(QStringLiteral("%1 %2")
                     .arg(bauds.value(::cfgetospeed(&tio)))
                     .arg((tio.c_cflag & CSTOPB) ? 2 : 1),
                 line);
#endif
    }

    void deviceLoss() {
#ifndef _WIN32
        if (!openOnPty())
            return;
        const QString device = pty_->devicePath();
        QSignalSpy lost(serial_.get(), &SerialComponent::deviceLost);
        QVERIFY(lost.isValid());

        pty_->closeMaster();
        QVERIFY(lost.wait(2000));
        QVERIFY(!serial_->portOpen());
        const QString description = lost.first().first().toString();
        QVERIFY2(description.contains("COM3") && description.contains(device) &&
                     description.contains("Ports menu"),
                 qPrintable(description));

        // Left open, a hung-up port has Qt report an error on every event-loop turn.
        const double before = cpuSeconds();
        QTest::qWait(1000);
        const double spent = cpuSeconds() - before;
        QVERIFY2(spent < 0.2, qPrintable(QString("%1 s of CPU in 1 s after the loss").arg(spent)));
        QCOMPARE(lost.count(), 1);
        QCOMPARE(serial_->output("POWER\r"), Failure("Port is not open"));
        QVERIFY(!serial_->setPortOpen(false));

        // The adapter comes back, here as a new terminal under the same COM number.
        Pty back;
        QVERIFY(back.linkAsComPort(3, settings_->portsFolder()));
        const Failure failure = serial_->setPortOpen(true);
        QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
        QVERIFY(!serial_->output("RESET\r"));
        QCOMPARE(back.readExactly(6, 2000), QByteArray("RESET\r"));
#endif
    }
};

QTEST_GUILESS_MAIN(TstSerialPort)
#include "tst_serial_port.moc"
