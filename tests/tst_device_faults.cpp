// Faults of the serial device as the operator meets them, with the real serial component on
// pseudo-terminals linked as COM ports: how many boxes, which marks, whether the window idles.
#include "link/qt_serial_component.h"
#include "support/cpu_time.h"
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

// CPU time the process spends while the event loop runs for a second: a hung-up port that
// nobody closes makes Qt report an error on every turn of the loop.
double cpuOverOneSecond() {
    const double before = cpuSeconds();
    QTest::qWait(1000);
    return cpuSeconds() - before;
}

} // namespace

class tst_device_faults : public QObject {
    Q_OBJECT
private slots:
    void deviceVanishesWhileOpen();
    void deviceRefusesToOpen_data();
    void deviceRefusesToOpen();
    void writesNeverBlock_data();
    void writesNeverBlock();
};

void tst_device_faults::deviceVanishesWhileOpen() {
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty, 3));
    live.part<QAction>("mnuPoll1").trigger();
    live.part<QAction>("mnuPollCurrent").trigger();

    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), 1, 2000);
    const ShownBox box = live.boxes->shown.first();
    QCOMPARE(box.style, int(app::vbExclamation));
    QVERIFY(box.title.isEmpty());
    QVERIFY2(box.prompt.startsWith("COM3 (/dev/pts/") && box.prompt.contains("Ports menu"),
             qPrintable(box.prompt));
    QVERIFY(!live.serial->portOpen());

    // Polls keep falling due twice a second; none of it may spin or raise another box.
    const double spent = cpuOverOneSecond();
    QVERIFY2(spent < 0.2, qPrintable(QString("%1 s of CPU in 1 s after the loss").arg(spent)));
    // The mark still records the operator's choice; buttons and keys write nowhere, quietly.
    QCOMPARE(checkedPorts(*live.window), QList<int>{3});
    for (const char* button : {"Read", "Current", "Status", "Reset"})
        QTest::mouseClick(&live.part<QPushButton>(button), Qt::LeftButton);
    QTest::keyClicks(&live.part("txtTerm"), "POWER");
    QCOMPARE(live.boxes->shown.size(), 1);

    // The adapter is plugged in again, here as a new terminal behind the same link.
    Pty back;
    QVERIFY(back.linkAsComPort(3, live.settings.portsFolder()));
    live.part<QAction>("mnuPortsCom3").trigger();
    live.part<QAction>("mnuPollDisabled").trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    back.read(100); // whatever a poll got out before polling stopped
    QTest::mouseClick(&live.part<QPushButton>("Status"), Qt::LeftButton);
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
    if (device == "mode 000" && ::geteuid() == 0)
        QSKIP("root may open a device of mode 000");
    // COM1 is open and marked when the operator picks COM3.
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty, 1));
    const QString folder = live.settings.portsFolder();
    Pty locked;
    seriallink::QtSerialComponent otherProgram;
    if (device == "missing") {
        QVERIFY(QFile::link(folder + "/ttyUSB7", folder + "/com3"));
    } else if (device == "locked") {
        QVERIFY(locked.linkAsComPort(4, folder) && locked.linkAsComPort(3, folder));
        QVERIFY(!otherProgram.setCommPort(4) && !otherProgram.setPortOpen(true));
    } else {
        QFile file(folder + "/ttyUSB0");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(device == "mode 000" ? QFile::Permissions()
                                                         : QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::link(file.fileName(), folder + "/com3"));
    }

    live.part<QAction>("mnuPortsCom3").trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    const QString prompt = live.boxes->shown.first().prompt;
    QVERIFY2(prompt.startsWith("COM3 could not be opened") && prompt.contains(advice),
             qPrintable(prompt));
    // The failed command closed COM1 and remembered COM3, but the mark stays where it was.
    QCOMPARE(checkedPorts(*live.window), QList<int>{1});
    QCOMPARE(live.settings.value("port"), QStringLiteral("3"));
    QTest::mouseClick(&live.part<QPushButton>("Reset"), Qt::LeftButton);
    QVERIFY(pty.read(200).isEmpty());

    // Going back to COM1 works, with no further box.
    live.part<QAction>("mnuPortsCom1").trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    QTest::mouseClick(&live.part<QPushButton>("Reset"), Qt::LeftButton);
    QCOMPARE(pty.readExactly(6, 2000), QByteArray("RESET\r"));
}

void tst_device_faults::writesNeverBlock_data() {
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("nobody reads the device") << false;
    QTest::newRow("device goes while writes are pending") << true;
}

void tst_device_faults::writesNeverBlock() {
    QFETCH(bool, hangUp);
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty));
    QSignalSpy ticks(&live.part<seriallink::IntervalTimer>("Timer1"),
                     &seriallink::IntervalTimer::tick);

    // Far more than a terminal buffers, never read off the other end. A write that waited for
    // the line would never come back; the bound only fails the test instead of hanging it.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!live.serial->output(QByteArray(4 << 20, 'x')));
    for (int i = 0; i < 1000; ++i)
        QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    live.part<QAction>("mnuPoll1").trigger();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString("writes took %1 ms").arg(clock.elapsed())));

    if (hangUp) {
        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), 1, 2000);
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
