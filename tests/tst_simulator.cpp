// The amplifier simulator program, and the real window and serial port against it: what stands
// where it links its device, a silence and the amplifier answering again, and the box that says
// the port was lost.
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

namespace {

QString alarms(const LiveWindow& live) {
    return ui::paneText(live.part<QPlainTextEdit>("txtAlarms"));
}

} // namespace

class tst_simulator : public QObject {
    Q_OBJECT
private slots:
    void existingLink();
    void silenceAndLossInTheWindow();
    void portBackBeforeItsBoxShowsNoBox();
};

void tst_simulator::existingLink() {
    // What stands where the simulator would link COM2 (empty: a plain file); only a stale link to
    // a closed pseudo-terminal is its to replace, by a device for its user alone, and the link
    // goes when the simulator is asked to stop.
    for (const QString target : {"/dev/null", "/dev/ttyUSB97", "", "/dev/pts/99999"}) {
        TempSettings settings;
        const QString link = settings.portsFolder() + "/com2";
        QFile file(link);
        QVERIFY(QDir().mkpath(settings.portsFolder()));
        QVERIFY(target.isEmpty() ? file.open(QIODevice::WriteOnly) : QFile::link(target, link));
        QProcess sim;
        sim.start(QStringLiteral(WATTMETER_SIM_PATH), {"--com", "2"});
        if (target.startsWith("/dev/pts/")) {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(link), 5000); // a live terminal now
            const auto others =
                QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
            QVERIFY(!(QFileInfo(QFileInfo(link).symLinkTarget()).permissions() & others));
            sim.terminate();
            QVERIFY(sim.waitForFinished(3000) && sim.exitCode() == 0);
            QVERIFY(!QFileInfo(link).isSymLink());
            continue;
        }
        QVERIFY(sim.waitForFinished(5000) && sim.exitCode() != 0);
        QVERIFY(sim.readAllStandardError().contains(link.toLocal8Bit()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    }
}

void tst_simulator::silenceAndLossInTheWindow() {
    LiveWindow live;
    live.station.setSilenceAfter(std::chrono::milliseconds(1000));
    QVERIFY(live.loadWithSimulator());
    live.part<QAction>("mnuPoll1").trigger();
    live.tellSimulator("mute");
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).contains(" - NO REPLY FROM AMPLIFIER\r\n"), 5000);
    QTest::qWait(1500); // more polls go unanswered, and the pane says it no more than once
    live.tellSimulator("unmute");
    QTRY_VERIFY_WITH_TIMEOUT(alarms(live).endsWith(" - AMPLIFIER ANSWERS AGAIN\r\n"), 5000);
    QCOMPARE(alarms(live).count(" - NO REPLY FROM AMPLIFIER"), 1);
    QVERIFY(live.station.alarms().empty() ||
            live.station.alarms().back().text != "AMPLIFIER ANSWERS AGAIN"); // no alarm

    // The port is back while the box that says it was lost still waits: the box closes itself.
    live.boxes->onShow = [&] {
        live.tellSimulator("return");
        QTRY_VERIFY(live.serial->portOpen());
    };
    live.tellSimulator("vanish");
    QTRY_COMPARE(live.boxes->shown.size(), 1);
    QVERIFY(live.boxes->shown[0].prompt.endsWith(") was lost: the device went away or was "
                                                 "unplugged.\nCOM1 reopens by itself once the "
                                                 "device is back."));
    QCOMPARE(live.boxes->closed, QStringList{live.boxes->shown[0].prompt});
}

void tst_simulator::portBackBeforeItsBoxShowsNoBox() {
    WindowFixture f;
    f.window->mnuPortsCom_Click(2);
    f.serial->setOpen(false);
    emit f.serial->deviceLost("gone"); // its box is shown on the next turn
    f.serial->setOpen(true);
    emit f.serial->reopened();
    QCoreApplication::processEvents();
    QVERIFY(f.boxes->shown.isEmpty());
}

QTEST_MAIN(tst_simulator)
#include "tst_simulator.moc"
