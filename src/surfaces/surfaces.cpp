#include "surfaces.h"

#include "app/journal.h"
#include "app/standard_error.h"
#include "dashboard/server.h"
#include "dashboard/station_view.h"
#include "mqtt/bridge.h"

#include <QCoreApplication>
#include <QLibrary>

#include <QCommandLineParser>
#include <QNetworkInterface>

namespace surfaces {

const Option kOptions[8] = {
    {"journal",
     "Append one CSV line per event (readings, alarms, band reports, commands sent, ports "
     "opened, silences, readings live or stale) to <file>.",
     "file"},
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

bool Values::isSet(const QString& name) const {
    return given.contains(name) && value(name) != QLatin1String("no");
}

void Values::take(const QCommandLineParser& parser, const Option* begin, const Option* end) {
    for (const Option* option = begin; option != end; ++option) {
        const QString name = QString::fromLatin1(option->name);
        if (parser.isSet(name))
            given[name] = option->value ? parser.values(name) : QStringList{QStringLiteral("yes")};
    }
}

namespace {

// [ADDRESS:]PORT: the address (loopback unless given) and port; false when malformed.
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

QString url(const QString& host, quint16 port) {
    return QStringLiteral("http://%1:%2/").arg(host, QString::number(port));
}

QString url(QHostAddress address, quint16 port) {
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return url(address.toString(), port);
    address.setScopeId({});
    return url('[' + address.toString() + ']', port);
}

// Where a browser on another machine finds a dashboard that listens on every address of a
// family: the listening line names none that it could open. A link-local IPv6 address would need
// the interface's name in the URL, which browsers do not take.
QStringList urlsOfThisMachine(const QHostAddress& listening, quint16 port) {
    QStringList urls;
    if (listening != QHostAddress::AnyIPv4 && listening != QHostAddress::AnyIPv6)
        return urls;
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (address.protocol() == listening.protocol() && !address.isLoopback() &&
            !address.isLinkLocal())
            urls << url(address, port);
    return urls;
}

// Home Assistant's link to a dashboard that other machines reach: a name given for it, else an
// address of this machine; none for one on loopback.
QString link(const QHostAddress& listening, quint16 port, const QStringList& names) {
    if (listening.isLoopback())
        return {};
    for (const QString& name : names)
        if (name != QLatin1String("localhost") && !QHostAddress(name).isLoopback())
            return url(name, port);
    if (listening != QHostAddress::AnyIPv4 && listening != QHostAddress::AnyIPv6)
        return url(listening, port);
    return urlsOfThisMachine(listening, port).value(0);
}

// The bridge comes from its module (mqtt/module.cpp), in the modules' folder beside the
// program's: <prefix>/bin and <prefix>/lib/..., the build folder's bin and tests alike.
std::unique_ptr<QObject> startBridge(const mqtt::Bridge::Options& options, app::Station& station,
                                     app::CommandPath& commands, QString& error) {
    QLibrary module(QCoreApplication::applicationDirPath() +
                    QStringLiteral("/../" WATTMETER_MODULE_DIR "/wattmeter-mqtt"));
    module.setLoadHints(QLibrary::ResolveAllSymbolsHint); // a missing symbol fails here, not later
    using Start =
        QObject* (*)(const mqtt::Bridge::Options&, app::Station&, app::CommandPath&, QString&);
    const auto start = reinterpret_cast<Start>(module.resolve("wattmeter_mqtt_start"));
    if (!start) {
        error = QStringLiteral("cannot load the bridge: ") + module.errorString();
        return nullptr;
    }
    return std::unique_ptr<QObject>(start(options, station, commands, error));
}

} // namespace

Surfaces::~Surfaces() = default;

std::unique_ptr<Surfaces> Surfaces::start(const Values& options, app::Station& station,
                                          app::CommandPath& commands, QString& error) {
    auto surfaces = std::make_unique<Surfaces>();
    if (options.isSet(QStringLiteral("journal"))) {
        const QString path = options.value(QStringLiteral("journal"));
        QString why;
        surfaces->journal = app::Journal::open(path, &why);
        if (!surfaces->journal) {
            error = QStringLiteral("cannot open the journal %1: %2").arg(path, why);
            return nullptr;
        }
        surfaces->journal->follow(station);
    }
    surfaces->view = std::make_unique<dashboard::StationView>(station);
    QString dashboard; // for other machines: Home Assistant's link to it
    if (options.isSet(QStringLiteral("serve"))) {
        const QString where = options.value(QStringLiteral("serve"));
        QHostAddress address;
        quint16 port = 0;
        QString why = QStringLiteral("not [address:]port");
        surfaces->server = std::make_unique<dashboard::Server>(*surfaces->view);
        surfaces->server->setAllowedNames(options.values(QStringLiteral("serve-host")).join(','));
        if (!serveAddress(where, address, port) || !surfaces->server->listen(address, port, &why)) {
            error = QStringLiteral("cannot serve the dashboard on %1: %2").arg(where, why);
            return nullptr;
        }
        port = surfaces->server->port();
        app::say(app::Severity::Info, QStringLiteral("dashboard at ") + url(address, port));
        QStringList elsewhere = urlsOfThisMachine(address, port);
        for (const QString& name : options.values(QStringLiteral("serve-host")))
            elsewhere << url(name, port);
        for (const QString& at : elsewhere)
            app::say(app::Severity::Info, QStringLiteral("dashboard also at ") + at);
        if (!address.isLoopback())
            app::say(app::Severity::Warning, QStringLiteral("the dashboard is reachable from the "
                                                            "network, without authentication"));
        dashboard = link(address, port, options.values(QStringLiteral("serve-host")));
    }
    if (options.isSet(QStringLiteral("mqtt"))) {
        QString why;
        surfaces->bridge = startBridge({options.value(QStringLiteral("mqtt")),
                                        options.value(QStringLiteral("mqtt-ca")),
                                        options.value(QStringLiteral("mqtt-password-file")),
                                        options.value(QStringLiteral("mqtt-node")),
                                        options.isSet(QStringLiteral("mqtt-control")), dashboard},
                                       station, commands, why);
        if (!surfaces->bridge) {
            error = QStringLiteral("MQTT: ") + why;
            return nullptr;
        }
    }
    return surfaces;
}

void Surfaces::reopenJournal() {
    if (journal)
        journal->reopen();
}

void Surfaces::stop() {
    if (bridge) // offline, rather than the broker's word for a lost connection
        QMetaObject::invokeMethod(bridge.get(), "stop", Qt::DirectConnection);
    if (journal)
        journal->flush();
}

} // namespace surfaces
