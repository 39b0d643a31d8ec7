#include "station.h"

#include "telemetry/number.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace dashboard {

namespace {

constexpr const char* kDisplayNames[] = {"forward", "reflected", "vswr",   "stage1",
                                         "stage2",  "stage3",    "stage4", "total"};
constexpr const char* kNumberNames[] = {"forward_w", "reflected_w", "vswr",     "stage1_a",
                                        "stage2_a",  "stage3_a",    "stage4_a", "total_a"};

std::optional<float> number(const QString& display) {
    return telemetry::toSingle(display.toLatin1().toStdString());
}

// The shortest text that reads back as the same single-precision value: 1.3, not 1.2999999523.
QString shortest(float value) {
    return QString::number(value, 'g', 7);
}

QJsonValue json(std::optional<float> value) {
    return value ? QJsonValue(shortest(*value).toDouble()) : QJsonValue();
}

QString isoTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject alarmJson(qint64 ms, const QString& text) {
    return {{"time", isoTime(ms)}, {"text", text}};
}

// Label values in the exposition format escape the backslash, the quote and the line break.
QString label(QString value) {
    return value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
}

} // namespace

Station::Station(Clock clock)
    : clock_(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); }) {
    samples_.reserve(kHistorySize);
}

void Station::readings(const QStringList& displays) {
    forget();
    for (std::size_t i = 0; i < displays_.size(); ++i)
        displays_[i] = displays.value(qsizetype(i));
    lastReading_ = clock_();
    Sample sample{lastReading_, number(displays[0]), number(displays[1]), number(displays[2])};
    if (samples_.size() < kHistorySize) {
        samples_.push_back(sample);
    } else {
        samples_[next_] = sample;
        next_ = (next_ + 1) % kHistorySize;
    }
    emit changed();
}

void Station::alarm(const QString& text) {
    forget();
    alarms_.push_back({clock_(), text});
    if (alarms_.size() > kAlarmsKept)
        alarms_.pop_front();
    ++alarmCounts_[text];
    emit changed();
}

void Station::band(bool high) {
    forget();
    high_ = high;
    emit changed();
}

void Station::port(int n, bool open) {
    forget();
    port_ = n;
    open_ = open;
    emit changed();
}

void Station::polled() {
    forget();
    ++polls_;
}

void Station::commandSent(const QString& command) {
    forget();
    ++commandCounts_[command];
}

void Station::forget() {
    stateJson_.clear();
    metrics_.clear();
}

QByteArray Station::stateJson() const {
    if (!stateJson_.isEmpty())
        return stateJson_;
    QJsonObject state{{"time", lastReading_ < 0 ? QJsonValue() : isoTime(lastReading_)},
                      {"port", port_ ? QStringLiteral("COM%1").arg(port_) : QJsonValue()},
                      {"port_open", open_},
                      {"band", high_ ? (*high_ ? "2m" : "6m") : QJsonValue()}};
    QJsonObject texts;
    for (std::size_t i = 0; i < displays_.size(); ++i) {
        texts[kDisplayNames[i]] = displays_[i];
        state[kNumberNames[i]] = json(number(displays_[i]));
    }
    state["texts"] = texts;
    QJsonArray alarms;
    for (auto it = alarms_.size() > kAlarmsListed ? alarms_.end() - kAlarmsListed : alarms_.begin();
         it != alarms_.end(); ++it)
        alarms.append(alarmJson(it->ms, it->text));
    state["alarms"] = alarms;
    return stateJson_ = QJsonDocument(state).toJson(QJsonDocument::Compact);
}

QByteArray Station::historyJson(int minutes) const {
    const qint64 since = clock_() - qint64(minutes) * 60'000;
    QJsonArray readings;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        const Sample& s = samples_[(next_ + i) % samples_.size()];
        if (s.ms >= since)
            readings.append(QJsonObject{{"time", isoTime(s.ms)},
                                        {"forward_w", json(s.forward)},
                                        {"reflected_w", json(s.reflected)},
                                        {"vswr", json(s.vswr)}});
    }
    QJsonArray alarms;
    for (const Alarm& a : alarms_)
        if (a.ms >= since)
            alarms.append(alarmJson(a.ms, a.text));
    return QJsonDocument(
               QJsonObject{{"minutes", minutes}, {"readings", readings}, {"alarms", alarms}})
        .toJson(QJsonDocument::Compact);
}

QByteArray Station::metrics() const {
    if (!metrics_.isEmpty())
        return metrics_;
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
        for (const auto& [labels, display] : series)
            if (const auto value = number(displays_[display]))
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
    if (high_) {
        sample("wattmeter_band{band=\"2m\"}", *high_ ? "1" : "0");
        sample("wattmeter_band{band=\"6m\"}", *high_ ? "0" : "1");
    }
    family("wattmeter_port_up", "gauge", "1 while the serial port is open.");
    sample(port_ ? QStringLiteral("wattmeter_port_up{port=\"COM%1\"}").arg(port_)
                 : QStringLiteral("wattmeter_port_up"),
           open_ ? "1" : "0");
    family("wattmeter_last_reading_timestamp_seconds", "gauge", "When the last reading came in.");
    if (lastReading_ >= 0)
        sample("wattmeter_last_reading_timestamp_seconds",
               QString::number(lastReading_ / 1000.0, 'f', 3));
    family("wattmeter_alarms_total", "counter", "Alarms the amplifier reported, by text.");
    for (auto it = alarmCounts_.begin(); it != alarmCounts_.end(); ++it)
        sample(QStringLiteral("wattmeter_alarms_total{alarm=\"%1\"}").arg(label(it.key())),
               QString::number(it.value()));
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
