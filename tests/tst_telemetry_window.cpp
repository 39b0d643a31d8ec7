// What the amplifier says, through the real window: receive events into the buffer and the
// terminal pane, then the tick into text boxes, bars, alarm lines and the next poll.
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

struct TelemetryFixture : WindowFixture {
    TelemetryFixture() {
        window->setClock([] { return QTime(12, 34, 56); });
        serial->setOpen(true);
    }
    QString text(const char* name) { return part(name).property("text").toString(); }
    int bar(const char* name) { return part<QProgressBar>(name).value(); }
    QString pane(const char* name) { return ui::paneText(part<QPlainTextEdit>(name)); }
};

} // namespace

class tst_telemetry_window : public QObject {
    Q_OBJECT
private slots:
    void receiveKeepsRawTextForTheTick();
    void bars_data();
    void bars();
    void overPowerWarnsBeforeEachLineAndHoldsTheTick();
};

void tst_telemetry_window::receiveKeepsRawTextForTheTick() {
    TelemetryFixture f;
    auto& timer = f.part<app::IntervalTimer>("Timer1");
    timer.setInterval(500);
    timer.setEnabled(false);
    QVERIFY(!timer.ticking());
    f.serial->receive("fwd: 5 FW");
    f.serial->receive("ignored", 1008); // another event only restarts the timer
    f.serial->receive("D: 850 az\xe0\xfe\xf7\xdf\xff\x7f{");
    QVERIFY(timer.ticking());
    // Capitals for a-z and Latin-1 letters that have one; not for the division sign, sharp s, ÿ.
    QCOMPARE(f.pane("txtTerm"),
             QString::fromLatin1("\t\r\nFWD: 5 FWD: 850 AZ\xc0\xde\xf7\xdf\xff\x7f{"));
    // The scan sees the text as it came, in one piece: the lower-case reply is no reading.
    f.window->Timer1_Timer();
    QCOMPARE(f.text("txtForward"), "850");
    f.receiveAndTick("FWD: 5 ");
    QCOMPARE(f.text("txtForward"), "5");
    // A line that never goes quiet: the buffer keeps its newest megabyte for the tick.
    f.serial->receive("FWD: 111 ");
    for (int i = 0; i < 32; ++i)
        f.serial->receive(QByteArray(64 << 10, 'x'));
    f.receiveAndTick("REV: 7\r");
    QCOMPARE(f.text("txtForward") + f.text("txtReflected"), "57");
}

void tst_telemetry_window::bars_data() {
    // What the tick shows: the forward and reflected fields, then both bars, which start from 100
    // here so that a reading that is no number shows as 100.
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, const char* received, const char* shown) {
        QTest::newRow(name) << QByteArray(received) << QString(shown);
    };
    row("readings", "FWD: 850 REV: 12\rVSWR: 1.3:1\r", "850 12 850 12");
    row("the bar's top", "FWD: 1100 REV: 0\r", "1100 0 1100 0");
    row("just above the top", "FWD: 1100.4 ", "1100.4  1100 100");
    row("far above the top", "FWD: 1200 REV: 1500\r", "1200 1500 1100 1100");
    row("below zero", "FWD: -5 ", "-5  0 100");
    row("units are no number", "FWD: 99W REV: 25 W\r", "99W 25 W 100 100");
    row("a fraction rounds", "FWD: 849.6 ", "849.6  850 100");
    row("the last of two", "FWD: 900 FWD: 1200 ", "1200  1100 100");
    row("the last number of two", "FWD: 900 FWD: 9x ", "9x  900 100");
}

void tst_telemetry_window::bars() {
    QFETCH(QByteArray, received);
    QFETCH(QString, shown);
    TelemetryFixture f;
    f.window->Form_Load();
    f.part<QProgressBar>("prgBar1").setValue(100);
    f.part<QProgressBar>("prgBar2").setValue(100);
    f.receiveAndTick(received);
    QCOMPARE(QString("%1 %2 %3 %4")
                 .arg(f.text("txtForward"), f.text("txtReflected"))
                 .arg(f.bar("prgBar1"))
                 .arg(f.bar("prgBar2")),
             shown);
}

void tst_telemetry_window::overPowerWarnsBeforeEachLineAndHoldsTheTick() {
    TelemetryFixture f;
    QTime now(12, 34, 56);
    f.window->setClock([&now] { return now; });
    f.part<QAction>("mnuPoll1").trigger();
    f.part<QAction>("mnuPollCurrent").trigger();
    f.window->Timer1_Timer(); // the next tick polls
    QStringList paneAtEachBox;
    f.boxes->onShow = [&] {
        paneAtEachBox << f.pane("txtAlarms") + f.serial->written(); // polls go after the scan
        if (paneAtEachBox.size() > 1) // dismissed from afar, as its OK button would
            return (void)f.monitor->commands().runRemote("DISMISS WARNING");
        // Behind the box the line is heard and scanned once it goes quiet, without a poll.
        now = now.addSecs(10);
        f.serial->receive("HIGH VSWR\rPWR FWD ABOVE 1100\r");
        f.window->Timer1_Timer();
        now = now.addSecs(20); // OK is pressed later still
    };
    f.receiveAndTick("PWR FWD ABOVE 1100\r");
    const ShownBox warning{
        "Forward power exceeds 1100 watts! A reset will be needed.", app::vbExclamation, {}};
    QCOMPARE(f.boxes->shown, (QList<ShownBox>{warning, warning}));
    QCOMPARE(f.boxes->closed, QStringList{warning.prompt});
    // Each line carries the time of the scan that found it, in the order found.
    const QString first = "12:34:56 - PWR FWD ABOVE 1100\r\n",
                  behind = "12:35:06 - HIGH VSWR\r\n12:35:06 - PWR FWD ABOVE 1100\r\n";
    QCOMPARE(paneAtEachBox, (QStringList{"", first + "12:35:06 - HIGH VSWR\r\n"}));
    QCOMPARE(f.pane("txtAlarms"), first + behind);
    // Only the tick that waited counted: it polled after the boxes, and the next does not.
    f.boxes->onShow = nullptr;
    f.window->Timer1_Timer();
    QCOMPARE(f.serial->written(), "POWER\r CURRENT\r");
}

QTEST_MAIN(tst_telemetry_window)
#include "tst_telemetry_window.moc"
