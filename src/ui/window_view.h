// The window's view of the engine: what the scans found, drawn in order into the text boxes and
// bars, the lamps and time-stamped lines of the alarm pane, with a modal box before each
// over-power line. It draws what it is handed and never reads a widget back for anyone.
#pragma once

#include "app/monitor.h"

#include <array>
#include <optional>
#include <string_view>

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

namespace ui {

class Lamp;

// The lines the alarm pane shows when the amplifier goes silent and when it answers again. They
// are the window's own, not the amplifier's alarms.
inline constexpr char kNoReply[] = "NO REPLY FROM AMPLIFIER";
inline constexpr char kAnswersAgain[] = "AMPLIFIER ANSWERS AGAIN";

// Where a bar stands for a reading: at its nearest end for a number beyond it, nowhere new for
// a reading that is not a number.
std::optional<int> barValue(std::optional<float> value, int minimum, int maximum);

// The widgets the findings change.
struct ScanView {
    std::array<QLineEdit*, 8> fields; // by telemetry::Reading
    QProgressBar* forwardBar;
    QProgressBar* reflectedBar;
    Lamp* highLamp;
    Lamp* lowLamp;
    QPlainTextEdit* alarms;
    QPlainTextEdit* terminal;
};

class WindowView : public app::MonitorView {
public:
    WindowView(const ScanView& widgets, app::MessageBox& boxes, app::Monitor& monitor)
        : view_(widgets), boxes_(boxes), monitor_(monitor) {}

    void show(std::deque<app::Finding>& found) override;
    // One line of the window's own in the alarm pane, time-stamped like an alarm line.
    void note(std::string_view text);

private:
    void take(const app::Finding::Fields& found);
    // A flood finds many readings: each field and bar takes only its last value, and the alarm
    // lines go into the pane as one edit, before any warning box and at the end.
    void draw();

    ScanView view_;
    app::MessageBox& boxes_;
    app::Monitor& monitor_;
    std::array<std::optional<QString>, 8> texts_; // by telemetry::Reading
    std::optional<int> forwardBar_;
    std::optional<int> reflectedBar_;
};

} // namespace ui
