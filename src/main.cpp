#include "app/about.h"
#include "app/desktop_notifier.h"
#include "app/journal.h"
#include "app/monitor.h"
#include "app/station.h"
#include "dashboard/server.h"
#include "dashboard/station_view.h"
#include "link/qt_serial_component.h"
#include "mqtt/bridge.h"
#include "ui/frm_wattmeter.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>

namespace {

// The program's options: name, what it does, and the name of its value (none for a switch).
const char* const kOptions[][3] = {
    {"journal",
     "Append one CSV line per event (readings, alarms, band reports, commands sent, ports "
     "opened, silences) to <file>.",
     "file"},
    {"notify",
     "Also show every alarm, the port lost and back, and the amplifier silent, as a desktop "
     "notification (the same text at most once in 30 s); clicking one brings the window to the "
     "front.",
     nullptr},
    {"serve",
     "Serve the dashboard (live page, /api/readings, /api/history, /metrics) on "
     "[<address>:]<port>; the address is 127.0.0.1 unless given. Anyone who can reach the "
     "address can read it: there is no authentication.",
     "[address:]port"},
    {"serve-host",
     "A host name the dashboard answers to besides IP addresses and localhost (may be given "
     "more than once).",
     "name"},
    {"mqtt",
     "Publish the station on the MQTT broker at <url>, mqtt://[user@]host[:port] or "
     "mqtts://... for TLS, with Home Assistant's discovery. The password comes from "
     "--mqtt-password-file or WATTMETER_MQTT_PASSWORD.",
     "url"},
    {"mqtt-ca", "The certificate authority for mqtts:// (else the system's).", "file"},
    {"mqtt-password-file", "Read the broker's password from the first line of <file>.", "file"},
    {"mqtt-node",
     "The station's name in topics, wattmeter/<id>/... (a-z, 0-9, _ and -); the host name by "
     "default.",
     "id"},
    {"mqtt-control",
     "Also take commands from wattmeter/<id>/command (POWER, CURRENT, STATUS, RESET, POLL "
     "ON|OFF, CURRENTS ON|OFF, DISMISS WARNING), with the window's rules; let the broker's "
     "access list say who may send them.",
     nullptr},
};

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Monitor and command an RF power amplifier over a serial line. The port (COM1 to COM16)\n"
        "is chosen in the Ports menu and remembered in\n"
        "$XDG_CONFIG_HOME/Vorlan Wattmeter/Vorlan Wattmeter.conf; on Linux COMn is the device\n"
        "that the link $XDG_CONFIG_HOME/Vorlan Wattmeter/ports/comn points to, else "
        "/dev/ttyS(n-1)."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const auto& [name, help, value] : kOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                                            value ? QString::fromLatin1(value) : QString()));
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

// --serve [ADDRESS:]PORT: the address (loopback unless given) and port; false when malformed.
bool serveAddress(const QString& text, QHostAddress& address, quint16& port) {
    const qsizetype colon = text.lastIndexOf(':');
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    port = quint16(number);
    return ok && number <= 65535 && address.setAddress(host);
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

    // The station at the centre; every surface below follows it.
    app::Station station;
    std::unique_ptr<app::Journal> journal;
    if (parser.isSet(QStringLiteral("journal"))) {
        QString error;
        journal = app::Journal::open(parser.value(QStringLiteral("journal")), &error);
        if (!journal) {
            std::fprintf(stderr, "wattmeter: cannot open the journal %s: %s\n",
                         qPrintable(parser.value(QStringLiteral("journal"))), qPrintable(error));
            return 1;
        }
        journal->follow(station);
    }

    std::unique_ptr<app::DesktopNotifier> notifier;
    if (parser.isSet(QStringLiteral("notify"))) {
        QString error;
        notifier = app::DesktopNotifier::start(QDBusConnection::sessionBus(), &error);
        if (notifier)
            notifier->follow(station);
        else
            std::fprintf(stderr, "wattmeter: %s: alarms show in the window only\n",
                         qPrintable(error));
    }

    dashboard::StationView view(station);
    std::unique_ptr<dashboard::Server> server;
    if (parser.isSet(QStringLiteral("serve"))) {
        QHostAddress address;
        quint16 port = 0;
        QString error = QStringLiteral("not [address:]port");
        server = std::make_unique<dashboard::Server>(view);
        server->setAllowedNames(parser.values(QStringLiteral("serve-host")).join(','));
        if (!serveAddress(parser.value(QStringLiteral("serve")), address, port) ||
            !server->listen(address, port, &error)) {
            std::fprintf(stderr, "wattmeter: cannot serve the dashboard on %s: %s\n",
                         qPrintable(parser.value(QStringLiteral("serve"))), qPrintable(error));
            return 1;
        }
        const QString url = QStringLiteral("http://%1:%2/")
                                .arg(address.protocol() == QAbstractSocket::IPv6Protocol
                                         ? '[' + address.toString() + ']'
                                         : address.toString(),
                                     QString::number(server->port()));
        std::fprintf(stderr, "wattmeter: dashboard at %s\n", qPrintable(url));
        if (!address.isLoopback())
            std::fprintf(stderr, "wattmeter: the dashboard is reachable from the network, without "
                                 "authentication\n");
    }

    // The engine hears the line; the window is one view of it.
    app::Monitor monitor(std::make_unique<seriallink::QtSerialComponent>(), station);
    ui::frmWattmeter window(monitor);
    if (notifier)
        QObject::connect(notifier.get(), &app::Notifier::activated, &window,
                         &ui::frmWattmeter::bringToFront);
    std::unique_ptr<mqtt::Bridge> bridge;
    if (parser.isSet(QStringLiteral("mqtt"))) {
        QString error;
        bridge = mqtt::Bridge::start({parser.value(QStringLiteral("mqtt")),
                                      parser.value(QStringLiteral("mqtt-ca")),
                                      parser.value(QStringLiteral("mqtt-password-file")),
                                      parser.value(QStringLiteral("mqtt-node")),
                                      parser.isSet(QStringLiteral("mqtt-control"))},
                                     station, monitor.commands(), error);
        if (!bridge) {
            std::fprintf(stderr, "wattmeter: MQTT: %s\n", qPrintable(error));
            return 1;
        }
    }
    window.Form_Load();
    window.show();
    const int status = application.exec();
    if (bridge)
        bridge->stop(); // offline, rather than the broker's word for a lost connection
    return status;
}
