// The serial line: which device a COM port is, the advice when it cannot be opened, and the real
// serial component on pseudo-terminals, down to a device that goes and comes back.
#include "link/com_port.h"
#include "link/qt_serial_component.h"
#include "support/pty.h"
#include "support/temp_settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <ctime>
#include <memory>
#include <numeric>
#include <termios.h>

using seriallink::QtSerialComponent;

class tst_serial_port : public QObject {
    Q_OBJECT
    TempSettings settings_;
    Pty pty_;
    QtSerialComponent serial_;

private slots:
    void init() {
        QVERIFY(pty_.linkAsComPort(3, settings_.portsFolder()));
        serial_.setRThreshold(1);
    }
    void cleanup() { (void)serial_.setPortOpen(false); }

    void comPorts_data() {
        // Links in the ports folder, as name and target; "@" is a folder holding the file ttyUSB0.
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QString>("device");
        QTest::newRow("a chain: the final device")
            << 3 << QStringList{"com3", "@/by-id", "@/by-id", "@/ttyUSB0"} << "@/ttyUSB0";
        QTest::newRow("relative to the link")
            << 5 << QStringList{"com5", "../../ttyUSB0"} << "@/ttyUSB0";
        QTest::newRow("dangling: still named")
            << 3 << QStringList{"com3", "@/gone/ttyUSB7"} << "@/gone/ttyUSB7";
        QTest::newRow("another port's link")
            << 2 << QStringList{"com3", "@/ttyUSB0"} << "/dev/ttyS1";
        QTest::newRow("no link") << 16 << QStringList{} << "/dev/ttyS15";
    }
    void comPorts() {
        QFETCH(int, port);
        QFETCH(QStringList, links);
        QFETCH(QString, device);
        TempSettings settings;
        const QString root = QFileInfo(settings.folder()).canonicalFilePath();
        QFile file(root + "/ttyUSB0");
        QVERIFY(QDir().mkpath(settings.portsFolder()) && file.open(QIODevice::WriteOnly));
        for (qsizetype i = 0; i + 1 < links.size(); i += 2) {
            const QString name = links[i].replace('@', root);
            QVERIFY(QFile::link(links[i + 1].replace('@', root),
                                name.startsWith('/') ? name : settings.portsFolder() + '/' + name));
        }
        QCOMPARE(seriallink::comPortDevice(port), device.replace('@', root));
    }

    void openFailureAdvice_data() {
        // The error, the system's reason, what the advice must say ('|' between) and must not.
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("advice");
        QTest::addColumn<QString>("misleading");
        const QString link = "mkdir -p \"" + settings_.portsFolder() +
                             "\" && ln -sf /dev/ttyUSB0 \"" + settings_.portsFolder() + "/com3\"";
        const auto row = [](const char* name, QSerialPort::SerialPortError error,
                            const QString& reason, const QString& advice, const char* misleading) {
            QTest::newRow(name) << error << reason << advice << QString(misleading);
        };
        const auto permission = QSerialPort::PermissionError;
        row("missing", QSerialPort::DeviceNotFoundError, qt_error_string(ENOENT),
            "ttyUSB4 is not there|Plug|" + link, "dialout");
        row("not in dialout", permission, qt_error_string(EACCES),
            "sudo usermod -aG dialout $USER|log out", "another");
        row("locked by another program", permission,
            QSerialPort::tr("Permission error while locking the device"),
            "another program is using /dev/ttyUSB4|Close", "dialout");
        row("busy", permission, qt_error_string(EBUSY), "another program", "dialout");
        row("not a terminal", QSerialPort::UnsupportedOperationError, qt_error_string(ENOTTY),
            "/dev/ttyUSB4: |" + link, "not there");
    }

    void openFailureAdvice() {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(QString, reason);
        QFETCH(QString, advice);
        QFETCH(QString, misleading);
        const QString text = seriallink::openFailureDescription(3, "/dev/ttyUSB4", error, reason);
        QVERIFY(text.startsWith("COM3 could not be opened: ") && text.contains(reason));
        for (const QString& needed : advice.split('|'))
            QVERIFY2(text.contains(needed), qPrintable(text));
        QVERIFY2(!text.contains(misleading), qPrintable(text));
    }

    void portRules() {
        QVERIFY(!serial_.setCommPort(0) && !serial_.setCommPort(17) && serial_.setCommPort(16) &&
                serial_.setCommPort(5));
        QVERIFY(QFile::link("/nonexistent/ttyUSB9", settings_.portsFolder() + "/com5"));
        QVERIFY(serial_.setPortOpen(true).errorString().contains("ttyUSB9 is not there"));
        QCOMPARE(serial_.output("POWER\r").errorString(), "Port is not open");
        QVERIFY(serial_.setCommPort(3) && serial_.setPortOpen(true) && serial_.portOpen());
        QCOMPARE(serial_.device(), pty_.devicePath());
        QVERIFY(!serial_.setCommPort(4) && !serial_.setPortOpen(true));
        QCOMPARE(serial_.commPort(), 3);
        // Through another link, as a second program set up differently would reach the adapter.
        QVERIFY(pty_.linkAsComPort(4, settings_.portsFolder()));
        QtSerialComponent other;
        QVERIFY(other.setCommPort(4));
        QVERIFY(other.setPortOpen(true).errorString().contains("another program is using " +
                                                               pty_.devicePath()));
        QVERIFY(serial_.output("ok"));
        QCOMPARE(pty_.read(2, 2000), QByteArray("ok"));
        QVERIFY(serial_.setPortOpen(false) && serial_.setPortOpen(false) && !serial_.portOpen());
    }

    void settingsReachTheLine_data() {
        // Settings given while closed apply at open, then the open port takes others. A
        // pseudo-terminal keeps only the speed and the stop bits, and refuses even parity, as a
        // device may refuse a setting: the line then stays as it was.
        QTest::addColumn<QString>("beforeOpen");
        QTest::addColumn<QString>("onOpen"); // empty: none
        QTest::addColumn<QString>("line");   // speed and stop bits on the terminal
        const auto row = [](const char* name, const char* onOpen, const char* line,
                            const char* beforeOpen = "300,N,8,1") {
            QTest::newRow(name) << QString(beforeOpen) << QString(onOpen) << QString(line);
        };
        row("the line's own settings", "", "300 1");
        row("blanks and lower case, while closed", "", "1200 1", " 1200 , o , 5 , 1.5 ");
        row("changed while open", "9600,N,8,2", "9600 2");
        row("refused by the device", "9600,E,8,2", "300 1");
        row("three fields", "300,N,8", "300 1");
        row("speed 0", "0,N,8,1", "300 1");
        row("parity spelled out", "300,None,8,1", "300 1");
        row("4 data bits", "300,N,4,1", "300 1");
        row("3 stop bits", "300,N,8,3", "300 1");
    }
    void settingsReachTheLine() {
        QFETCH(QString, beforeOpen);
        QFETCH(QString, onOpen);
        QFETCH(QString, line);
        QVERIFY(serial_.setSettings(beforeOpen));
        QVERIFY(serial_.setCommPort(3) && serial_.setPortOpen(true));
        if (!onOpen.isEmpty())
            QCOMPARE(bool(serial_.setSettings(onOpen)), line != "300 1");
        // On Linux the master's termios calls act on the slave, whose line the program set.
        termios tio{};
        QCOMPARE(::tcgetattr(pty_.masterFd(), &tio), 0);
        const QMap<speed_t, int> bauds{{B300, 300}, {B1200, 1200}, {B9600, 9600}};
        QCOMPARE(QString("%1 %2")
                     .arg(bauds.value(::cfgetospeed(&tio)))
                     .arg(tio.c_cflag & CSTOPB ? 2 : 1),
                 line);
    }

    void bytesBothWaysAndTheThreshold() {
        QVERIFY(serial_.setCommPort(3) && serial_.setPortOpen(true));
        QByteArray every(256, 0);
        std::iota(every.begin(), every.end(), char(0));
        QVERIFY(serial_.output(every));
        QCOMPARE(pty_.read(256, 2000), every);
        const QByteArray burst = QByteArray("FWD: 1000 REV: 12\r\n").repeated(300) + every;
        QByteArray received;
        connect(&serial_, &QtSerialComponent::OnComm, this, [&] {
            QCOMPARE(serial_.commEvent(), int(seriallink::comEvReceive));
            received += serial_.input();
        });
        QVERIFY(pty_.write(burst));
        QTRY_COMPARE_WITH_TIMEOUT(received, burst, 2000);

        // A threshold of 0 raises no event. Nothing signals "arrived but no event": the bounded
        // wait gives the bytes the time to be read.
        serial_.disconnect(this);
        QSignalSpy events(&serial_, &QtSerialComponent::OnComm);
        serial_.setRThreshold(0);
        QVERIFY(pty_.write("ab"));
        QTest::qWait(100);
        QCOMPARE(events.count(), 0);
        serial_.setRThreshold(3);
        QVERIFY(pty_.write("c"));
        QTRY_COMPARE(events.count(), 1);
        QCOMPARE(serial_.input(), QByteArray("abc"));
    }

    void reopensWhenTheDeviceReturns() {
        // Twenty unplug and return cycles, each a new terminal behind the same link, leave the
        // open files and the memory as they were.
        const auto usage = [] {
            return std::pair(QDir("/proc/self/fd").count(), residentMegabytes());
        };
        QVERIFY(serial_.setCommPort(3) && serial_.setPortOpen(true));
        // The first one goes with far more pending than a terminal buffers, never read off the
        // other end: a write that waited for the line would never come back.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(serial_.output(QByteArray(4 << 20, 'x')) && clock.elapsed() < 5000);
        QSignalSpy reopened(&serial_, &QtSerialComponent::reopened);
        QSignalSpy failed(&serial_, &QtSerialComponent::reopenFailed);
        std::pair<uint, int> before;
        std::unique_ptr<Pty> device;
        for (int cycle = 0; cycle < 20; ++cycle) {
            QVERIFY(QFile::remove(settings_.portsFolder() + "/com3")); // the link goes with it
            (device ? *device : pty_).closeMaster();
            QTRY_VERIFY_WITH_TIMEOUT(!serial_.portOpen(), 2000);
            device = std::make_unique<Pty>();
            QVERIFY(device->linkAsComPort(3, settings_.portsFolder()));
            QTRY_COMPARE_WITH_TIMEOUT(reopened.count(), cycle + 1, 3000);
            QVERIFY(serial_.output("ok") && device->read(2, 2000) == "ok");
            before = cycle == 1 ? usage() : before;
        }
        QVERIFY(usage().first == before.first && usage().second - before.second < 2);

        // Back as a plain file: never opened, never a busy loop, said once.
        device->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!serial_.portOpen(), 2000);
        QFile plain(settings_.portsFolder() + "/com3");
        QVERIFY(QFile::remove(plain.fileName()) && plain.open(QIODevice::WriteOnly));
        const std::clock_t cpu = std::clock();
        QTest::qWait(2500); // the watch's looks, the second one backed off: nothing may open
        QVERIFY(!serial_.portOpen() && double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1);
        QCOMPARE(failed.count(), 1);
        // COM1 whose link went before its device: the fallback /dev/ttyS0 is not the lost device.
        device = std::make_unique<Pty>();
        QVERIFY(serial_.setPortOpen(false) && device->linkAsComPort(1, settings_.portsFolder()));
        QVERIFY(serial_.setCommPort(1) && serial_.setPortOpen(true));
        QVERIFY(QFile::remove(settings_.portsFolder() + "/com1"));
        device->closeMaster();
        QTest::qWait(1500); // the loss and a look of the watch: nothing may reopen
        QVERIFY(!serial_.portOpen() && reopened.count() == 20);
    }
};

QTEST_GUILESS_MAIN(tst_serial_port)
#include "tst_serial_port.moc"
