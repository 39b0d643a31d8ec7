// The station on an MQTT broker, for Home Assistant, Node-RED and whatever else the station
// runs: it follows the station and publishes its state, its alarms and Home Assistant's
// discovery of them; with control turned on, it takes commands from one topic, which the
// broker's access list guards, through the command path, with the window's rules.
//
//   wattmeter/<node>/availability     online / offline (retained; offline is the last will too)
//   wattmeter/<node>/state            the state as /api/readings has it (retained)
//   wattmeter/<node>/alarm            {"time": ..., "text": ...}, one message per alarm line
//                                     (Home Assistant's event entity names it by its id)
//   wattmeter/<node>/command          POWER, RESET, POLL ON, ... (with control only)
//   wattmeter/<node>/command/result   {"command": ..., "result": "sent" | "refused", ...}; the
//                                     refusals as too fast summed up with a "count", one a second
//   homeassistant/<component>/wattmeter_<node>/<object>/config   discovery (retained)
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

namespace app {
class CommandPath;
struct CommandRecord;
class Station;
} // namespace app

namespace mqtt {

class Client;

class Bridge : public QObject {
    Q_OBJECT
public:
    // As the command line gives them.
    struct Options {
        QString url;          // mqtt://[user@]host[:port] or mqtts://...
        QString caFile;       // mqtts:// only; empty: the system's authorities
        QString passwordFile; // empty: WATTMETER_MQTT_PASSWORD, if set
        QString node;         // empty: from the host name
        bool control = false; // take commands from the command topic
        QString dashboard;    // the dashboard's address for other machines; empty: none
    };
    struct Settings {
        QString node; // safe in a topic
        bool control = false;
        QString dashboard;
        int stateEveryMs = 60000; // the state again, so that only a program that is gone expires
        // Home Assistant's "online" republishes the discovery at most this often; the ones
        // that come meanwhile make one republish at the end.
        int discoveryHoldMs = 10000;
    };

    // The client connecting (and connecting again as long as it runs) and the bridge on it;
    // null, with the reason, when the options cannot work.
    static std::unique_ptr<Bridge> start(const Options& options, app::Station& station,
                                         app::CommandPath& commands, QString& error);

    Bridge(const Settings& settings, std::unique_ptr<Client> client, app::Station& station,
           app::CommandPath& commands, QObject* parent = nullptr);
    ~Bridge() override;

    // The topics of this node.
    static QByteArray topic(const QString& node, const char* leaf);
    QByteArray availabilityTopic() const { return topic(settings_.node, "availability"); }
    // Home Assistant's discovery of this node's device: topic and payload (empty: none, which
    // removes an entity a run with control left behind); the device links to the dashboard
    // when it is given.
    static QList<std::pair<QByteArray, QByteArray>> discovery(const QString& node, bool control,
                                                              const QString& dashboard = {});
    // "offline" on the availability topic, acknowledged or given up within 300 ms: written
    // before the DISCONNECT, it reaches a slow broker all the same, and Exit does not wait.
    Q_INVOKABLE void stop();
    void setDiscoveryHold(std::chrono::milliseconds hold) {
        settings_.discoveryHoldMs = int(hold.count());
    }

private:
    void sessionStarted();
    void recordBus();
    void publishDiscovery();
    void stateChanged();
    void publishState();
    void received(const QByteArray& topic, const QByteArray& payload, bool retained);
    void publishResult(const app::CommandRecord& command);

    Settings settings_;
    std::unique_ptr<Client> client_;
    app::Station& station_;
    app::CommandPath& commands_;
    QTimer stateEvery_;
    bool stateDue_ = false;
    const QList<std::pair<QByteArray, QByteArray>> discovery_; // made once: it never changes
    QTimer discoveryHold_;
    bool discoveryDue_ = false;
    QString broker_; // its host, as the operator named it
};

} // namespace mqtt
