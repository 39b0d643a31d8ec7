// Faults of the serial device as the operator meets them: the real window with the real serial
// component, on pseudo-terminals linked as COM ports, and every message box recorded. The
// component's own answers to these faults are tested in tst_serial_port; here it is what the
// window makes of them: how many boxes, which check marks, whether the window stays responsive.
#include "link/qt_serial_component.h"
#include "support/cpu_time.h"
#include "support/pty.h"
#include "support/recording_message_box.h"
#include "support/temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// CPU time the process spends while the event loop runs for a second. A hung-up port that
// nobody closes makes Qt report an error on every turn of the loop, which costs a whole core.
double cpuOverOneSecond() {
#ifndef _WIN32
    const double before = cpuSeconds();
    QTest::qWait(1000);
    return cpuSeconds() - before;
#else
    return 0;
#endif
}

// The window on the real serial component; COM3 is a pseudo-terminal, stored as the port.
struct LiveWindow {
    TempSettings settings;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window =
        std::make_unique<ui::frmWattmeter>(std::make_unique<seriallink::QtSerialComponent>(),
                                           std::unique_ptr<seriallink::MessageBox>(boxes));

    // Loads the window with the terminal as the stored port; true once RESET arrived on it.
    bool load(int port = 3) {
        if (!pty->isValid() || !pty->linkAsComPort(port, settings.portsFolder()))
            return false;
        settings.set("port", QString::number(port));
        window->Form_Load();
        return pty->readExactly(6, 2000) == "RESET\r" && boxes->shown.isEmpty();
    }

    QList<int> checkedPorts() const {
        QList<int> ports;
        for (int n = 1; n <= 16; ++n) {
            if (window->mnuPortsCom[n - 1]->isChecked())
                ports << n;
        }
        return ports;
    }
};

} // namespace

class tst_device_faults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceVanishesWhileOpen();
    void deviceRefusesToOpen_data();
    void deviceRefusesToOpen();
    void writesNeverBlock_data();
    void writesNeverBlock();
};

void tst_device_faults::initTestCase() {
#ifdef _WIN32
    QSKIP("the tests play the device on a pseudo-terminal");
#endif
}

void tst_device_faults::deviceVanishesWhileOpen() {
    LiveWindow live;
    QVERIFY(live.load());
    live.window->mnuPoll1->trigger();
    live.window->mnuPollCurrent->trigger();
    const QString device = live.pty->devicePath();

    live.pty->closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), 1, 2000);
    const ShownBox box = live.boxes->shown.first();
    QCOMPARE(box.style, int(seriallink::vbExclamation));
    QVERIFY(box.title.isEmpty());
    QVERIFY2(box.prompt.contains("COM3") && box.prompt.contains(device) &&
                 box.prompt.contains("Ports menu"),
             qPrintable(box.prompt));
    QVERIFY(!live.window->MSComm1->portOpen());

    // Polls keep falling due twice a second; none of it may spin or raise another box.
    const double spent = cpuOverOneSecond();
    QVERIFY2(spent < 0.2, qPrintable(QString("%1 s of CPU in 1 s after the loss").arg(spent)));
    QCOMPARE(live.boxes->shown.size(), 1);

    // The port's mark still records the operator's choice; the buttons' writes fail silently.
    QCOMPARE(live.checkedPorts(), QList<int>{3});
    for (QPushButton* button :
         {live.window->Read, live.window->Current, live.window->Status, live.window->Reset})
        QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClicks(live.window->txtTerm, "POWER");
    QTest::qWait(100);
    QCOMPARE(live.boxes->shown.size(), 1);

    // The adapter is plugged in again, here as a new terminal behind the same link.
    Pty back;
    QVERIFY(back.linkAsComPort(3, live.settings.portsFolder()));
    live.window->mnuPortsCom[2]->trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    QCOMPARE(live.checkedPorts(), QList<int>{3});
    QVERIFY(live.window->MSComm1->portOpen());
    live.window->mnuPollDisabled->trigger();
    back.read(100); // whatever a poll got out before polling stopped
    QTest::mouseClick(live.window->Status, Qt::LeftButton);
    QCOMPARE(back.readExactly(7, 2000), QByteArray("STATUS\r"));
}

void tst_device_faults::deviceRefusesToOpen_data() {
    QTest::addColumn<QString>("device"); // what stands behind COM3
    QTest::addColumn<QString>("advice"); // what the box tells the operator to do
    QTest::newRow("missing device") << "missing"
                                    << "Plug the serial adapter in";
    QTest::newRow("locked by another program") << "locked"
                                               << "Close that program";
    QTest::newRow("no permission") << "mode 000"
                                   << "dialout";
    QTest::newRow("not a serial device") << "plain file"
                                         << "link COM3 to it";
}

void tst_device_faults::deviceRefusesToOpen() {
    QFETCH(QString, device);
    QFETCH(QString, advice);
#ifndef _WIN32
    if (device == "mode 000" && ::geteuid() == 0)
        QSKIP("root may open a device of mode 000");
#endif
    // COM1 is open and marked when the operator picks COM3.
    LiveWindow live;
    QVERIFY(live.load(1));
    QCOMPARE(live.checkedPorts(), QList<int>{1});

    const QString folder = live.settings.portsFolder();
    const QString com3 = folder + "/com3";
    Pty lockedPty;
    seriallink::QtSerialComponent otherProgram;
    if (device == "missing") {
        QVERIFY(QFile::link(folder + "/ttyUSB7", com3));
    } else if (device == "locked") {
        QVERIFY(lockedPty.linkAsComPort(4, folder));
        QVERIFY(!otherProgram.setCommPort(4));
        QVERIFY(!otherProgram.setPortOpen(true));
        QVERIFY(lockedPty.linkAsComPort(3, folder));
    } else {
        QFile file(folder + "/ttyUSB0");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(device == "mode 000" ? QFile::Permissions()
                                                         : QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::link(file.fileName(), com3));
    }

    live.window->mnuPortsCom[2]->trigger();

    QCOMPARE(live.boxes->shown.size(), 1);
    const ShownBox box = live.boxes->shown.first();
    QCOMPARE(box.style, int(seriallink::vbExclamation));
    QVERIFY(box.title.isEmpty());
    QVERIFY2(box.prompt.startsWith("COM3 could not be opened") && box.prompt.contains(advice),
             qPrintable(box.prompt));
    // The failed command closed COM1 and remembered COM3, but the mark stays where it was.
    QCOMPARE(live.checkedPorts(), QList<int>{1});
    QVERIFY(!live.window->MSComm1->portOpen());
    QCOMPARE(live.window->port, QStringLiteral("3"));
    QCOMPARE(live.settings.value("port"), QStringLiteral("3"));

    // Going back to COM1 works, with no further box.
    live.window->mnuPortsCom[0]->trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    QVERIFY(live.window->MSComm1->portOpen());
    QTest::mouseClick(live.window->Reset, Qt::LeftButton);
    QCOMPARE(live.pty->readExactly(6, 2000), QByteArray("RESET\r"));
}

void tst_device_faults::writesNeverBlock_data() {
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("nobody reads the device") << false;
    QTest::newRow("device goes while writes are pending") << true;
}

void tst_device_faults::writesNeverBlock() {
    QFETCH(bool, hangUp);
    LiveWindow live;
    QVERIFY(live.load());
    QSignalSpy ticks(live.window->Timer1, &seriallink::IntervalTimer::tick);
    QVERIFY(ticks.isValid());

    // Far more than a terminal buffers; the test never reads it off the other end.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!live.window->MSComm1->output(QByteArray(4 << 20, 'x')));
    for (int i = 0; i < 1000; ++i)
        QTest::mouseClick(live.window->Read, Qt::LeftButton);
    live.window->mnuPoll1->trigger();
    const qint64 elapsed = clock.elapsed();
    // A write that waited for the line would never come back at all; the bound is only there to
    // fail the test instead of hanging it.
    QVERIFY2(elapsed < 5000, qPrintable(QString("writes took %1 ms").arg(elapsed)));
    qInfo("4 MB and 1000 button writes into a full line returned after %lld ms", elapsed);

    if (hangUp) {
        live.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), 1, 2000);
        QVERIFY(!live.window->MSComm1->portOpen());
    }
    // Full line or gone, the window goes on ticking, and idles while it waits.
    ticks.clear();
    const double spent = cpuOverOneSecond();
    QVERIFY2(spent < 0.2, qPrintable(QString("%1 s of CPU in 1 s of a stuck line").arg(spent)));
    QVERIFY(ticks.count() >= 1);
    QCOMPARE(live.boxes->shown.size(), hangUp ? 1 : 0);
}

QTEST_MAIN(tst_device_faults)
#include "tst_device_faults.moc"
