// The one way to command the amplifier. The window's buttons, menus and keys and any remote
// surface come through here: the same rules apply to each, and each write is recorded in the
// station with where it came from. A refusal shows the window's box when the command came from
// the window, and is only returned when it came from elsewhere.
#pragma once

#include "link/serial_component.h"
#include "station.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

namespace telemetry {
class PollCycle;
}

namespace app {

class MessageBox;

// The commands, and their texts from afar (exact, case-sensitive).
enum class Command {
    Power,
    Current,
    Status,
    Reset,
    PollOn,
    PollOff,
    CurrentsOn,
    CurrentsOff,
    DismissWarning,
};
inline constexpr std::pair<const char*, Command> kRemoteCommands[] = {
    {"POWER", Command::Power},
    {"CURRENT", Command::Current},
    {"STATUS", Command::Status},
    {"RESET", Command::Reset},
    {"POLL ON", Command::PollOn},
    {"POLL OFF", Command::PollOff},
    {"CURRENTS ON", Command::CurrentsOn},
    {"CURRENTS OFF", Command::CurrentsOff},
    {"DISMISS WARNING", Command::DismissWarning}};

// What the window asks of the operator when a button needs a port and none has been chosen.
inline constexpr char kSelectPortFirst[] = "Please select a Com Port first.";
// The box that holds a tick open while forward power is above the bars' end.
inline constexpr char kOverPowerWarning[] =
    "Forward power exceeds 1100 watts! A reset will be needed.";

class CommandPath : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        std::optional<Refusal> refusal;
        explicit operator bool() const { return !refusal; }
    };

    // dismissWarning closes an open over-power warning: the window's box, or the station's.
    CommandPath(seriallink::SerialComponent& comm, MessageBox& boxes, telemetry::PollCycle& polling,
                Station& station, std::function<void()> dismissWarning);

    // A command from the window (Origin::Button) or from a remote surface (Origin::Remote).
    Outcome run(Command command, Origin from);
    // A command from afar as its text: exactly one of kRemoteCommands, at most kRemoteRate a
    // second. Of those refused as too fast, the first is recorded at once and the rest summed up
    // in at most one record a second, so that a flood fills no surface.
    Outcome runRemote(const QByteArray& text);
    static constexpr std::size_t kRemoteRate = 5;
    static constexpr int kTooFastSumMs = 1000;
    // A write that no rule stands in front of: the start-up RESET, an automatic poll, a key.
    seriallink::Result send(const QByteArray& bytes, Origin origin);

signals:
    // Before the rules apply: the window empties the fields that the reply will fill.
    void issued(app::Command command);

private:
    Outcome carryOut(Command command, Origin from);
    Outcome write(std::string_view command, Origin from);
    Outcome refuse(Refusal refusal, Origin from);
    void setPolling(bool on, bool currents);
    void refuseTooFast(const QByteArray& text);

    seriallink::SerialComponent& comm_;
    MessageBox& boxes_;
    telemetry::PollCycle& polling_;
    Station& station_;
    std::function<void()> dismissWarning_;
    std::deque<qint64> remoteTimes_; // of the last kRemoteRate remote commands
    QTimer tooFastSum_;              // while it runs, refusals as too fast are summed
    CommandRecord tooFast_{Origin::Remote, {}, Refusal::TooFast, 0};
};

} // namespace app
