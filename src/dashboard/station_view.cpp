#include "station_view.h"

#include "app/station.h"
#include "app/station_json.h"
#include "telemetry/protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace dashboard {

using app::isoTime;
using app::jsonNumber;
using app::shortest;

namespace {

QJsonObject alarmJson(qint64 ms, const QString& text) {
    return {{"time", isoTime(ms)}, {"text", text}};
}

// Label values in the exposition format escape the backslash, the quote and the line break.
QString label(QString value) {
    return value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
}

} // namespace

StationView::StationView(const app::Station& station, QObject* parent)
    : QObject(parent), station_(station) {
    samples_.reserve(kHistorySize);
    // Every alarm from the start, so that a rule on its increase sees the first one.
    for (const std::string_view text : telemetry::kAlarmLines)
        alarmCounts_[QString::fromLatin1(text.data(), qsizetype(text.size()))] = 0;
    using app::Station;
    // Every scan is a point, with what it found; a field it did not find is a gap in that
    // field's line only.
    connect(&station, &Station::readingsChanged, this, [this] {
        const app::Station::Readings& readings = station_.readings();
        Sample sample{readings.ms(), {}};
        static_assert(std::tuple_size_v<decltype(sample.values)> == app::Station::kFields);
        for (std::size_t i = 0; i < sample.values.size(); ++i)
            if (readings.scan[i])
                sample.values[i] = readings.scan[i]->number;
        keep(sample);
    });
    // A silence and a port that is not open break the history's line: a sample without values.
    connect(
        &station, &Station::amplifierChanged, this,
        [this] {
            if (station_.replies().state == app::Amplifier::Silent)
                keep({station_.now(), {}});
        });
    connect(&station, &Station::portChanged, this, [this] {
        if (!station_.port().open)
            keep({station_.now(), {}});
    });
    connect(
        &station, &Station::alarmLogged, this,
        [this](const app::AlarmLine& line) {
            alarms_.push_back({line.ms, line.text});
            if (alarms_.size() > kAlarmsKept)
                alarms_.pop_front();
            ++alarmCounts_[line.text];
        });
    app::followState(station, this, [this] { update(); });
    connect(&station, &Station::busChanged, this, &StationView::update);
    // Counters only: the page shows none of them, so no update goes out for a write.
    connect(&station, &Station::written, this, [this](const QByteArray& bytes, app::Origin origin) {
        if (origin == app::Origin::Poll &&
            bytes == QByteArrayView(telemetry::kPowerCommand.data(),
                                    qsizetype(telemetry::kPowerCommand.size())))
            ++polls_;
        else if (origin == app::Origin::Button || origin == app::Origin::Remote)
            ++commandCounts_[QString::fromLatin1(bytes).trimmed()];
        metrics_.clear();
    });
}

void StationView::keep(const Sample& sample) {
    if (samples_.size() < kHistorySize) {
        samples_.push_back(sample);
    } else {
        samples_[next_] = sample;
        next_ = (next_ + 1) % kHistorySize;
    }
}

void StationView::update() {
    stateJson_.clear();
    metrics_.clear();
    emit changed();
}

QByteArray StationView::stateJson() const {
    if (stateJson_.isEmpty())
        stateJson_ = QJsonDocument(app::stateJson(station_)).toJson(QJsonDocument::Compact);
    return stateJson_;
}

QByteArray StationView::historyJson(int minutes) const {
    const qint64 since = station_.now() - qint64(minutes) * 60'000;
    QJsonArray readings;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        const Sample& s = samples_[(next_ + i) % samples_.size()];
        if (s.ms < since)
            continue;
        QJsonObject entry{{"time", isoTime(s.ms)}};
        for (std::size_t f = 0; f < s.values.size(); ++f)
            entry[app::kNumberNames[f]] = jsonNumber(s.values[f]);
        readings.append(entry);
    }
    QJsonArray alarms;
    for (const Alarm& a : alarms_)
        if (a.ms >= since)
            alarms.append(alarmJson(a.ms, a.text));
    return QJsonDocument(
               QJsonObject{{"minutes", minutes}, {"readings", readings}, {"alarms", alarms}})
        .toJson(QJsonDocument::Compact);
}

QByteArray StationView::metrics() const {
    if (!metrics_.isEmpty())
        return metrics_;
    const auto& latest = station_.readings().latest;
    QString out;
    const auto family = [&](const char* name, const char* type, const char* help) {
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n").arg(name, help, type);
    };
    const auto sample = [&](const QString& series, const QString& value) {
        out += series + ' ' + value + '\n';
    };
    // A gauge of readings: each series with its labels and the display it reads.
    const auto readings = [&](const char* name, const char* help,
                              std::initializer_list<std::pair<const char*, std::size_t>> series) {
        family(name, "gauge", help);
        for (const auto& [labels, field] : series)
            if (const auto value = latest[field].number)
                sample(name + QString(labels), shortest(*value));
    };
    readings("wattmeter_forward_watts", "Forward power as last read.", {{"", 0}});
    readings("wattmeter_reflected_watts", "Reflected power as last read.", {{"", 1}});
    readings("wattmeter_vswr", "Voltage standing wave ratio as last read.", {{"", 2}});
    readings(
        "wattmeter_stage_current_amperes", "Current of each stage as last read.",
        {{"{stage=\"1\"}", 3}, {"{stage=\"2\"}", 4}, {"{stage=\"3\"}", 5}, {"{stage=\"4\"}", 6}});
    readings("wattmeter_total_current_amperes", "Total current as last read.", {{"", 7}});
    family("wattmeter_band", "gauge", "1 for the band the amplifier reported, 0 for the other.");
    if (const std::optional<bool> high = station_.highBand()) {
        sample("wattmeter_band{band=\"2m\"}", *high ? "1" : "0");
        sample("wattmeter_band{band=\"6m\"}", *high ? "0" : "1");
    }
    const app::Station::Port& port = station_.port();
    family("wattmeter_port_up", "gauge", "1 while the serial port is open.");
    sample(!port.name.isEmpty()
               ? QStringLiteral("wattmeter_port_up{port=\"%1\"}").arg(label(port.name))
               : QStringLiteral("wattmeter_port_up"),
           port.open ? "1" : "0");
    const auto timestamp = [&](const char* name, const char* help, qint64 ms) {
        family(name, "gauge", help);
        if (ms >= 0)
            sample(name, QString::number(ms / 1000.0, 'f', 3));
    };
    timestamp("wattmeter_last_reading_timestamp_seconds", "When the last reading came in.",
              station_.readings().ms());
    family("wattmeter_readings_live", "gauge",
           "1 while the readings are live: the port open, the amplifier answering and a reading "
           "within the last 10 s.");
    sample("wattmeter_readings_live", station_.staleBecause() ? "0" : "1");
    const app::Station::Replies& replies = station_.replies();
    family("wattmeter_amplifier_answering", "gauge",
           "1 while the amplifier answers, 0 while it is silent; absent while the port is not "
           "open or nothing has been asked since.");
    if (replies.state != app::Amplifier::Unknown)
        sample("wattmeter_amplifier_answering",
               replies.state == app::Amplifier::Answering ? "1" : "0");
    timestamp("wattmeter_last_reply_timestamp_seconds", "When the amplifier last sent anything.",
              replies.last);
    family("wattmeter_over_power_warning_open", "gauge",
           "1 while an over-power warning waits to be dismissed.");
    sample("wattmeter_over_power_warning_open", station_.overPowerWarning().open ? "1" : "0");
    if (const app::Station::Journal& journal = station_.journal();
        journal.state != app::Station::Journal::Off) {
        family("wattmeter_journal_failing", "gauge", "1 while the journal cannot be written.");
        sample("wattmeter_journal_failing",
               journal.state == app::Station::Journal::Failing ? "1" : "0");
        family("wattmeter_journal_lines_lost_total", "counter",
               "Journal lines dropped because too many waited for the file.");
        sample("wattmeter_journal_lines_lost_total", QString::number(journal.lost));
    }
    family("wattmeter_alarms_total", "counter", "Alarms the amplifier reported, by text.");
    for (auto it = alarmCounts_.begin(); it != alarmCounts_.end(); ++it)
        sample(QStringLiteral("wattmeter_alarms_total{alarm=\"%1\"}").arg(label(it.key())),
               QString::number(it.value()));
    if (const app::Station::Bus& bus = station_.bus(); bus.on) {
        family("wattmeter_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
        sample("wattmeter_mqtt_connected", bus.connected ? "1" : "0");
        family("wattmeter_mqtt_reconnects_total", "counter",
               "Sessions with the MQTT broker after the first.");
        sample("wattmeter_mqtt_reconnects_total", QString::number(bus.reconnects));
        family("wattmeter_mqtt_publish_refused_total", "counter",
               "Messages the MQTT broker refused (MQTT 5 only).");
        sample("wattmeter_mqtt_publish_refused_total", QString::number(bus.publishRefused));
    }
    family("wattmeter_polls_total", "counter", "Automatic polls sent.");
    sample("wattmeter_polls_total", QString::number(polls_));
    family("wattmeter_commands_sent_total", "counter",
           "Commands sent from the buttons, by command.");
    for (auto it = commandCounts_.begin(); it != commandCounts_.end(); ++it)
        sample(QStringLiteral("wattmeter_commands_sent_total{command=\"%1\"}").arg(label(it.key())),
               QString::number(it.value()));
    return metrics_ = out.toUtf8();
}

} // namespace dashboard
