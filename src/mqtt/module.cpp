// The bridge as a module of its own, loaded only by a program asked to publish: one that is not
// maps neither libmosquitto nor OpenSSL. The program that loads it has the station, the command
// path and everything else of its own that the bridge calls.
#include "mqtt/bridge.h"

extern "C" Q_DECL_EXPORT QObject* wattmeter_mqtt_start(const mqtt::Bridge::Options& options,
                                                       app::Station& station,
                                                       app::CommandPath& commands, QString& error) {
    return mqtt::Bridge::start(options, station, commands, error).release();
}
