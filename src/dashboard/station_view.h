// The station as the dashboard serves it. It follows the program's station and keeps only what
// is the dashboard's own: the last hour of readings in a ring of fixed size, the alarms for the
// chart's marks, the counters, and the state and metrics texts, made once per change.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>

#include <array>
#include <deque>
#include <optional>
#include <vector>

namespace app {
class Station;
}

namespace dashboard {

class StationView : public QObject {
    Q_OBJECT
public:
    static constexpr int kHistoryMinutes = 60;
    static constexpr std::size_t kHistorySize = 7200; // two scans a second at the most
    static constexpr std::size_t kAlarmsKept = 1000;  // for the chart's marks

    explicit StationView(const app::Station& station, QObject* parent = nullptr);

    // The current state (the page's every update), the readings and alarms of the last minutes
    // (1 to 60), and the Prometheus text exposition.
    QByteArray stateJson() const;
    QByteArray historyJson(int minutes) const;
    QByteArray metrics() const;

signals:
    void changed(); // after every change of the station; listeners gather them

private:
    void update(); // the texts made of what just changed

    // One scan: each field's number where the scan found it (and it is one). A sample with no
    // value at all breaks the chart's lines.
    struct Sample {
        qint64 ms;
        std::array<std::optional<float>, 8> values; // in app::Station::Scan order
    };
    void keep(const Sample& sample);

    struct Alarm {
        qint64 ms;
        QString text;
    };

    const app::Station& station_;
    std::vector<Sample> samples_; // a ring: next_ is the oldest once it is full
    std::size_t next_ = 0;
    std::deque<Alarm> alarms_;
    QMap<QString, quint64> alarmCounts_;
    QMap<QString, quint64> commandCounts_;
    quint64 polls_ = 0;
    // The current state and the metrics as text, made once per change: every page and scraper
    // between two changes gets the same bytes.
    mutable QByteArray stateJson_, metrics_;
};

} // namespace dashboard
