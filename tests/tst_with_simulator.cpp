// The real window and serial port against the amplifier simulator on its pseudo-terminal:
// what an operator sees from start-up, polling, faults and a vanishing device.
#include "support/window_fixture.h"
#include "ui/lamp.h"
#include "ui/log_pane.h"
#include "ui/window_sink.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

QString alarms(const LiveWindow& live) {
    return ui::paneText(live.part<QPlainTextEdit>("txtAlarms"));
}

QString text(const LiveWindow& live, const char* field) {
    return live.part<QLineEdit>(field).text();
}

} // namespace

class tst_with_simulator : public QObject {
    Q_OBJECT
private slots:
    void startupShowsTheRestartAndTheBand();
    void pollingShowsReadingsAndCurrents();
    void replySplitByALongPauseLosesItsField();
    void replyPacedAt300BaudIsReadWhole();
    void overPowerWarnsAndLogs();
    void vanishingDeviceIsReportedOnce();
};

void tst_with_simulator::startupShowsTheRestartAndTheBand() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains(" - AMPLIFIER RESTARTED\r\n"), 3000);
    QVERIFY(live.part<ui::Lamp>("shpHigh").lit() && !live.part<ui::Lamp>("shpLow").lit());
    live.tellSimulator("band");
    QTRY_VERIFY_WITH_TIMEOUT(live.part<ui::Lamp>("shpLow").lit(), 3000);
    QVERIFY(!live.part<ui::Lamp>("shpHigh").lit());
    QVERIFY(live.boxes->shown.isEmpty());
}

void tst_with_simulator::pollingShowsReadingsAndCurrents() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    live.part<QAction>("mnuPoll1").trigger();
    live.part<QAction>("mnuPollCurrent").trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        !text(live, "txtITotal").isEmpty() && !text(live, "txtForward").isEmpty(), 5000);
    double stages = 0;
    for (const char* stage : {"txtI1", "txtI2", "txtI3", "txtI4"})
        stages += text(live, stage).toDouble();
    QCOMPARE(qRound(stages * 100), qRound(text(live, "txtITotal").toDouble() * 100));
    QVERIFY(!text(live, "txtVSWR").isEmpty());
}

void tst_with_simulator::replySplitByALongPauseLosesItsField() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains("RESTARTED"), 3000);
    live.tellSimulator("split");
    QTest::qWait(200);
    QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    // The tick in the pause scans the first half alone: the forward field has no end there,
    // and the second half has no marker for it.
    QTRY_VERIFY_WITH_TIMEOUT(!text(live, "txtVSWR").isEmpty(), 4000);
    QVERIFY(!text(live, "txtReflected").isEmpty());
    QVERIFY(text(live, "txtForward").isEmpty());
}

void tst_with_simulator::replyPacedAt300BaudIsReadWhole() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator({}));
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains("RESTARTED"), 4000);
    QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!text(live, "txtVSWR").isEmpty(), 5000);
    QVERIFY(!text(live, "txtForward").isEmpty() && !text(live, "txtReflected").isEmpty());
}

void tst_with_simulator::overPowerWarnsAndLogs() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    live.tellSimulator("overpower");
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains(" - PWR FWD ABOVE 1100\r\n"), 3000);
    QCOMPARE(live.boxes->shown.size(), 1);
    QCOMPARE(live.boxes->shown.first().prompt, QString::fromLatin1(ui::kOverPowerWarning));
}

void tst_with_simulator::vanishingDeviceIsReportedOnce() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains("RESTARTED"), 3000);
    live.tellSimulator("vanish");
    QTRY_COMPARE_WITH_TIMEOUT(live.boxes->shown.size(), 1, 3000);
    QVERIFY(live.boxes->shown.first().prompt.contains("COM1"));
    // The window goes on: buttons write into a closed port quietly, ticks keep coming.
    QTest::mouseClick(&live.part<QPushButton>("Status"), Qt::LeftButton);
    QTest::qWait(600);
    QCOMPARE(live.boxes->shown.size(), 1);
    QVERIFY(live.part<seriallink::IntervalTimer>("Timer1").ticking());
}

QTEST_MAIN(tst_with_simulator)
#include "tst_with_simulator.moc"
