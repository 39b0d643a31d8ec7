#include "app/about.h"
#include "app/desktop_notifier.h"
#include "app/monitor.h"
#include "app/standard_error.h"
#include "app/station.h"
#include "link/qt_serial_component.h"
#include "surfaces/surfaces.h"
#include "ui/frm_wattmeter.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

// The window's own option; the others are the surfaces'.
const surfaces::Option kNotify{
    "notify",
    "Also show every alarm, the port lost and back, and the amplifier silent, as a desktop "
    "notification (the same text at most once in 30 s); clicking one brings the window to the "
    "front.",
    nullptr};

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Monitor and command an RF power amplifier over a serial line. The port (COM1 to COM16)\n"
        "is chosen in the Ports menu and remembered in\n"
        "$XDG_CONFIG_HOME/Vorlan Wattmeter/Vorlan Wattmeter.conf; on Linux COMn is the device\n"
        "that the link $XDG_CONFIG_HOME/Vorlan Wattmeter/ports/comn points to, else "
        "/dev/ttyS(n-1).\n"
        "Polling > Enabled sends a poll two ticks (1 s) after the line has gone quiet: at 300\n"
        "baud a poll and a reading about every 2 s (3.4 s with Include Current)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto add = [&parser](const surfaces::Option& option) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(option.name), QString::fromUtf8(option.help),
                               option.value ? QString::fromLatin1(option.value) : QString()));
    };
    add(kNotify);
    for (const surfaces::Option& option : surfaces::kOptions)
        add(option);
}

// --help and --version answer without a display.
bool asksForInformation(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

// Wayland compositors refuse to place windows, so the remembered position could never be
// restored there; run through XWayland when it is available, unless the user chose.
void preferX11OnWayland() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QString::fromLatin1(app::kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(WATTMETER_VERSION));
    QCommandLineParser parser;
    describe(parser);
    if (asksForInformation(argc, argv)) {
        QCoreApplication information(argc, argv);
        parser.process(information); // prints and exits
    }

    preferX11OnWayland();
    QApplication application(argc, argv);
    parser.process(application);

    // The station at the centre, and the engine that hears the line for it; every surface below
    // follows the station.
    app::Station station;
    app::Monitor monitor(std::make_unique<seriallink::QtSerialComponent>(), station);
    surfaces::Values options;
    options.take(parser, std::begin(surfaces::kOptions), std::end(surfaces::kOptions));
    QString error;
    const auto surfaces = surfaces::Surfaces::start(options, station, monitor.commands(), error);
    if (!surfaces) {
        app::say(app::Severity::Error, error);
        return app::kRefusedAtStart;
    }

    std::unique_ptr<app::DesktopNotifier> notifier;
    if (parser.isSet(QStringLiteral("notify"))) {
        notifier = app::DesktopNotifier::start(QDBusConnection::sessionBus(), &error);
        if (notifier)
            notifier->follow(station);
        else
            app::say(app::Severity::Warning,
                     error + QStringLiteral(": alarms show in the window only"));
    }

    // The window is one view of the engine.
    ui::frmWattmeter window(monitor);
    if (notifier)
        QObject::connect(notifier.get(), &app::Notifier::activated, &window,
                         &ui::frmWattmeter::bringToFront);
    window.Form_Load();
    window.show();
    const int status = application.exec();
    surfaces->stop();
    return status;
}
