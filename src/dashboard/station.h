// The station as the dashboard serves it: the displays as the window shows them, the band, the
// port, the latest alarms and counters, and the last hour of readings in a ring of fixed size.
#pragma once

#include "app/station_feed.h"

#include <QByteArray>
#include <QMap>
#include <QObject>

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace dashboard {

class Station : public QObject, public app::StationFeed {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch, UTC

    static constexpr int kHistoryMinutes = 60;
    static constexpr std::size_t kHistorySize = 7200; // two scans a second at the most
    static constexpr std::size_t kAlarmsKept = 1000;  // for the chart's marks
    static constexpr std::size_t kAlarmsListed = 50;  // in the current state

    explicit Station(Clock clock = nullptr);

    void readings(const QStringList& displays) override;
    void alarm(const QString& text) override;
    void band(bool high) override;
    void port(int n, bool open) override;
    void polled() override;
    void commandSent(const QString& command) override;

    // The current state (the page's every update), the readings and alarms of the last minutes
    // (1 to 60), and the Prometheus text exposition.
    QByteArray stateJson() const;
    QByteArray historyJson(int minutes) const;
    QByteArray metrics() const;

signals:
    void changed(); // after every report; listeners gather them

private:
    void forget(); // the texts made of what just changed

    struct Sample {
        qint64 ms;
        std::optional<float> forward, reflected, vswr;
    };
    struct Alarm {
        qint64 ms;
        QString text;
    };

    Clock clock_;
    qint64 lastReading_ = -1;
    std::array<QString, 8> displays_;
    std::optional<bool> high_;
    int port_ = 0;
    bool open_ = false;
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
