// The window side of the scanner: readings into text boxes and bars, band reports into the
// lamps, alarms into time-stamped lines of the alarm pane, and the over-power warning.
#pragma once

#include "app/desktop_notifier.h"
#include "app/station_feed.h"
#include "telemetry/scanner.h"

#include <QTime>

#include <array>
#include <functional>
#include <optional>

class QProgressBar;

namespace app {
class Journal;
class MessageBox;
} // namespace app

namespace ui {

class frmWattmeter;

using Clock = std::function<QTime()>;

inline constexpr char kOverPowerWarning[] =
    "Forward power exceeds 1100 watts! A reset will be needed.";

// What a bar shows for a reading; nothing for a value outside the bar's range (the check is on
// the reading itself, before any rounding), and the bar keeps its value.
std::optional<int> barValue(const QProgressBar& bar, float value);

class WindowSink : public telemetry::ScanSink {
public:
    WindowSink(frmWattmeter& window, app::MessageBox& boxes, const Clock& clock)
        : window_(window), boxes_(boxes), clock_(clock) {}

    void band(telemetry::Band band) override;
    void overPowerWarning() override;
    void alarm(std::string_view text) override;
    void reading(telemetry::Reading which, std::string_view field) override;

    // Puts what the scan found on screen, and journals it when a journal is kept: one line for
    // the readings of a scan, as the eight displays show them afterwards.
    void setJournal(app::Journal* journal) { journal_ = journal; }
    void endOfScan();

    // Alarms (and what else notify is given) also go to the desktop when a notifier is set.
    void setNotifier(app::DesktopNotifier* notifier) { notifier_ = notifier; }
    // What the scan found goes to the station feed too (the dashboard), when one is set.
    void setStation(app::StationFeed* station) { station_ = station; }
    void notify(const QString& text,
                app::DesktopNotifier::Urgency urgency = app::DesktopNotifier::Urgency::Normal);

private:
    // A scan of a flood finds many lines: each field and bar takes only its last value, and the
    // alarm lines go into the pane as one edit, before any warning box and at the end.
    void show();
    QString timeOfDay() const { return clock_().toString(QStringLiteral("HH:mm:ss")); }

    frmWattmeter& window_;
    app::MessageBox& boxes_;
    const Clock& clock_;
    app::Journal* journal_ = nullptr;
    app::DesktopNotifier* notifier_ = nullptr;
    app::StationFeed* station_ = nullptr;
    bool readingSeen_ = false;
    std::array<std::optional<QString>, 8> texts_; // by telemetry::Reading
    std::optional<int> forwardBar_;
    std::optional<int> reflectedBar_;
};

} // namespace ui
