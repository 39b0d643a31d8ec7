// The window side of the scanner: readings into text boxes and bars, band reports into the
// lamps, alarms into time-stamped lines of the alarm pane, and the over-power warning. What it
// shows it records in the station, for the surfaces that follow it.
#pragma once

#include "telemetry/scanner.h"

#include <QTime>

#include <array>
#include <functional>
#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

namespace app {
class MessageBox;
class Station;
} // namespace app

namespace ui {

class Lamp;

using Clock = std::function<QTime()>;

// The line the alarm pane shows when the amplifier goes silent. It is the window's own, not one
// of the amplifier's alarms.
inline constexpr char kNoReply[] = "NO REPLY FROM AMPLIFIER";

// What a bar shows for a reading; nothing for a value outside the bar's range (the check is on
// the reading itself, before any rounding), and the bar keeps its value.
std::optional<int> barValue(const QProgressBar& bar, float value);

// The widgets a scan changes.
struct ScanView {
    std::array<QLineEdit*, 8> fields; // by telemetry::Reading
    QProgressBar* forwardBar;
    QProgressBar* reflectedBar;
    Lamp* highLamp;
    Lamp* lowLamp;
    QPlainTextEdit* alarms;
};

class WindowSink : public telemetry::ScanSink {
public:
    WindowSink(const ScanView& view, app::MessageBox& boxes, app::Station& station)
        : view_(view), boxes_(boxes), station_(station) {}

    void band(telemetry::Band band) override;
    void overPowerWarning() override;
    void alarm(std::string_view text) override;
    void reading(telemetry::Reading which, std::string_view field) override;

    // Puts what the scan found on screen, and records the readings of a scan, as the eight
    // displays show them afterwards.
    void endOfScan();
    // The time of day that alarm lines carry.
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The amplifier fell silent: one time-stamped line in the alarm pane, at once.
    void noReply();

private:
    // A scan of a flood finds many lines: each field and bar takes only its last value, and the
    // alarm lines go into the pane as one edit, before any warning box and at the end.
    void show();

    ScanView view_;
    app::MessageBox& boxes_;
    app::Station& station_;
    Clock clock_ = [] { return QTime::currentTime(); };
    bool readingSeen_ = false;
    std::array<std::optional<QString>, 8> texts_; // by telemetry::Reading
    std::optional<int> forwardBar_;
    std::optional<int> reflectedBar_;
};

} // namespace ui
