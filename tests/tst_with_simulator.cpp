// The real window and serial port against the amplifier simulator on its pseudo-terminal:
// what an operator sees from start-up, polling, faults and a vanishing device.
#include "link/qt_serial_component.h"
#include "link/appendlog.h"
#include "support/recording_message_box.h"
#include "support/temp_settings.h"
#include "ui/frm_wattmeter.h"
#include "ui/lamp.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

// The simulator serving COM1 and the window started on it.
struct Bench {
    TempSettings settings;
    QProcess sim;
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window;

    explicit Bench(const QStringList& options = {"--fast"}) {
        sim.setProcessChannelMode(QProcess::ForwardedChannels);
        sim.start(QStringLiteral(WATTMETER_SIM_PATH), QStringList{"--com", "1", "--quiet"} + options);
        // The simulator links its pseudo-terminal as COM1 once it is ready to answer.
        const QString link = settings.portsFolder() + QStringLiteral("/com1");
        QDeadlineTimer deadline(10000);
        while (!QFileInfo(link).isSymLink()) {
            if (deadline.hasExpired() || sim.state() == QProcess::NotRunning)
                return;
            QTest::qWait(20);
        }
        settings.set("port", "1");
        window = std::make_unique<ui::frmWattmeter>(std::make_unique<seriallink::QtSerialComponent>(),
                                                    std::unique_ptr<seriallink::MessageBox>(boxes));
        window->Form_Load();
    }
    ~Bench() {
        window.reset();
        sim.terminate();
        sim.waitForFinished(3000);
    }
    void command(const char* line) { sim.write(QByteArray(line) + '\n'); }
    QString alarms() const { return seriallink::paneText(*window->txtAlarms); }
};

} // namespace

class tst_with_simulator : public QObject {
    Q_OBJECT

private slots:
    void startupShowsTheRestartAndTheBand();
    void pollingShowsReadingsAndCurrents();
    void replySplitByALongPauseLosesItsField();
    void replyPacedAt300BaudIsReadWhole();
    void overPowerWarnsAndLogs();
    void bandSwitchMovesTheLamps();
    void vanishingDeviceIsReportedOnce();
};

void tst_with_simulator::startupShowsTheRestartAndTheBand() {
    Bench bench;
    QVERIFY(bench.window);
    QTRY_VERIFY_WITH_TIMEOUT(bench.alarms().contains(" - AMPLIFIER RESTARTED\r\n"), 3000);
    QVERIFY(bench.window->shpHigh->lit());
    QVERIFY(!bench.window->shpLow->lit());
    QVERIFY(bench.boxes->shown.isEmpty());
}

void tst_with_simulator::pollingShowsReadingsAndCurrents() {
    Bench bench;
    QVERIFY(bench.window);
    bench.window->mnuPoll1->trigger();
    bench.window->mnuPollCurrent->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window->txtITotal->text().isEmpty(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window->txtForward->text().isEmpty(), 5000);
    double stages = 0;
    for (QLineEdit* stage : {bench.window->txtI1, bench.window->txtI2, bench.window->txtI3, bench.window->txtI4})
        stages += stage->text().toDouble();
    QCOMPARE(qRound(stages * 100), qRound(bench.window->txtITotal->text().toDouble() * 100));
    QVERIFY(!bench.window->txtVSWR->text().isEmpty());
}

void tst_with_simulator::replySplitByALongPauseLosesItsField() {
    Bench bench;
    QVERIFY(bench.window);
    QTRY_VERIFY_WITH_TIMEOUT(bench.alarms().contains("RESTARTED"), 3000);
    bench.command("split");
    QTest::qWait(200);
    QTest::mouseClick(bench.window->Read, Qt::LeftButton);
    // The tick in the pause scans the first half alone: the forward field has no end there,
    // and the second half has no marker for it.
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window->txtVSWR->text().isEmpty(), 4000);
    QVERIFY(!bench.window->txtReflected->text().isEmpty());
    QVERIFY(bench.window->txtForward->text().isEmpty());
}

void tst_with_simulator::replyPacedAt300BaudIsReadWhole() {
    Bench bench(QStringList{}); // paced at 300 baud
    QVERIFY(bench.window);
    QTRY_VERIFY_WITH_TIMEOUT(bench.alarms().contains("RESTARTED"), 4000);
    QTest::mouseClick(bench.window->Read, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window->txtVSWR->text().isEmpty(), 5000);
    QVERIFY(!bench.window->txtForward->text().isEmpty());
    QVERIFY(!bench.window->txtReflected->text().isEmpty());
}

void tst_with_simulator::overPowerWarnsAndLogs() {
    Bench bench;
    QVERIFY(bench.window);
    bench.command("overpower");
    QTRY_VERIFY_WITH_TIMEOUT(bench.alarms().contains(" - PWR FWD ABOVE 1100\r\n"), 3000);
    QCOMPARE(bench.boxes->shown.size(), 1);
    QCOMPARE(bench.boxes->shown.first().prompt, QString::fromLatin1(ui::kOverPowerWarning));
}

void tst_with_simulator::bandSwitchMovesTheLamps() {
    Bench bench;
    QVERIFY(bench.window);
    QTRY_VERIFY_WITH_TIMEOUT(bench.window->shpHigh->lit(), 3000);
    bench.command("band");
    QTRY_VERIFY_WITH_TIMEOUT(bench.window->shpLow->lit(), 3000);
    QVERIFY(!bench.window->shpHigh->lit());
}

void tst_with_simulator::vanishingDeviceIsReportedOnce() {
    Bench bench;
    QVERIFY(bench.window);
    QTRY_VERIFY_WITH_TIMEOUT(bench.alarms().contains("RESTARTED"), 3000);
    bench.command("vanish");
    QTRY_COMPARE_WITH_TIMEOUT(bench.boxes->shown.size(), 1, 3000);
    QVERIFY(bench.boxes->shown.first().prompt.contains("COM1"));
    QVERIFY(!bench.window->MSComm1->portOpen());
    // The window goes on: buttons write into a closed port quietly, ticks keep coming.
    QTest::mouseClick(bench.window->Reset, Qt::LeftButton);
    QTest::mouseClick(bench.window->Status, Qt::LeftButton);
    QTest::qWait(600);
    QCOMPARE(bench.boxes->shown.size(), 1);
    QVERIFY(bench.window->Timer1->ticking());
}

QTEST_MAIN(tst_with_simulator)
#include "tst_with_simulator.moc"
