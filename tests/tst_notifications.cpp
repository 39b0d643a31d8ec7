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

#include <map>

using Urgency = app::DesktopNotifier::Urgency;
const QString kService = QStringLiteral("org.freedesktop.Notifications");

namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return process.readAllStandardOutput();
}

bool waitForService(const QDBusConnection& bus) {
    return QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(kService); }, 5000);
}

// What dunst received, oldest first, as "urgency|application|summary|body|icon name" (the format
// its configuration gives); only closed notifications reach its history, so this closes them.
QStringList received(qsizetype count) {
    std::map<int, QString> byId;
    (void)QTest::qWaitFor(
        [&] {
            run("dunstctl", {"close-all"});
            const auto history = QJsonDocument::fromJson(run("dunstctl", {"history"}));
            for (const QJsonValue entry : history["data"][0].toArray())
                byId[entry["id"]["data"].toInt()] = entry["message"]["data"].toString();
            return qsizetype(byId.size()) >= count;
        },
        5000);
    QStringList messages;
    for (const auto& [id, message] : byId)
        messages << message;
    return messages;
}

QString shown(const QString& urgency, const QString& body) {
    return urgency + "|Vorlan Wattmeter|Vorlan Wattmeter|12:34:56 - " + body + "|vorlan-wattmeter";
}

} // namespace

class tst_notifications : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { dunst_.kill(), dunst_.waitForFinished(); }
    void alarmsAndThePortReachTheDesktop();
    void clickBringsTheWindowForward();
    void noServiceOrOneThatNeverAnswers();

private:
    std::unique_ptr<app::DesktopNotifier> startNotifier(WindowFixture& fixture) {
        QString error;
        auto notifier = app::DesktopNotifier::start(QDBusConnection::sessionBus(), &error);
        if (notifier)
            fixture.window->setNotifier(notifier.get());
        fixture.window->setClock([] { return QTime(12, 34, 56); });
        return notifier;
    }

    QTemporaryDir config_;
    QProcess dunst_;
};

void tst_notifications::init() {
    QFile rules(config_.filePath("dunstrc"));
    QVERIFY(rules.open(QIODevice::WriteOnly));
    for (const char* urgency : {"low", "normal", "critical"})
        rules.write(QByteArray("[urgency_") + urgency + "]\nformat = \"" + urgency +
                    "|%a|%s|%b|%I\"\n");
    rules.close();
    dunst_.start("dunst", {"-config", rules.fileName()});
    QVERIFY(waitForService(QDBusConnection::sessionBus()));
}

void tst_notifications::alarmsAndThePortReachTheDesktop() {
    WindowFixture fixture;
    const auto notifier = startNotifier(fixture);
    QVERIFY(notifier);
    notifier->setInterval(std::chrono::milliseconds(500));
    fixture.receiveAndTick("PWR FWD ABOVE 1100\rHIGH VSWR\rHIGH VSWR\rHIGH VSWR\r");
    QCOMPARE(fixture.boxes->shown.size(), 1); // the warning box; its notification came first
    QTest::qWait(600);
    fixture.receiveAndTick("HIGH VSWR\rHIGH VSWR\r");
    emit fixture.serial->deviceLost("gone");
    QCoreApplication::processEvents(); // the window hears of a loss on the next turn
    emit fixture.serial->reopened();
    QCOMPARE(received(5),
             QStringList({shown("critical", "PWR FWD ABOVE 1100"), shown("normal", "HIGH VSWR"),
                          shown("normal", "HIGH VSWR (2 more)"), shown("normal", "COM1 was lost"),
                          shown("normal", "COM1 is back")}));
}

void tst_notifications::clickBringsTheWindowForward() {
    WindowFixture fixture;
    const auto notifier = startNotifier(fixture);
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

void tst_notifications::noServiceOrOneThatNeverAnswers() {
    TempSettings settings; // for the program's run too
    // A bus of its own that starts no services, so no notification daemon on it.
    QFile config(config_.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("<busconfig><listen>unix:tmpdir=/tmp</listen><policy context='default'>"
                 "<allow send_destination='*'/><allow receive_sender='*'/><allow own='*'/>"
                 "</policy></busconfig>");
    config.close();
    QProcess daemon;
    daemon.start("dbus-daemon",
                 {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    QVERIFY(daemon.waitForReadyRead());
    const QString address = daemon.readLine().trimmed();
    const auto bus = QDBusConnection::connectToBus(address, "quiet");
    QString error;
    for (const auto& [where, reason] : {std::pair{address, "no notification service"},
                                        {"unix:path=/nonexistent", "no session bus"}}) {
        QProcess program;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", where);
        program.setProcessEnvironment(environment);
        program.start(WATTMETER_PATH, {"--notify", "-platform", "offscreen"});
        QByteArray output;
        QVERIFY(QTest::qWaitFor(
            [&] { return (output += program.readAllStandardError()).contains("wattmeter:"); }));
        QTest::qWait(300); // and nothing more
        program.kill();
        program.waitForFinished();
        const QStringList said =
            QString(output + program.readAllStandardError()).split('\n').filter("wattmeter:");
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].contains(reason), qPrintable(said[0]));
    }
    QVERIFY(!app::DesktopNotifier::start(bus, &error));

    // A service that takes the name and never answers.
    QProcess blackHole;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
    blackHole.setProcessEnvironment(environment);
    blackHole.start("dbus-test-tool", {"black-hole", "--session", "--name=" + kService});
    QVERIFY(waitForService(bus));
    WindowFixture fixture;
    const auto notifier = app::DesktopNotifier::start(bus, &error);
    QVERIFY(notifier);
    fixture.window->setNotifier(notifier.get());
    QElapsedTimer tick;
    tick.start();
    fixture.receiveAndTick(
        "HIGH VSWR\rCURRENT IMBALANCE\rPOWER SUPPLY FAULT\rCURRENT LIMITER IN EFFECT\r");
    QCOMPARE_LT(tick.elapsed(), 2000); // a call that waited for the answer would take 25 s
    QVERIFY(fixture.part<QPlainTextEdit>("txtAlarms").toPlainText().contains("SUPPLY FAULT"));
    blackHole.kill();
    daemon.kill();
    blackHole.waitForFinished();
    daemon.waitForFinished();
}

QTEST_MAIN(tst_notifications)
#include "tst_notifications.moc"
