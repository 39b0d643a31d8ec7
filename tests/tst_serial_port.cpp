// The real serial component on pseudo-terminals: line settings, port rules, bytes both ways,
// the receive threshold, a lock held elsewhere and the loss of the device while it is open.
#include "link/qt_serial_component.h"
#include "support/cpu_time.h"
#include "support/pty.h"
#include "support/temp_settings.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <termios.h>

using seriallink::Failure;
using seriallink::QtSerialComponent;
using seriallink::SerialComponent;

class tst_serial_port : public QObject {
    Q_OBJECT

    std::unique_ptr<TempSettings> settings_;
    std::unique_ptr<Pty> pty_;
    std::unique_ptr<QtSerialComponent> serial_;

    // Opens COM3 on a fresh pseudo-terminal linked as COM3.
    bool openOnPty() {
        pty_ = std::make_unique<Pty>();
        if (!pty_->linkAsComPort(3, settings_->portsFolder()) || serial_->setCommPort(3))
            return false;
        const Failure failure = serial_->setPortOpen(true);
        if (failure)
            qWarning("COM3 did not open: %s", qPrintable(*failure));
        return !failure && serial_->device() == pty_->devicePath();
    }

private slots:
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
        QTest::addColumn<bool>("accepted");
        QTest::newRow("the program's settings") << "300,N,8,1" << true;
        QTest::newRow("lower-case odd, 5 bits, 1.5 stop, blanks") << " 1200 , o , 5 , 1.5 " << true;
        QTest::newRow("a field missing") << "300,N,8" << false;
        QTest::newRow("baud zero") << "0,N,8,1" << false;
        QTest::newRow("parity spelt out") << "300,None,8,1" << false;
        QTest::newRow("4 data bits") << "300,N,4,1" << false;
        QTest::newRow("3 stop bits") << "300,N,8,3" << false;
    }

    void parseLineSettings() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const auto parsed = seriallink::parseLineSettings(text);
        QCOMPARE(parsed.has_value(), accepted);
        if (text == "300,N,8,1")
            QVERIFY(*parsed == seriallink::LineSettings{});
        if (text.startsWith(" 1200"))
            QVERIFY((*parsed == seriallink::LineSettings{1200, QSerialPort::OddParity,
                                                         QSerialPort::Data5,
                                                         QSerialPort::OneAndHalfStop}));
    }

    void portRules() {
        QVERIFY(serial_->setCommPort(0) && serial_->setCommPort(17));
        QVERIFY(!serial_->setCommPort(16));
        QCOMPARE(serial_->commPort(), 16);
        QVERIFY(!serial_->setPortOpen(false));
        QCOMPARE(serial_->output("POWER\r"), Failure("Port is not open"));
        QVERIFY(serial_->input().isEmpty());
        QVERIFY(openOnPty());
        QVERIFY(serial_->setCommPort(4));
        QCOMPARE(serial_->commPort(), 3);
        QVERIFY(serial_->setPortOpen(true));
        QVERIFY(!serial_->setPortOpen(false) && !serial_->setPortOpen(false));
        QVERIFY(!serial_->portOpen());
    }

    void lockHeldByAnotherComponent() {
        QVERIFY(openOnPty());
        // Through another link, as two programs set up differently would reach one adapter.
        QVERIFY(pty_->linkAsComPort(4, settings_->portsFolder()));
        QtSerialComponent other;
        QVERIFY(!other.setCommPort(4));
        const Failure failure = other.setPortOpen(true);
        QVERIFY(failure && failure->contains("another program is using " + pty_->devicePath()));
        // The refused second open leaves the first one working.
        QVERIFY(!serial_->output("ok"));
        QCOMPARE(pty_->readExactly(2, 2000), QByteArray("ok"));
    }

    void bytesBothWays_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every += char(b);
        QTest::newRow("every byte value, NUL and CR LF included") << every;
        QTest::newRow("burst longer than one read")
            << QByteArray("FWD: 1000 REV: 12\r\n").repeated(300);
    }

    void bytesBothWays() {
        QFETCH(QByteArray, bytes);
        QVERIFY(openOnPty());
        QVERIFY(!serial_->output(bytes));
        QCOMPARE(pty_->readExactly(int(bytes.size()), 2000), bytes);

        QByteArray received;
        connect(serial_.get(), &SerialComponent::OnComm, this, [&] {
            QCOMPARE(serial_->commEvent(), int(seriallink::comEvReceive));
            received += serial_->input();
        });
        QVERIFY(pty_->write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(received, bytes, 2000);
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
        QVERIFY(openOnPty());
        serial_->setRThreshold(threshold);
        QSignalSpy events(serial_.get(), &SerialComponent::OnComm);
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
        QTest::addColumn<QString>("line"); // speed and stop bits, all a pseudo-terminal keeps

        QTest::newRow("9600,N,8,2 on the open port") << false << "9600,N,8,2" << true << "9600 2";
        QTest::newRow("given while closed, applied at open")
            << true << "1200,N,8,2" << true << "1200 2";
        QTest::newRow("junk is refused, the line stays") << false << "junk" << false << "300 1";
        // A pseudo-terminal refuses even parity, as a device may refuse a setting.
        QTest::newRow("refused settings put the speed back")
            << false << "9600,E,8,2" << false << "300 1";
    }

    void settingsReachTheLine() {
        QFETCH(bool, beforeOpen);
        QFETCH(QString, settings);
        QFETCH(bool, accepted);
        QFETCH(QString, line);
        if (beforeOpen)
            QVERIFY(!serial_->setSettings(settings));
        QVERIFY(openOnPty());
        if (!beforeOpen)
            QCOMPARE(!serial_->setSettings(settings), accepted);
        // On Linux the master's termios calls act on the slave, whose line the program set.
        termios tio{};
        QCOMPARE(::tcgetattr(pty_->masterFd(), &tio), 0);
        static const QMap<speed_t, int> bauds{{B300, 300}, {B1200, 1200}, {B9600, 9600}};
        QCOMPARE(QString("%1 %2")
                     .arg(bauds.value(::cfgetospeed(&tio)))
                     .arg((tio.c_cflag & CSTOPB) ? 2 : 1),
                 line);
    }

    void deviceLoss() {
        QVERIFY(openOnPty());
        const QString device = pty_->devicePath();
        QSignalSpy lost(serial_.get(), &SerialComponent::deviceLost);
        pty_->closeMaster();
        QVERIFY(lost.wait(2000));
        QVERIFY(!serial_->portOpen());
        const QString description = lost.first().first().toString();
        QVERIFY2(description.contains("COM3 (" + device + ")"), qPrintable(description));

        // Left open, a hung-up port has Qt report an error on every event-loop turn.
        const double before = cpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(cpuSeconds() - before < 0.2, "the lost port keeps a core busy");
        QCOMPARE(lost.count(), 1);
        QCOMPARE(serial_->output("POWER\r"), Failure("Port is not open"));

        // The adapter comes back, here as a new terminal under the same COM number.
        Pty back;
        QVERIFY(back.linkAsComPort(3, settings_->portsFolder()));
        QVERIFY(!serial_->setPortOpen(true));
        QVERIFY(!serial_->output("RESET\r"));
        QCOMPARE(back.readExactly(6, 2000), QByteArray("RESET\r"));
    }
};

QTEST_GUILESS_MAIN(tst_serial_port)
#include "tst_serial_port.moc"
