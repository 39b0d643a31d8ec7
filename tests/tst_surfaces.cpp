// Every surface follows the station, so each port transition reaches all of them alike: the
// journal, the notifications, the dashboard's state and its metrics.
#include "app/journal.h"
#include "app/notifier.h"
#include "dashboard/station_view.h"
#include "support/window_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
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

    explicit Surfaces(app::Station& station)
        : journal(app::Journal::open(folder.filePath("journal.csv"), nullptr)), view(station) {
        journal->follow(station);
        notifier.follow(station);
    }
    // The journal's lines without their times.
    QStringList journalLines() {
        QFile file(folder.filePath("journal.csv"));
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line :
                 QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                lines << line.mid(25);
        return lines;
    }
    QString lastPortLine() { return journalLines().filter(QRegularExpression("^port,")).last(); }
};

} // namespace

class tst_surfaces : public QObject {
    Q_OBJECT
private slots:
    void portTransitions_data();
    void portTransitions();
    void portBackBeforeItsBoxShowsNoBox();
    void whatStartsTheSilenceClock_data();
    void whatStartsTheSilenceClock();
    void silenceReachesEverySurface();
    void journalThatCannotWrite();
};

void tst_surfaces::portTransitions_data() {
    QTest::addColumn<QString>("journal"); // the last line, without its time; a prefix for a loss
    QTest::addColumn<QString>("notified");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("open");
    const auto row = [](const char* name, const char* port, bool open, const char* journal,
                        const char* notified = "") {
        QTest::newRow(name) << QString(journal) << QString(notified) << QString(port) << open;
    };
    row("opened", "COM2", true, "port,COM2,opened");
    row("failed", "COM3", false,
        "port,COM3,failed,COM3 could not be opened: No such file or directory");
    row("closed", "COM2", false, "port,COM2,closed");
    row("not reopened", "COM2", false, "port,COM2,not reopened,not a tty",
        "COM2 cannot be reopened");
    row("lost", "COM1", false, "port,COM1,lost,COM1 (/dev/pts/", "COM1 was lost");
    row("reopened", "COM1", true, "port,COM1,reopened", "COM1 is back");
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
        QVERIFY(live.boxes->shown[0].prompt.endsWith(") was lost: the device went away or was "
                                                     "unplugged.\nCOM1 reopens by itself once the "
                                                     "device is back."));
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
    QVERIFY2(surfaces->lastPortLine().startsWith(journal), qPrintable(surfaces->lastPortLine()));
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

void tst_surfaces::whatStartsTheSilenceClock_data() {
    QTest::addColumn<QString>("asked"); // what goes out, on COM1 unless "closed"
    QTest::addColumn<bool>("silent");
    QTest::newRow("start-up reset") << "start" << true;
    QTest::newRow("automatic poll") << "poll" << true;
    QTest::newRow("status button") << "button" << true;
    QTest::newRow("typed key") << "key" << false;
    QTest::newRow("button on a closed port") << "closed" << false;
}

void tst_surfaces::whatStartsTheSilenceClock() {
    QFETCH(QString, asked);
    QFETCH(bool, silent);
    WindowFixture f;
    f.station.setSilenceAfter(std::chrono::milliseconds(50));
    f.settings.set("port", "1");
    f.serial->refusedPorts = {asked == "closed" ? 1 : 0};
    if (asked == "start" || asked == "closed")
        f.window->Form_Load();
    else
        f.window->mnuPortsCom_Click(1);
    if (asked == "poll") {
        f.window->mnuPoll1_Click();
        f.window->Timer1_Timer();
        f.window->Timer1_Timer();
    }
    if (asked == "button" || asked == "closed")
        f.window->Status_Click();
    if (asked == "key") {
        int key = 'S';
        f.window->txtTerm_KeyPress(key);
    }
    QVERIFY(!f.serial->written().isEmpty() || asked == "closed");
    QTest::qWait(200); // four times the silence's limit: long enough to fall silent, if at all
    QCOMPARE(f.station.replies().state == app::Amplifier::Silent, silent);
    if (silent) { // any byte ends it
        f.serial->receive("x");
        QCOMPARE(f.station.replies().state, app::Amplifier::Answering);
    }
}

void tst_surfaces::silenceReachesEverySurface() {
    // The amplifier stops answering while polling goes on, with the line still there; then it
    // answers again.
    LiveWindow live;
    Surfaces surfaces(live.station);
    live.station.setSilenceAfter(std::chrono::milliseconds(1000));
    QVERIFY(live.loadWithSimulator());
    live.part<QAction>("mnuPoll1").trigger();
    auto& forward = live.part<QLineEdit>("txtForward");
    QTRY_VERIFY_WITH_TIMEOUT(!forward.text().isEmpty(), 5000);
    const auto state = [&] { return QJsonDocument::fromJson(surfaces.view.stateJson()); };
    live.tellSimulator("mute");
    QTRY_COMPARE_WITH_TIMEOUT(state()["amplifier"].toString(), "silent", 5000);
    QVERIFY(surfaces.journalLines().contains("amplifier,silent"));
    QVERIFY(surfaces.view.metrics().contains("wattmeter_amplifier_answering 0\n"));
    QCOMPARE(surfaces.notifier.shown.last(), "COM1: no reply from the amplifier");
    QTest::qWait(1500); // more polls go unanswered, and the pane says it no more than once
    const QString pane = live.part<QPlainTextEdit>("txtAlarms").toPlainText();
    QCOMPARE(pane.count(" - NO REPLY FROM AMPLIFIER"), 1);

    forward.clear();
    live.tellSimulator("unmute");
    QTRY_VERIFY_WITH_TIMEOUT(!forward.text().isEmpty(), 5000);
    QCOMPARE(state()["amplifier"].toString(), "answering");
    QVERIFY(surfaces.view.metrics().contains("wattmeter_amplifier_answering 1\n"));
    QCOMPARE(surfaces.journalLines().filter("amplifier,").join('|'),
             "amplifier,silent|amplifier,answering");
    QCOMPARE(surfaces.notifier.shown.last(), "COM1: the amplifier answers again");
}

void tst_surfaces::journalThatCannotWrite() {
    WindowFixture f;
    Surfaces surfaces(f.station);
    const auto full = app::Journal::open("/dev/full", nullptr);
    full->follow(f.station);
    f.window->mnuPortsCom_Click(1); // a line to write
    const QJsonObject state = QJsonDocument::fromJson(surfaces.view.stateJson()).object();
    QCOMPARE(state["journal"].toString(), "failing");
    QCOMPARE(state["journal_lines_waiting"].toInt(), 2); // the port opened, the readings stale
    QVERIFY(surfaces.view.metrics().contains("wattmeter_journal_failing 1\n"));
    QCOMPARE(surfaces.notifier.shown,
             QStringList{"full cannot be written: No space left on device"});
}

QTEST_MAIN(tst_surfaces)
#include "tst_surfaces.moc"
