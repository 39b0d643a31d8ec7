// Faults of the device and the line as the operator meets them, through the real serial
// component on pseudo-terminals linked as COM ports: how many boxes, which marks, whether the
// window idles, keeps answering and gives its memory back.
//
// WATTMETER_FLOOD_MB sets the size of the flood: 10 by default, 2 in a sanitized build.
#include "link/qt_serial_component.h"
#include "pane_model/pane_model.h"
#include "support/cpu_time.h"
#include "support/pty.h"
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

// CPU time spent while the event loop runs for a second: a hung-up port that nobody closes
// makes Qt report an error on every turn of the loop.
double cpuOverOneSecond() {
    const double before = cpuSeconds();
    QTest::qWait(1000);
    return cpuSeconds() - before;
}

double residentMegabytes() {
    QFile statm("/proc/self/statm");
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toDouble() *
                                                 double(::sysconf(_SC_PAGESIZE)) / (1 << 20)
                                           : 0;
}

} // namespace

class tst_device_faults : public QObject {
    Q_OBJECT
private slots:
    void deviceVanishesWhileOpen();
    void deviceRefusesToOpen_data();
    void deviceRefusesToOpen();
    void flood();
};

void tst_device_faults::deviceVanishesWhileOpen() {
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty, 3));
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
    // Full line, then gone with writes pending: the window goes on ticking, idles, and says so
    // once. The mark still records the operator's choice; buttons and keys write nowhere.
    for (const bool gone : {false, true}) {
        if (gone)
            pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), gone ? 1 : 0, 2000);
        ticks.clear();
        QVERIFY2(cpuOverOneSecond() < 0.2, "the stuck or lost line keeps a core busy");
        QVERIFY(ticks.count() >= 1);
    }
    const ShownBox box = live.boxes->shown.first();
    QVERIFY2(box.style == app::vbExclamation && box.title.isEmpty() &&
                 box.prompt.startsWith("COM3 (/dev/pts/"),
             qPrintable(box.prompt));
    QCOMPARE(checkedPorts(*live.window), QList<int>{3});
    QTest::keyClicks(&live.part("txtTerm"), "POWER");
    QCOMPARE(live.boxes->shown.size(), 1);

    // The adapter is plugged in again, here as a new terminal behind the same link.
    Pty back;
    QVERIFY(back.linkAsComPort(3, live.settings.portsFolder()));
    live.part<QAction>("mnuPortsCom3").trigger();
    live.part<QAction>("mnuPollDisabled").trigger();
    back.read(1 << 20, 100); // whatever a poll got out before polling stopped
    QTest::mouseClick(&live.part<QPushButton>("Status"), Qt::LeftButton);
    QCOMPARE(back.read(7, 2000), "STATUS\r");
    QCOMPARE(live.boxes->shown.size(), 1);
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
    LiveWindow live; // COM1 is open and marked when the operator picks COM3
    Pty pty, locked;
    QVERIFY(live.load(pty, 1));
    const QString folder = live.settings.portsFolder();
    seriallink::QtSerialComponent otherProgram;
    QFile file(folder + "/ttyUSB0");
    if (device == "locked") {
        QVERIFY(locked.linkAsComPort(4, folder) && locked.linkAsComPort(3, folder));
        QVERIFY(!otherProgram.setCommPort(4) && !otherProgram.setPortOpen(true));
    } else {
        QVERIFY(device == "missing" || file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(device == "mode 000" ? QFile::Permissions()
                                                         : QFile::ReadOwner | QFile::WriteOwner) ||
                device == "missing");
        QVERIFY(QFile::link(file.fileName(), folder + "/com3"));
    }

    live.part<QAction>("mnuPortsCom3").trigger();
    QCOMPARE(live.boxes->shown.size(), 1);
    const QString prompt = live.boxes->shown.first().prompt;
    QVERIFY2(prompt.startsWith("COM3 could not be opened") && prompt.contains(advice),
             qPrintable(prompt));
    // The failed command closed COM1 and remembered COM3, but the mark stays where it was.
    QCOMPARE(checkedPorts(*live.window), QList<int>{1});
    QCOMPARE(live.settings.value("port"), "3");
    QTest::mouseClick(&live.part<QPushButton>("Reset"), Qt::LeftButton);
    QVERIFY(pty.read(6, 200).isEmpty());
    // Going back to COM1 works, with no further box.
    live.part<QAction>("mnuPortsCom1").trigger();
    QTest::mouseClick(&live.part<QPushButton>("Reset"), Qt::LeftButton);
    QCOMPARE(pty.read(6, 2000), "RESET\r");
    QCOMPARE(live.boxes->shown.size(), 1);
}

void tst_device_faults::flood() {
#if defined(__SANITIZE_ADDRESS__)
    const int megabytes = qEnvironmentVariableIntValue("WATTMETER_FLOOD_MB") ?: 2;
#else
    const int megabytes = qEnvironmentVariableIntValue("WATTMETER_FLOOD_MB") ?: 10;
#endif
    // A quarter megabyte of replies, alarms, band reports and line noise, again and again.
    QByteArray block;
    QRandomGenerator random(7);
    for (int i = 0; block.size() < 256 << 10; ++i) {
        block += "FWD: 850 REV: 12\rVSWR: 1.3:1\rCURRENT:  1.1  2.2  3.3  4.4  11.0  \r";
        block += i % 20 ? "" : "HIGH VSWR\rHIGH BAND SELECTED\r";
        for (int n = 0; n < 40; ++n)
            block += random.bounded(2) ? "\r\b\n"[random.bounded(3)] : char(random.bounded(256));
    }
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty));
    live.window->show();
    live.part<QAction>("mnuPoll1").trigger();
    QSignalSpy ticks(&live.part<seriallink::IntervalTimer>("Timer1"),
                     &seriallink::IntervalTimer::tick);
    // Warm up first, so the panes, the fonts and the buffers have their working size.
    QVERIFY(pty.write(block) && ticks.wait(3000));
    pty.read(1 << 20, 100);
    const double residentBefore = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < megabytes * 64; ++i)
        QVERIFY(pty.write(block.mid(i % 16 * (16 << 10), 16 << 10)));
    // The flood has ended once the window has taken the last byte off the line; the bound only
    // tells a window that stopped answering from a slow one.
    ticks.clear();
    QVERIFY(ticks.wait(10000));
    QVERIFY(pty.read(1 << 20, 1500).contains("POWER\r"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double residentAfter = residentMegabytes();
    qInfo(
        "%d MB flood: tick %lld ms after the writes began; resident %.1f MB before, %.1f MB after; "
        "terminal pane %zu characters",
        megabytes, clock.elapsed(), residentBefore, residentAfter,
        ui::paneLength(live.part<QPlainTextEdit>("txtTerm")));

    QVERIFY(live.boxes->shown.isEmpty());
    QCOMPARE(live.part<QLineEdit>("txtForward").text(), "850");
    QVERIFY(ui::paneLength(live.part<QPlainTextEdit>("txtAlarms")) <= panemodel::kPaneLimit + 64);
}

QTEST_MAIN(tst_device_faults)
#include "tst_device_faults.moc"
