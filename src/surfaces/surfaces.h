// What both programs start from their options around the station: the journal, the dashboard
// and the MQTT bridge. Each follows the station; the bridge commands through the command path.
// The window adds its desktop notifications, the service its lines on standard error.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QCommandLineParser;

namespace app {
class CommandPath;
class Journal;
class Station;
} // namespace app

namespace dashboard {
class Server;
class StationView;
} // namespace dashboard

namespace surfaces {

// An option: its name, what it does, and the name of its value (none for a switch).
struct Option {
    const char* name;
    const char* help;
    const char* value;
};
extern const Option kOptions[8];

// What the options say: each name with its values in order; the last one counts, and a switch
// is on unless its last value is "no".
struct Values {
    QMap<QString, QStringList> given;

    QString value(const QString& name) const {
        return given.value(name).value(given.value(name).size() - 1);
    }
    QStringList values(const QString& name) const { return given.value(name); }
    bool isSet(const QString& name) const;
    void take(const QCommandLineParser& parser, const Option* begin, const Option* end);
};

class Surfaces {
public:
    // Starts what the options ask for; null, with the line to say, when one cannot start.
    static std::unique_ptr<Surfaces> start(const Values& options, app::Station& station,
                                           app::CommandPath& commands, QString& error);
    ~Surfaces();

    bool any() const { return journal || server || bridge; }
    // A clean stop: "offline" on the broker, the journal's lines on the disk.
    void stop();
    // After a rotation: the journal's file closed and its path opened again.
    void reopenJournal();

    std::unique_ptr<app::Journal> journal;
    std::unique_ptr<dashboard::StationView> view;
    std::unique_ptr<dashboard::Server> server;
    std::unique_ptr<QObject> bridge; // an mqtt::Bridge, from its module
};

} // namespace surfaces
