// Every surface follows the station, so each port transition reaches all of them alike: the
// journal, the notifications, the dashboard's state and its metrics.
#include "app/journal.h"
#include "app/notifier.h"
#include "dashboard/station_view.h"
#include "support/window_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <optional>

namespace {

class RecordingNotifier : public app::Notifier {
public:
    QStringList shown; // the bodies, without their time of day
protected:
    void show(const QString& body, Urgency) override { shown << body.section(" - ", 1); }
};

// The surfaces, following one window's station.
struct Surfaces {
    QTemporaryDir folder;
    std::unique_ptr<app::Journal> journal;
    RecordingNotifier notifier;
    dashboard::StationView view;

    explicit Surfaces(const app::Station& station)
        : journal(app::Journal::open(folder.filePath("journal.csv"), nullptr)), view(station) {
        journal->follow(station);
        notifier.follow(station);
    }
    QString lastJournalLine() {
        QFile file(folder.filePath("journal.csv"));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).trimmed().section('\n', -1).mid(25)
                   : QString();
    }
};

} // namespace

class tst_surfaces : public QObject {
    Q_OBJECT
private slots:
    void portTransitions_data();
    void portTransitions();
    void portBackBeforeItsBoxShowsNoBox();
};

void tst_surfaces::portTransitions_data() {
    QTest::addColumn<QString>("journal"); // the last line, without its time; a prefix for a loss
    QTest::addColumn<QString>("notified");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("open");
    QTest::newRow("opened") << "port,COM2,opened"
                            << ""
                            << "COM2" << true;
    QTest::newRow("failed")
        << "port,COM3,failed,COM3 could not be opened: No such file or directory"
        << ""
        << "COM3" << false;
    QTest::newRow("closed") << "port,COM2,closed"
                            << ""
                            << "COM2" << false;
    QTest::newRow("not reopened") << "port,COM2,not reopened,not a tty"
                                  << "COM2 cannot be reopened"
                                  << "COM2" << false;
    QTest::newRow("lost") << "port,COM1,lost,COM1 (/dev/pts/"
                          << "COM1 was lost"
                          << "COM1" << false;
    QTest::newRow("reopened") << "port,COM1,reopened"
                              << "COM1 is back"
                              << "COM1" << true;
}

void tst_surfaces::portTransitions() {
    QFETCH(QString, journal);
    QFETCH(QString, notified);
    QFETCH(QString, port);
    QFETCH(bool, open);
    const QString row = QTest::currentDataTag();
    std::unique_ptr<Surfaces> surfaces;
    std::optional<WindowFixture> fixture;
    std::optional<LiveWindow> simulated; // the simulator pulls and returns its device
    if (row == "lost" || row == "reopened") {
        LiveWindow& live = simulated.emplace();
        surfaces = std::make_unique<Surfaces>(live.station);
        QVERIFY(live.loadWithSimulator());
        // The port is back while its box still waits for the operator: the box closes itself.
        if (row == "reopened")
            live.boxes->onShow = [&] {
                live.tellSimulator("return");
                QTRY_VERIFY(live.serial->portOpen());
            };
        live.tellSimulator("vanish");
        QTRY_COMPARE(live.boxes->shown.size(), 1);
        QCOMPARE(live.boxes->closed,
                 row == "reopened" ? QStringList{live.boxes->shown[0].prompt} : QStringList{});
    } else {
        WindowFixture& f = fixture.emplace();
        surfaces = std::make_unique<Surfaces>(f.station);
        f.serial->refusedPorts = {3};
        f.window->mnuPortsCom_Click(row == "failed" ? 3 : 2);
        if (row == "closed")
            f.window->Exit_Click();
        if (row == "not reopened")
            emit f.serial->reopenFailed("not a tty");
    }
    QVERIFY2(surfaces->lastJournalLine().startsWith(journal),
             qPrintable(surfaces->lastJournalLine()));
    QCOMPARE(surfaces->notifier.shown.join('|'),
             row == "reopened" ? "COM1 was lost|" + notified : notified);
    const QJsonObject state = QJsonDocument::fromJson(surfaces->view.stateJson()).object();
    QCOMPARE(state["port"].toString(), port);
    QCOMPARE(state["port_open"].toBool(), open);
    const QString up = QString("wattmeter_port_up{port=\"%1\"} %2\n").arg(port).arg(int(open));
    QVERIFY2(surfaces->view.metrics().contains(up.toUtf8()), qPrintable(up));
}

void tst_surfaces::portBackBeforeItsBoxShowsNoBox() {
    WindowFixture f;
    f.window->mnuPortsCom_Click(2);
    f.serial->setOpen(false);
    emit f.serial->deviceLost("gone"); // its box is shown on the next turn
    f.serial->setOpen(true);
    emit f.serial->reopened();
    QCoreApplication::processEvents();
    QVERIFY(f.boxes->shown.isEmpty());
}

QTEST_MAIN(tst_surfaces)
#include "tst_surfaces.moc"
