// The amplifier simulator program: what stands where it links its device (the window and the
// service against it are tst_dashboard's, tst_mqtt_bridge's and tst_service's).
#include "support/temp_settings.h"

#include <QDir>
#include <QProcess>
#include <QTest>

class tst_simulator : public QObject {
    Q_OBJECT
private slots:
    void existingLink();
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

QTEST_GUILESS_MAIN(tst_simulator)
#include "tst_simulator.moc"
