// Alarms as desktop notifications, read back from a real notification daemon (dunst, on the
// private session bus and X display the test runs in); and a bus without one, or with one that
// never answers, holds nothing up.
#include "app/desktop_notifier.h"
#include "support/window_fixture.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QTest>

namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return process.readAllStandardOutput();
}

// The window's notifier once a notification service is on the session bus; alarm lines at
// 12:34:56.
std::unique_ptr<app::DesktopNotifier> notifier(WindowFixture& fixture) {
    const auto bus = QDBusConnection::sessionBus();
    QString error;
    const bool up = QTest::qWaitFor(
        [&] { return bus.interface()->isServiceRegistered("org.freedesktop.Notifications"); });
    auto notifier = up ? app::DesktopNotifier::start(bus, &error) : nullptr;
    if (notifier) {
        notifier->follow(fixture.station);
        QObject::connect(notifier.get(), &app::Notifier::activated, fixture.window.get(),
                         &ui::frmWattmeter::bringToFront);
    }
    fixture.window->setClock([] { return QTime(12, 34, 56); });
    fixture.station.setClock(
        [] { return QDateTime(QDate::currentDate(), QTime(12, 34, 56)).toMSecsSinceEpoch(); });
    return notifier;
}

// What dunst received, oldest first, as its configuration (support/dunstrc) writes them; only
// closed notifications reach its history, so this closes them.
QStringList received(qsizetype count) {
    std::map<int, QString> byId;
    (void)QTest::qWaitFor([&] {
        byId.clear();
        run("dunstctl", {"close-all"});
        const auto history = QJsonDocument::fromJson(run("dunstctl", {"history"}));
        // Newest first; one that took another's place has its number.
        for (const QJsonValue entry : history["data"][0].toArray())
            byId.try_emplace(entry["id"]["data"].toInt(), entry["message"]["data"].toString());
        return qsizetype(byId.size()) >= count;
    });
    QStringList values;
    for (const auto& [id, message] : byId)
        values << message;
    return values;
}

QString shown(const QString& urgency, const QString& body) {
    return urgency + "|Vorlan Wattmeter|Vorlan Wattmeter|12:34:56 - " + body + "|vorlan-wattmeter";
}

} // namespace

class tst_notifications : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { daemon_.kill(), daemon_.waitForFinished(); }
    void alarmsAndThePortReachTheDesktopAndAClickTheWindow();
    void noBusNoServiceOrOneThatNeverAnswers();

private:
    QProcess daemon_; // the notification daemon of the test
};

void tst_notifications::alarmsAndThePortReachTheDesktopAndAClickTheWindow() {
    daemon_.start("dunst", {"-config", DUNSTRC});
    WindowFixture fixture;
    const auto notifier = ::notifier(fixture);
    QVERIFY(notifier);
    notifier->setInterval(std::chrono::milliseconds(500));
    fixture.station.setSilenceAfter(std::chrono::milliseconds(100));
    fixture.window->mnuPortsCom_Click(1);
    // Held back within the interval, and said at its end without waiting for the next one.
    fixture.receiveAndTick("PWR FWD ABOVE 1100\rHIGH VSWR\rHIGH VSWR\r");
    for (int pull = 0; pull < 2; ++pull) {
        emit fixture.serial->deviceLost("gone");
        emit fixture.serial->reopened();
    }
    // Asked, and no answer: the amplifier is silent until a byte comes.
    fixture.window->Status_Click();
    QTRY_COMPARE(fixture.station.replies().state, app::Amplifier::Silent);
    fixture.serial->receive("x");
    QCOMPARE(received(9),
             QStringList({shown("critical", "PWR FWD ABOVE 1100"), shown("normal", "HIGH VSWR"),
                          shown("normal", "COM1 was lost"), shown("normal", "COM1 is back"),
                          shown("critical", "COM1: no reply from the amplifier"),
                          shown("normal", "COM1: the amplifier answers again"),
                          shown("normal", "HIGH VSWR (1 more)"),
                          shown("normal", "COM1 was lost (1 more)"),
                          shown("normal", "COM1 is back (1 more)")}));
    // A journal that cannot write, and in the same place the news that it is written again.
    using Journal = app::Station::Journal;
    fixture.station.recordJournal({Journal::Failing, "journal.csv", 0, 3, 0, "No space left"});
    QTRY_COMPARE(run("dunstctl", {"count", "displayed"}).trimmed(), "1");
    fixture.station.recordJournal({Journal::Ok, "journal.csv", 0, 0, 0, {}});
    QTRY_COMPARE(
        received(10).mid(9),
        QStringList{shown("normal", "journal.csv is written again; 3 lines waited, none lost")});

    // A click on one brings the window to the front.
    fixture.window->show();
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(!fixture.window->isActiveWindow());
    fixture.receiveAndTick("CURRENT IMBALANCE\r");
    QTRY_COMPARE(run("dunstctl", {"count", "displayed"}).trimmed(), "1");
    run("dunstctl", {"action", "0"});
    QTRY_VERIFY(fixture.window->isActiveWindow());
}

void tst_notifications::noBusNoServiceOrOneThatNeverAnswers() {
    TempSettings settings; // for the program's own run too
    for (const char* bus : {"", "unix:path=/nonexistent"}) {
        QProcess program;
        if (*bus)
            program.setEnvironment(QProcess::systemEnvironment()
                                   << QString("DBUS_SESSION_BUS_ADDRESS=") + bus);
        program.start(WATTMETER_PATH, {"--notify", "-platform", "offscreen"});
        QByteArray said;
        QVERIFY(QTest::qWaitFor([&] {
            return (said += program.readAllStandardError())
                .contains(*bus ? "no session bus" : "no notification service");
        }));
        QTest::qWait(300); // what a second line would take to come: none may
        program.kill(), program.waitForFinished();
        QCOMPARE((said + program.readAllStandardError()).count("wattmeter:"), 1);
    }

    // A service that takes the name and never answers.
    daemon_.start("dbus-test-tool",
                  {"black-hole", "--session", "--name=org.freedesktop.Notifications"});
    WindowFixture fixture;
    const auto notifier = ::notifier(fixture);
    QVERIFY(notifier);
    QElapsedTimer tick;
    tick.start();
    fixture.receiveAndTick(
        "HIGH VSWR\rCURRENT IMBALANCE\rPOWER SUPPLY FAULT\rCURRENT LIMITER IN EFFECT\r");
    QCOMPARE_LT(tick.elapsed(), 2000); // a call that waited for the answer would take 25 s
    QVERIFY(fixture.part<QPlainTextEdit>("txtAlarms").toPlainText().contains("SUPPLY FAULT"));
}

QTEST_MAIN(tst_notifications)
#include "tst_notifications.moc"
