#include "bridge.h"

#include "app/about.h"
#include "app/command_path.h"
#include "app/standard_error.h"
#include "app/station.h"
#include "app/station_json.h"
#include "mqtt/client.h"
#include "telemetry/protocol.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <span>

namespace mqtt {

namespace {

// Home Assistant greys out readings that are not renewed within this long: the state goes out
// every minute, so only a program that is gone without its last will lets them expire.
constexpr int kExpireAfterSeconds = 180;
constexpr qsizetype kCommandBytes = 32;

const QByteArray kStatusTopic = "homeassistant/status";

// One entity of the device, as Home Assistant's discovery describes it.
struct Entity {
    const char* component;
    const char* object; // in its topic and its unique id
    const char* name;
    const char* value; // the template that reads the state (or what a button sends)
    const char* unit = nullptr;
    const char* deviceClass = nullptr;
    int precision = -1;             // the digits Home Assistant shows; -1: its own choice
    const char* category = nullptr; // "diagnostic" for what tells of the line, not the amplifier
    const char* stateClass = nullptr;
    std::span<const char* const> options = {}; // what an "enum" can say
};

const QString kAnswering = QStringLiteral("{% if value_json.amplifier == 'answering' %}ON"
                                          "{% elif value_json.amplifier == 'silent' %}OFF"
                                          "{% else %}None{% endif %}");

const QString kLiveTemplate =
    QStringLiteral("{{ 'online' if value_json.readings_live else 'offline' }}");

constexpr const char* kBands[] = {"2m", "6m"};

// What the state topic tells of the amplifier.
const Entity kReadings[] = {
    {"sensor", "forward_power", "Forward power", "{{ value_json.forward_w }}", "W", "power", 0},
    {"sensor", "reflected_power", "Reflected power", "{{ value_json.reflected_w }}", "W", "power",
     0},
    {"sensor", "vswr", "VSWR", "{{ value_json.vswr }}", nullptr, nullptr, 2},
    {"sensor", "stage1_current", "Stage 1 current", "{{ value_json.stage1_a }}", "A", "current", 2},
    {"sensor", "stage2_current", "Stage 2 current", "{{ value_json.stage2_a }}", "A", "current", 2},
    {"sensor", "stage3_current", "Stage 3 current", "{{ value_json.stage3_a }}", "A", "current", 2},
    {"sensor", "stage4_current", "Stage 4 current", "{{ value_json.stage4_a }}", "A", "current", 2},
    {"sensor", "total_current", "Total current", "{{ value_json.total_a }}", "A", "current", 2},
    {"sensor", "band", "Band", "{{ value_json.band }}", nullptr, "enum", -1, nullptr, nullptr,
     kBands},
    {"binary_sensor", "port_up", "Serial port", "{{ 'ON' if value_json.port_open else 'OFF' }}",
     nullptr, "connectivity", -1, "diagnostic"},
    {"binary_sensor", "amplifier_answering", "Amplifier answering", nullptr, nullptr, nullptr, -1,
     "diagnostic"},
    {"binary_sensor", "over_power_warning", "Over-power warning",
     "{{ 'ON' if value_json.over_power_warning_open_since else 'OFF' }}", nullptr, "problem"},
};
// What it tells of the program: the line, the journal and the broker. Their values are no
// readings, so they stay available when the readings go stale (the last reply tells most then).
const Entity kDiagnostics[] = {
    {.component = "sensor",
     .object = "last_reply",
     .name = "Last reply",
     .value = "{{ value_json.last_reply }}",
     .deviceClass = "timestamp",
     .category = "diagnostic"},
    {.component = "sensor",
     .object = "journal",
     .name = "Journal",
     .value = "{{ value_json.journal }}",
     .deviceClass = "enum",
     .category = "diagnostic",
     .options = app::kJournalStates},
    {.component = "sensor",
     .object = "mqtt_reconnects",
     .name = "Broker reconnects",
     .value = "{{ value_json.mqtt_reconnects }}",
     .category = "diagnostic",
     .stateClass = "total_increasing"},
    {.component = "sensor",
     .object = "mqtt_alarms_dropped",
     .name = "Alarms dropped for the broker",
     .value = "{{ value_json.mqtt_alarms_dropped }}",
     .category = "diagnostic",
     .stateClass = "total_increasing"},
};
// The last remote command as its result tells it: "STATUS: refused (too fast, 15 times)".
const QString kLastCommand =
    QStringLiteral("{{ value_json.command }}: {{ value_json.result }}"
                   "{% if value_json.reason is defined %} ({{ value_json.reason }}"
                   "{% if value_json.count is defined %}, {{ value_json.count }} times{% endif %})"
                   "{% endif %}");

// The commands, with control only: buttons send their text, switches set on and off.
const Entity kButtons[] = {
    {"button", "power", "Power", "POWER"},
    {"button", "current", "Current", "CURRENT"},
    {"button", "status", "Status", "STATUS"},
    {"button", "reset", "Reset", "RESET", nullptr, "restart"},
    {"button", "dismiss_warning", "Dismiss over-power warning", "DISMISS WARNING"},
};
struct Switch {
    const char* object;
    const char* name;
    const char* field; // of the state
    const char* on;
    const char* off;
};
const Switch kSwitches[] = {
    {"polling", "Polling", "polling", "POLL ON", "POLL OFF"},
    {"currents", "Include current", "currents", "CURRENTS ON", "CURRENTS OFF"}};

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// An alarm as Home Assistant's event: its id as the event type, the text beside it. A text the
// table does not know is still an event, of the type "other", rather than one Home Assistant
// refuses.
QString alarmEvent() {
    QJsonObject ids;
    for (const telemetry::Alarm& alarm : telemetry::kAlarms)
        ids[latin1(alarm.text)] = latin1(alarm.id);
    return QStringLiteral("{% set ids = %1 %}{{ {'event_type': ids.get(value_json.text, '%2'), "
                          "'text': value_json.text} | tojson }}")
        .arg(QString::fromUtf8(json(ids)), latin1(telemetry::kOtherAlarmId));
}

} // namespace

QByteArray Bridge::topic(const QString& node, const char* leaf) {
    return "wattmeter/" + node.toUtf8() + '/' + leaf;
}

std::unique_ptr<Bridge> Bridge::start(const Options& options, app::Station& station,
                                      app::CommandPath& commands, QString& error) {
    Client::Settings client;
    std::optional<QByteArray> password;
    if (!parseBrokerUrl(options.url, client.broker, error) ||
        !readPassword(options.passwordFile, password, error))
        return nullptr;
    const QString node =
        options.node.isEmpty() ? nodeIdFromHostName(QHostInfo::localHostName()) : options.node;
    if (!isValidNodeId(node)) {
        error = QStringLiteral("the node id \"%1\" may hold only a-z, 0-9, _ and -, at most 64 of "
                               "them")
                    .arg(node);
        return nullptr;
    }
    client.password = password;
    // Anyone on the way reads a password sent in the clear; on this machine nobody is on the way.
    const QHostAddress address(client.broker.host);
    if (password && !client.broker.tls && !address.isLoopback() &&
        client.broker.host != QLatin1String("localhost"))
        app::say(app::Severity::Warning,
                 QStringLiteral("MQTT: the password goes to %1 unencrypted; use mqtts:// for a "
                                "broker on another machine")
                     .arg(client.broker.host));
    client.caFile = options.caFile;
    client.clientId = "wattmeter-" + node.toUtf8();
    client.willTopic = topic(node, "availability");
    client.willPayload = "offline";
    client.say = [](const QString& line) { app::say(app::Severity::Warning, line); };
    auto session = std::make_unique<Client>(client);
    auto bridge = std::make_unique<Bridge>(Settings{node, options.control, options.dashboard},
                                           std::move(session), station, commands);
    if (!bridge->client_->start(error))
        return nullptr;
    return bridge;
}

Bridge::Bridge(const Settings& settings, std::unique_ptr<Client> client, app::Station& station,
               app::CommandPath& commands, QObject* parent)
    : QObject(parent), settings_(settings), client_(std::move(client)), station_(station),
      commands_(commands),
      discovery_(discovery(settings.node, settings.control, settings.dashboard)) {
    discoveryHold_.setSingleShot(true);
    connect(&discoveryHold_, &QTimer::timeout, this, [this] {
        if (std::exchange(discoveryDue_, false))
            sessionStarted();
    });
    client_->subscribe(kStatusTopic);
    if (settings_.control)
        client_->subscribe(topic(settings_.node, "command"));
    connect(client_.get(), &Client::sessionStarted, this, &Bridge::sessionStarted);
    connect(client_.get(), &Client::messageReceived, this, &Bridge::received);
    broker_ = client_->host();
    connect(client_.get(), &Client::connectedChanged, this, &Bridge::recordBus);
    connect(client_.get(), &Client::statusChanged, this, &Bridge::recordBus);
    recordBus();

    app::followState(
        station_, this, [this] { stateChanged(); });
    connect(&station_, &app::Station::alarmLogged, this, [this](const app::AlarmLine& line) {
        client_->publishEvent(topic(settings_.node, "alarm"),
                              json({{"time", app::isoTime(line.ms)}, {"text", line.text}}));
    });
    connect(&station_, &app::Station::commandHandled, this, &Bridge::publishResult);
    connect(&stateEvery_, &QTimer::timeout, this, &Bridge::publishState);
    stateEvery_.start(settings_.stateEveryMs);
}

Bridge::~Bridge() = default;

void Bridge::recordBus() {
    app::Station::Bus bus;
    bus.on = true;
    bus.connected = client_->isConnected();
    bus.reconnects = client_->reconnects();
    bus.broker = broker_;
    bus.reason = client_->cause();
    bus.publishRefused = client_->publishRefused();
    bus.lastRefusal = client_->lastRefusal();
    bus.refusing = client_->refusing();
    bus.tooLarge = client_->oversizedDropped();
    station_.recordBus(bus);
}

void Bridge::sessionStarted() {
    client_->publishLatest(availabilityTopic(), "online", true);
    publishDiscovery();
    publishState();
}

void Bridge::stateChanged() {
    // A scan reports readings, alarms and the band together: one state for all of them.
    if (!std::exchange(stateDue_, true))
        QTimer::singleShot(0, this, &Bridge::publishState);
}

void Bridge::publishState() {
    stateDue_ = false;
    QJsonObject state = app::stateJson(station_);
    state["mqtt_alarms_dropped"] = qint64(client_->eventsDropped());
    state["mqtt_results_dropped"] = qint64(client_->resultsDropped());
    state["mqtt_reconnects"] = qint64(client_->reconnects());
    client_->publishLatest(topic(settings_.node, "state"), json(state), true);
    stateEvery_.start(); // a minute from the last one
}

QList<std::pair<QByteArray, QByteArray>> Bridge::discovery(const QString& node, bool control,
                                                           const QString& dashboard) {
    QList<std::pair<QByteArray, QByteArray>> messages;
    const QString id = QStringLiteral("wattmeter_") + node;
    const QString base = QString::fromUtf8(topic(node, ""));
    QJsonObject device{{"identifiers", QJsonArray{id}},
                       {"name", QStringLiteral("Amplifier on %1").arg(node)},
                       {"manufacturer", "Vorlan"},
                       {"model", "Wattmeter"},
                       {"sw_version", WATTMETER_VERSION}};
    if (!dashboard.isEmpty()) // "Visit" on the device's page
        device["configuration_url"] = dashboard;
    const QJsonObject origin{{"name", app::kProgramName}, {"sw_version", WATTMETER_VERSION}};
    const auto publish = [&](const char* component, const char* object, QJsonObject config,
                             bool wanted) {
        const QByteArray where =
            QByteArray("homeassistant/") + component + '/' + id.toUtf8() + '/' + object + "/config";
        if (!wanted) { // a run without control leaves no dead buttons behind
            messages.append({where, {}});
            return;
        }
        config["unique_id"] = id + '_' + object;
        if (!config.contains("availability"))
            config["availability_topic"] = base + "availability";
        config["device"] = device;
        config["origin"] = origin;
        messages.append({where, json(config)});
    };
    const auto stateEntity = [&](const Entity& e) {
        QJsonObject config{{"name", e.name},
                           {"state_topic", base + "state"},
                           {"value_template", e.value ? QString(e.value) : kAnswering},
                           {"expire_after", kExpireAfterSeconds}};
        if (e.unit)
            config["unit_of_measurement"] = e.unit;
        if (e.deviceClass)
            config["device_class"] = e.deviceClass;
        if (e.precision >= 0)
            config["suggested_display_precision"] = e.precision;
        if (e.category)
            config["entity_category"] = e.category;
        if (e.stateClass)
            config["state_class"] = e.stateClass;
        if (!e.options.empty()) {
            QJsonArray options;
            for (const char* option : e.options)
                options.append(option);
            config["options"] = options;
        }
        return config;
    };
    for (const Entity& e : kReadings) {
        QJsonObject config = stateEntity(e);
        if (QByteArray(e.component) == "sensor" && e.options.empty()) {
            // A number, for Home Assistant's history; available while the program runs and its
            // readings are live, so that a stale number never looks current.
            config["state_class"] = "measurement";
            config["availability"] = QJsonArray{
                QJsonObject{{"topic", base + "availability"}},
                QJsonObject{{"topic", base + "state"}, {"value_template", kLiveTemplate}}};
            config["availability_mode"] = "all";
        }
        publish(e.component, e.object, config, true);
    }
    for (const Entity& e : kDiagnostics)
        publish(e.component, e.object, stateEntity(e), true);
    QJsonArray eventTypes;
    for (const telemetry::Alarm& alarm : telemetry::kAlarms)
        eventTypes.append(latin1(alarm.id));
    eventTypes.append(latin1(telemetry::kOtherAlarmId));
    publish("event", "alarm",
            {{"name", "Alarm"},
             {"state_topic", base + "alarm"},
             {"value_template", alarmEvent()},
             {"event_types", eventTypes}},
            true);
    // The alarm's text as a state, for the versions of Home Assistant before events.
    publish("sensor", "last_alarm",
            {{"name", "Last alarm"},
             {"state_topic", base + "alarm"},
             {"value_template", "{{ value_json.text }}"},
             {"json_attributes_topic", base + "alarm"}},
            true);
    publish("sensor", "last_command",
            {{"name", "Last command"},
             {"state_topic", base + "command/result"},
             {"value_template", kLastCommand},
             {"json_attributes_topic", base + "command/result"},
             {"entity_category", "diagnostic"}},
            control);
    for (const Entity& e : kButtons) {
        QJsonObject config{
            {"name", e.name}, {"command_topic", base + "command"}, {"payload_press", e.value}};
        if (e.deviceClass)
            config["device_class"] = e.deviceClass;
        publish(e.component, e.object, config, control);
    }
    for (const Switch& s : kSwitches)
        publish(
            "switch", s.object,
            {{"name", s.name},
             {"command_topic", base + "command"},
             {"payload_on", s.on},
             {"payload_off", s.off},
             {"state_topic", base + "state"},
             {"value_template",
              QStringLiteral("{{ '%1' if value_json.%2 else '%3' }}").arg(s.on, s.field, s.off)},
             {"state_on", s.on},
             {"state_off", s.off},
             {"entity_category", "config"}},
            control);
    return messages;
}

void Bridge::publishDiscovery() {
    discoveryHold_.start(settings_.discoveryHoldMs);
    for (const auto& [where, payload] : discovery_)
        client_->publishLatest(where, payload, true);
}

void Bridge::received(const QByteArray& where, const QByteArray& payload, bool retained) {
    if (where == kStatusTopic) {
        // Home Assistant has restarted and needs the discovery again; a flood of these must cost
        // no more than one republish a hold.
        if (payload != "online")
            return;
        if (discoveryHold_.isActive())
            discoveryDue_ = true;
        else
            sessionStarted();
        return;
    }
    // A command left on the broker would fire at every reconnect: only live ones count.
    if (!settings_.control || where != topic(settings_.node, "command") || retained)
        return;
    commands_.runRemote(payload.left(kCommandBytes));
}

void Bridge::publishResult(const app::CommandRecord& command) {
    if (command.from != app::Origin::Remote)
        return;
    // As it came, byte for byte: decoding it would hide what made it unknown (a UTF-8 decoder
    // drops a byte-order mark without a word).
    QJsonObject result{{"command", app::escaped(QString::fromLatin1(command.text), 0x7E)},
                       {"result", command.refusal ? "refused" : "sent"}};
    if (command.refusal)
        result["reason"] = app::kRefusalNames[int(*command.refusal)];
    if (command.count > 1)
        result["count"] = command.count;
    client_->publishEvent(topic(settings_.node, "command/result"), json(result),
                          command.refusal ? Outbox::Event::Refusal : Outbox::Event::Result);
}

void Bridge::stop() {
    stateEvery_.stop();
    client_->stop(availabilityTopic(), "offline", true);
}

} // namespace mqtt
