// Faults of the device as the operator meets them, through the real serial component on
// pseudo-terminals linked as COM ports: how many boxes, which marks, whether the window idles.
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

namespace {

// CPU time spent while the event loop runs for a second: a hung-up port that nobody closes
// makes Qt report an error on every turn of the loop.
double cpuOverOneSecond() {
    const std::clock_t before = std::clock();
    QTest::qWait(1000);
    return double(std::clock() - before) / CLOCKS_PER_SEC;
}

} // namespace

class tst_device_faults : public QObject {
    Q_OBJECT
private slots:
    void deviceVanishesWhileOpen();
    void deviceRefusesToOpen();
    void lineThatNeverGoesQuiet();
};

void tst_device_faults::deviceVanishesWhileOpen() {
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty, 3));
    QSignalSpy ticks(&live.part<app::IntervalTimer>("Timer1"), &app::IntervalTimer::tick);
    // Far more than a terminal buffers, never read off the other end. A write that waited for
    // the line would never come back; the bound only fails the test instead of hanging it.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(live.serial->output(QByteArray(4 << 20, 'x')));
    for (int i = 0; i < 1000; ++i)
        QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    live.part<QAction>("mnuPoll1").trigger();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString("writes took %1 ms").arg(clock.elapsed())));
    // Full line, then gone with writes pending: the window goes on ticking, idles, and says so
    // once. The mark still records the operator's choice; buttons and keys write nowhere.
    for (const bool gone : {false, true}) {
        if (gone && QFile::remove(live.settings.portsFolder() + "/com3")) // as a by-id link goes
            pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), gone ? 1 : 0, 2000);
        ticks.clear();
        QVERIFY2(cpuOverOneSecond() < 0.2 && ticks.count() > 0, "busy, or no more ticks");
    }
    const ShownBox box = live.boxes->shown.first();
    QCOMPARE(box.prompt.section('/', 0, 1) + box.prompt.section(')', 1), // without the pts number
             "COM3 (/dev was lost: the device went away or was unplugged.\nCOM3 reopens by itself "
             "once the device is back.");
    QVERIFY(box.style == app::vbExclamation && box.title.isEmpty());
    QCOMPARE(checkedPorts(*live.window), QList<int>{3});
    // Its return is tst_simulator's (inside the box, polling goes on) and tst_serial_port's
    // (twenty returns, each written to, with open files and memory flat).
}

void tst_device_faults::deviceRefusesToOpen() {
    // What stands behind COM3, and what the box tells the operator to do about it.
    const std::pair<const char*, const char*> cases[] = {{"missing", "Plug the serial adapter in"},
                                                         {"locked", "Close that program"},
                                                         {"plain file", "link COM3 to it"}};
    for (const auto& [device, advice] : cases) {
        LiveWindow live; // COM1 is open and marked when the operator picks COM3
        Pty pty, locked;
        QVERIFY(live.load(pty, 1));
        const QString folder = live.settings.portsFolder();
        seriallink::QtSerialComponent otherProgram;
        QFile file(folder + "/ttyUSB0");
        if (device == std::string("locked")) {
            QVERIFY(locked.linkAsComPort(4, folder) && locked.linkAsComPort(3, folder));
            QVERIFY(otherProgram.setCommPort(4) && otherProgram.setPortOpen(true));
        } else {
            QVERIFY(device == std::string("missing") || file.open(QIODevice::WriteOnly));
            QVERIFY(QFile::link(file.fileName(), folder + "/com3"));
        }
        live.part<QAction>("mnuPortsCom3").trigger();
        QCOMPARE(live.boxes->shown.size(), 1);
        const QString prompt = live.boxes->shown.first().prompt;
        QVERIFY2(prompt.startsWith("COM3 could not") && prompt.contains(advice),
                 qPrintable(prompt));
        // The failed command closed COM1 and remembered COM3; the mark stays where it was.
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
}

void tst_device_faults::lineThatNeverGoesQuiet() {
    // WATTMETER_FLOOD_MB megabytes of noise (default 16) with no pause for a tick, then a reply
    // after a quiet spell; resident memory stays within a few megabytes meanwhile.
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty));
    live.window->show();
    QByteArray noise;
    for (int b = 0; noise.size() < 16 << 10; b = (b * 7 + 13) % 256)
        noise += b ? char(b) : '\r';
    const int before = residentMegabytes();
    int most = before;
    const int megabytes = qEnvironmentVariableIntValue("WATTMETER_FLOOD_MB");
    for (int i = 0; i < (megabytes ? megabytes : 16) * 64; ++i) {
        QVERIFY(pty.write(noise));
        most = std::max(most, residentMegabytes());
    }
    // The flood's tick, once the line has gone quiet, then a reply.
    QSignalSpy tick(&live.part<app::IntervalTimer>("Timer1"), &app::IntervalTimer::tick);
    QVERIFY(tick.wait(3000));
    QVERIFY(pty.write("FWD: 850 "));
    QTRY_COMPARE_WITH_TIMEOUT(live.part<QLineEdit>("txtForward").text(), "850", 3000);
    QVERIFY2(most - before < 8, "a line that never goes quiet grows the window");
}

QTEST_MAIN(tst_device_faults)
#include "tst_device_faults.moc"
