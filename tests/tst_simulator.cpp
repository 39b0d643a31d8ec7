// The amplifier simulator program: it serves its pseudo-terminal under the program's COM link
// and never takes over a link that is not its own. Then the real window and serial port against
// it: what an operator sees from start-up, polling, a band switch, over-power and split or paced
// replies.
#include "support/window_fixture.h"
#include "ui/lamp.h"
#include "ui/log_pane.h"
#include "ui/window_sink.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

struct SimProcess : QProcess {
    explicit SimProcess(int com) {
        start(QStringLiteral(WATTMETER_SIM_PATH), {"--fast", "--com", QString::number(com)});
    }
    ~SimProcess() override {
        kill();
        waitForFinished(2000);
    }
};

QString alarms(const LiveWindow& live) {
    return ui::paneText(live.part<QPlainTextEdit>("txtAlarms"));
}

QString text(const LiveWindow& live, const char* field) {
    return live.part<QLineEdit>(field).text();
}

} // namespace

class tst_simulator : public QObject {
    Q_OBJECT
private slots:
    void servesTheLinkedDevice();
    void existingLink_data();
    void existingLink();
    void startupPollingAndBands();
    void replySplitByALongPauseLosesItsField();
    void replyPacedAt300BaudIsReadWhole();
};

void tst_simulator::servesTheLinkedDevice() {
    TempSettings settings;
    const QString link = settings.portsFolder() + "/com7";
    SimProcess sim(7);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
    // The device is for the simulator's user alone.
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(!(QFileInfo(QFileInfo(link).symLinkTarget()).permissions() & others));

    sim.terminate();
    QVERIFY(sim.waitForFinished(3000) && sim.exitStatus() == QProcess::NormalExit &&
            sim.exitCode() == 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_simulator::existingLink_data() {
    QTest::addColumn<QString>("target"); // empty: a plain file stands where the link would
    QTest::addColumn<bool>("replaced");
    QTest::newRow("link to a real device is kept") << "/dev/null" << false;
    QTest::newRow("dangling link to an unplugged adapter is kept") << "/dev/ttyUSB97" << false;
    QTest::newRow("plain file is kept") << "" << false;
    QTest::newRow("stale link to a closed pseudo-terminal is replaced") << "/dev/pts/99999" << true;
}

void tst_simulator::existingLink() {
    QFETCH(QString, target);
    QFETCH(bool, replaced);
    TempSettings settings;
    const QString link = settings.portsFolder() + "/com2";
    QFile file(link);
    QVERIFY(QDir().mkpath(settings.portsFolder()));
    QVERIFY(target.isEmpty() ? file.open(QIODevice::WriteOnly) : QFile::link(target, link));
    SimProcess sim(2);
    if (replaced) {
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).symLinkTarget().startsWith("/dev/pts/") &&
                                     QFileInfo(link).symLinkTarget() != target,
                                 5000);
        return;
    }
    QVERIFY(sim.waitForFinished(5000) && sim.exitCode() != 0);
    QVERIFY(sim.readAllStandardError().contains(link.toLocal8Bit()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), target.isEmpty() ? QString() : target);
}

void tst_simulator::startupPollingAndBands() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains(" - AMPLIFIER RESTARTED\r\n"), 3000);
    QVERIFY(live.part<ui::Lamp>("shpHigh").lit() && !live.part<ui::Lamp>("shpLow").lit());
    live.part<QAction>("mnuPoll1").trigger();
    live.part<QAction>("mnuPollCurrent").trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!text(live, "txtITotal").isEmpty() && !text(live, "txtVSWR").isEmpty(),
                             5000);
    double stages = 0;
    for (const char* stage : {"txtI1", "txtI2", "txtI3", "txtI4"})
        stages += text(live, stage).toDouble();
    QCOMPARE(qRound(stages * 100), qRound(text(live, "txtITotal").toDouble() * 100));

    live.tellSimulator("band");
    QTRY_VERIFY_WITH_TIMEOUT(
        live.part<ui::Lamp>("shpLow").lit() && !live.part<ui::Lamp>("shpHigh").lit(), 3000);
    live.tellSimulator("overpower");
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains(" - PWR FWD ABOVE 1100\r\n"), 3000);
    QCOMPARE(live.boxes->shown.size(), 1);
    QCOMPARE(live.boxes->shown.first().prompt, ui::kOverPowerWarning);
}

void tst_simulator::replySplitByALongPauseLosesItsField() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator());
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains("RESTARTED"), 3000);
    live.tellSimulator("split");
    QTest::qWait(200);
    QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    // The tick in the pause scans the first half alone: the forward field has no end there,
    // and the second half has no marker for it.
    QTRY_VERIFY_WITH_TIMEOUT(!text(live, "txtVSWR").isEmpty(), 4000);
    QVERIFY(!text(live, "txtReflected").isEmpty() && text(live, "txtForward").isEmpty());
}

void tst_simulator::replyPacedAt300BaudIsReadWhole() {
    LiveWindow live;
    QVERIFY(live.loadWithSimulator({}));
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains("RESTARTED"), 4000);
    QTest::mouseClick(&live.part<QPushButton>("Read"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!text(live, "txtVSWR").isEmpty(), 5000);
    QVERIFY(!text(live, "txtForward").isEmpty() && !text(live, "txtReflected").isEmpty());
}

QTEST_MAIN(tst_simulator)
#include "tst_simulator.moc"
