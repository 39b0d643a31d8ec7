// wattmeterd: the station without a window, for systemd. The same engine, station and surfaces
// as the window's program, on QCoreApplication.
#include "app/about.h"
#include "app/monitor.h"
#include "app/notifier.h"
#include "app/standard_error.h"
#include "app/station.h"
#include "link/qt_serial_component.h"
#include "service_options.h"
#include "signals.h"
#include "systemd.h"
#include "telemetry/protocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

// What the window would show in a box or a notification, as lines on standard error.
class StandardErrorNotifier : public app::Notifier {
protected:
    void show(const QString& body, Urgency urgency, Slot) override {
        app::say(urgency == Urgency::Critical ? app::Severity::Error : app::Severity::Warning,
                 body);
    }
};

int refuse(const QString& why) {
    app::say(app::Severity::Error, why);
    return app::kRefusedAtStart;
}

// Where systemd's StateDirectory= and LoadCredential= put their files.
void placeFiles(surfaces::Values& options) {
    const QString journal = options.value(QStringLiteral("journal"));
    const QString state = qEnvironmentVariable("STATE_DIRECTORY").section(':', 0, 0);
    if (!journal.isEmpty() && QFileInfo(journal).isRelative() && !state.isEmpty())
        options.given[QStringLiteral("journal")] = {QDir(state).filePath(journal)};
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString password = QDir(credentials).filePath(QStringLiteral("mqtt-password"));
    if (!options.given.contains(QStringLiteral("mqtt-password-file")) && !credentials.isEmpty() &&
        QFileInfo::exists(password))
        options.given[QStringLiteral("mqtt-password-file")] = {password};
}

} // namespace

int main(int argc, char* argv[]) {
    service::blockStopAndRotateSignals();
    app::setProgramTag("wattmeterd");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(app::kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(WATTMETER_VERSION));

    QString error;
    std::optional<service::Options> parsed = service::parseOptions(application.arguments(), error);
    if (!parsed)
        return refuse(error);
    if (parsed->help || parsed->version) {
        std::fputs(qPrintable(parsed->help ? service::usage()
                                           : QStringLiteral("wattmeterd " WATTMETER_VERSION "\n")),
                   stdout);
        return 0;
    }
    surfaces::Values& options = parsed->values;
    placeFiles(options);
    const bool byPath = options.given.contains(QStringLiteral("device"));
    if (byPath == options.given.contains(QStringLiteral("port")))
        return refuse(QStringLiteral("give exactly one of --device PATH and --port N"));
    const bool anySurface = options.isSet(QStringLiteral("journal")) ||
                            options.isSet(QStringLiteral("serve")) ||
                            options.isSet(QStringLiteral("mqtt"));
    if (!anySurface)
        return refuse(
            QStringLiteral("no --journal, --serve or --mqtt: nothing would ever be told"));

    auto serial = std::make_unique<seriallink::QtSerialComponent>();
    const seriallink::Result named =
        byPath ? serial->setDevicePath(options.value(QStringLiteral("device")))
               : serial->setCommPort(options.value(QStringLiteral("port")).toInt());
    if (!named)
        return refuse(QStringLiteral("--port %1: %2")
                          .arg(options.value(QStringLiteral("port")), named.errorString()));

    app::Station station;
    app::Monitor monitor(std::move(serial), station);
    const auto surfaces = surfaces::Surfaces::start(options, station, monitor.commands(), error);
    if (!surfaces)
        return refuse(error);
    StandardErrorNotifier notifier;
    notifier.follow(station, false); // the MQTT client says the broker's troubles itself
    service::Systemd systemd(station);

    const seriallink::Result opened = monitor.openLine();
    if (!opened && !options.isSet(QStringLiteral("wait-for-device")))
        return refuse(opened.errorString());
    if (!opened) {
        app::say(app::Severity::Warning, opened.errorString() + QStringLiteral("; waiting for it"));
        monitor.serial().waitForDevice();
    }
    app::CommandPath& commands = monitor.commands();
    if (options.isSet(QStringLiteral("poll")))
        commands.run(app::Command::PollOn, app::Origin::Startup);
    if (options.isSet(QStringLiteral("poll-currents")))
        commands.run(app::Command::CurrentsOn, app::Origin::Startup);
    if (options.isSet(QStringLiteral("reset-at-start")))
        (void)commands.send(
            QByteArray(telemetry::kResetCommand.data(), qsizetype(telemetry::kResetCommand.size())),
            app::Origin::Startup);
    if (!options.isSet(QStringLiteral("mqtt-control")))
        app::say(app::Severity::Info,
                 QStringLiteral("without --mqtt-control an over-power warning is cleared only by "
                                "a restart"));

    service::Signals posix;
    QObject::connect(&posix, &service::Signals::rotate, &application,
                     [&surfaces] { surfaces->reopenJournal(); });
    QObject::connect(&posix, &service::Signals::stop, &application, [&] {
        systemd.stopping();
        surfaces->stop();
        monitor.closePort();
        QCoreApplication::quit();
    });
    systemd.ready();
    return application.exec();
}
