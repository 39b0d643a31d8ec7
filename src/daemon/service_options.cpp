#include "service_options.h"

#include <QFile>

#include <algorithm>
#include <array>

namespace service {

namespace {

enum class Kind { Switch, Value, Repeatable };

struct ServiceOption {
    const char* name;
    Kind kind;
    const char* help;
    const char* value = nullptr;
};

// The service's own options; the surfaces' follow them.
const ServiceOption kOwn[] = {
    {"config", Kind::Value, "Read options from <file>: key = value lines, # comments.", "file"},
    {"device", Kind::Value, "The amplifier's serial device, e.g. /dev/serial/by-id/usb-...",
     "path"},
    {"port", Kind::Value,
     "COM<n>, 1 to 16, as the window has it: the link com<n> in the ports folder, else "
     "/dev/ttyS(n-1).",
     "n"},
    {"wait-for-device", Kind::Switch,
     "Wait for a device that is not there at start, rather than refuse to start."},
    {"poll", Kind::Switch,
     "Poll the amplifier from the start: a poll two ticks (1 s) after the line goes quiet."},
    {"poll-currents", Kind::Switch, "Ask for the stage currents with each poll too."},
    {"reset-at-start", Kind::Switch,
     "Send RESET at start, as the window does. Off: a restarted service must not reset an "
     "amplifier that is on the air."},
};

const std::array kSpecial = {"help", "version"};

std::optional<ServiceOption> find(const QString& name) {
    for (const ServiceOption& option : kOwn)
        if (name == QLatin1String(option.name))
            return option;
    for (const surfaces::Option& option : surfaces::kOptions)
        if (name == QLatin1String(option.name))
            return ServiceOption{option.name,
                                 !option.value           ? Kind::Switch
                                 : name == u"serve-host" ? Kind::Repeatable
                                                         : Kind::Value,
                                 option.help, option.value};
    return std::nullopt;
}

// One option and its value into values; the reason when it cannot be.
QString take(surfaces::Values& values, QStringList& seen, const QString& name,
             std::optional<QString> value) {
    const std::optional<ServiceOption> option = find(name);
    if (!option)
        return QStringLiteral("unknown option %1").arg(name);
    if (option->kind == Kind::Switch) {
        const QString v = value.value_or(QStringLiteral("yes"));
        if (v != u"yes" && v != u"no")
            return QStringLiteral("%1 is yes or no, not \"%2\"").arg(name, v);
        value = v;
    } else if (!value || value->isEmpty()) {
        return QStringLiteral("%1 needs a value").arg(name);
    }
    if (seen.contains(name) && option->kind != Kind::Repeatable)
        return QStringLiteral("%1 is given twice").arg(name);
    if (!seen.contains(name))
        values.given.remove(name); // this source overrides what came before it
    seen << name;
    values.given[name] << *value;
    return {};
}

bool readConfig(const QString& path, surfaces::Values& values, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read the config %1: %2").arg(path, file.errorString());
        return false;
    }
    QStringList seen;
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        const QString why = equals < 0 ? QStringLiteral("not key = value")
                                       : take(values, seen, line.left(equals).trimmed(),
                                              line.mid(equals + 1).trimmed());
        if (!why.isEmpty()) {
            error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(why);
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<Options> parseOptions(const QStringList& arguments, QString& error) {
    Options options;
    surfaces::Values line;
    QStringList seen;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"-h") {
            options.help = true;
            continue;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unexpected %1").arg(argument);
            return std::nullopt;
        }
        const qsizetype equals = argument.indexOf('=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (std::ranges::find(kSpecial, name) != kSpecial.end()) {
            (name == u"help" ? options.help : options.version) = true;
            continue;
        }
        std::optional<QString> value;
        if (equals >= 0)
            value = argument.mid(equals + 1);
        else if (const auto option = find(name);
                 option && option->kind != Kind::Switch && i + 1 < arguments.size())
            value = arguments[++i];
        if (const QString why = take(line, seen, name, value); !why.isEmpty()) {
            error = why;
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
    if (line.given.contains(QStringLiteral("config")) &&
        !readConfig(line.value(QStringLiteral("config")), options.values, error))
        return std::nullopt;
    // The command line overrides the file one key at a time.
    for (auto it = line.given.cbegin(); it != line.given.cend(); ++it)
        options.values.given[it.key()] = it.value();
    return options;
}

QString usage() {
    QString text = QStringLiteral(
        "Usage: wattmeterd (--device PATH | --port N) [options]\n"
        "Watch and command an RF power amplifier on a serial line without a window, for\n"
        "systemd: the journal, the dashboard and MQTT tell what it hears; at least one of\n"
        "them must be on. Every refusal at start exits with status 2. A switch may be turned\n"
        "off again with =no (--poll=no), over what the config file says.\n\nOptions:\n");
    // Each option's words wrapped beside its name, as a terminal of 100 columns shows them.
    const auto line = [&text](const char* name, const char* value, const char* help) {
        QString row =
            QStringLiteral("  --%1%2").arg(name, value ? QStringLiteral(" <%1>").arg(value) : "");
        row = row.leftJustified(32);
        for (const QString& word : QString::fromUtf8(help).split(' ')) {
            if (row.size() - row.lastIndexOf('\n') + word.size() > 100)
                row += '\n' + QString(32, ' ');
            row += ' ' + word;
        }
        text += row + '\n';
    };
    for (const ServiceOption& option : kOwn)
        line(option.name, option.value, option.help);
    for (const surfaces::Option& option : surfaces::kOptions)
        line(option.name, option.value, option.help);
    line("help", nullptr, "Show this and stop.");
    line("version", nullptr, "Show the version and stop.");
    return text;
}

} // namespace service
