#include "station_json.h"

#include "station.h"

#include <QDateTime>
#include <QJsonArray>

#include <charconv>

namespace app {

QString shortest(float value) {
    char text[32];
    const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value);
    return QString::fromLatin1(text, error == std::errc() ? end - text : 0);
}

QJsonValue jsonNumber(std::optional<float> value) {
    return value ? QJsonValue(shortest(*value).toDouble()) : QJsonValue();
}

QString isoTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString escaped(const QString& text, char16_t highest) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out += QLatin1String("\\\\");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F || u > highest)
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void followState(const Station& station, const QObject* context,
                 const std::function<void()>& changed) {
    for (const auto signal :
         {&Station::readingsChanged, &Station::pollingChanged, &Station::journalChanged})
        QObject::connect(&station, signal, context, changed);
    QObject::connect(&station, &Station::overPowerWarningChanged, context, changed);
    QObject::connect(&station, &Station::portChanged, context, changed);
    QObject::connect(&station, &Station::alarmLogged, context, changed);
    QObject::connect(&station, &Station::bandReported, context, changed);
    QObject::connect(&station, &Station::amplifierChanged, context, changed);
    QObject::connect(&station, &Station::liveChanged, context, changed);
}

QJsonObject stateJson(const Station& station) {
    const Station::Readings& readings = station.readings();
    const Station::Port& port = station.port();
    const std::optional<bool> high = station.highBand();
    const auto time = [](qint64 ms) { return ms < 0 ? QJsonValue() : isoTime(ms); };
    const std::optional<Stale> stale = station.staleBecause();
    QJsonObject state{
        {"time", time(readings.ms())},
        {"powers_time", time(readings.powersMs)},
        {"currents_time", time(readings.currentsMs)},
        {"readings_live", !stale},
        {"readings_stale_because", stale ? QJsonValue(kStaleReasons[int(*stale)]) : QJsonValue()},
        {"port", port.name.isEmpty() ? QJsonValue() : port.name},
        {"port_open", port.open},
        {"band", high ? (*high ? "2m" : "6m") : QJsonValue()}};
    QJsonObject texts;
    for (std::size_t i = 0; i < Station::kFields; ++i) {
        texts[kDisplayNames[i]] = readings.latest[i].text;
        state[kNumberNames[i]] = jsonNumber(readings.latest[i].number);
    }
    state["texts"] = texts;
    QJsonArray alarms;
    for (const AlarmLine& line : station.alarms())
        alarms.append(QJsonObject{{"time", isoTime(line.ms)}, {"text", line.text}});
    state["alarms"] = alarms;
    const Station::Replies& replies = station.replies();
    static const char* const kAmplifier[] = {"unknown", "answering", "silent"};
    state["amplifier"] = kAmplifier[int(replies.state)];
    state["last_reply"] = time(replies.last);
    const Station::Warning& warning = station.overPowerWarning();
    state["over_power_warning_open_since"] = warning.open ? isoTime(warning.since) : QJsonValue();
    state["polling"] = station.polling().on;
    state["currents"] = station.polling().currents;
    const Station::Journal& journal = station.journal();
    state["journal"] = kJournalStates[journal.state];
    if (journal.state != Station::Journal::Off) {
        state["journal_lines_waiting"] = qint64(journal.waiting);
        state["journal_lines_lost"] = qint64(journal.lost);
    }
    // Not followed by followState: it rides along with the next change. A broker that refused
    // the state would otherwise have it sent again for every refusal.
    if (const Station::Bus& bus = station.bus(); bus.on)
        state["mqtt"] = QJsonObject{{"connected", bus.connected},
                                    {"since", isoTime(bus.since)},
                                    {"reason", bus.reason},
                                    {"reconnects", qint64(bus.reconnects)},
                                    {"publish_refused", qint64(bus.publishRefused)},
                                    {"last_refusal", bus.lastRefusal},
                                    {"messages_too_large", qint64(bus.tooLarge)}};
    return state;
}

} // namespace app
