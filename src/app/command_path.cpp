#include "command_path.h"

#include "about.h"
#include "message_box.h"
#include "telemetry/poll_cycle.h"
#include "telemetry/protocol.h"

#include <algorithm>

namespace app {

CommandPath::CommandPath(seriallink::SerialComponent& comm, MessageBox& boxes,
                         telemetry::PollCycle& polling, Station& station,
                         std::function<void()> dismissWarning)
    : comm_(comm), boxes_(boxes), polling_(polling), station_(station),
      dismissWarning_(std::move(dismissWarning)) {
    tooFastSum_.setInterval(kTooFastSumMs);
    connect(&tooFastSum_, &QTimer::timeout, this, [this] {
        if (tooFast_.count == 0) {
            tooFastSum_.stop();
            return;
        }
        station_.recordCommand(tooFast_);
        tooFast_.count = 0;
    });
}

seriallink::Result CommandPath::send(const QByteArray& bytes, Origin origin) {
    seriallink::Result result = comm_.output(bytes);
    if (result)
        station_.recordWrite(bytes, origin);
    return result;
}

CommandPath::Outcome CommandPath::refuse(Refusal refusal, Origin from) {
    if (from != Origin::Remote && refusal == Refusal::NoPort)
        boxes_.MsgBox(QString::fromLatin1(kSelectPortFirst), vbCritical,
                      QString::fromLatin1(kProgramName));
    return {refusal};
}

CommandPath::Outcome CommandPath::write(std::string_view command, Origin from) {
    // A write that fails (the chosen port did not open, or was lost) shows nothing at the
    // window, where the operator sees no reply and can choose the port again.
    if (send(QByteArray(command.data(), qsizetype(command.size())), from))
        return {};
    return {Refusal::NoPort};
}

void CommandPath::setPolling(bool on, bool currents) {
    polling_.interval = on ? 1 : 0;
    polling_.pollcurrent = currents ? 1 : 0;
    station_.recordPolling(on, currents);
}

CommandPath::Outcome CommandPath::run(Command command, Origin from) {
    const Outcome outcome = carryOut(command, from);
    for (const auto& [text, known] : kRemoteCommands)
        if (known == command)
            station_.recordCommand({from, text, outcome.refusal});
    return outcome;
}

CommandPath::Outcome CommandPath::runRemote(const QByteArray& text) {
    const auto known = std::ranges::find(
        kRemoteCommands, text, [](const auto& command) { return QByteArrayView(command.first); });
    // A flood of anything, known or not, is held to the rate.
    const qint64 now = station_.now();
    const bool tooFast = remoteTimes_.size() == kRemoteRate && now - remoteTimes_.front() < 1000;
    if (!tooFast) {
        remoteTimes_.push_back(now);
        if (remoteTimes_.size() > kRemoteRate)
            remoteTimes_.pop_front();
    }
    if (tooFast) {
        refuseTooFast(text);
        return {Refusal::TooFast};
    }
    if (known == std::end(kRemoteCommands)) {
        station_.recordCommand({Origin::Remote, text, Refusal::UnknownCommand});
        return {Refusal::UnknownCommand};
    }
    return run(known->second, Origin::Remote);
}

void CommandPath::refuseTooFast(const QByteArray& text) {
    if (!tooFastSum_.isActive()) {
        station_.recordCommand({Origin::Remote, text, Refusal::TooFast});
        tooFastSum_.start();
        return;
    }
    tooFast_.text = text;
    ++tooFast_.count;
}

CommandPath::Outcome CommandPath::carryOut(Command command, Origin from) {
    emit issued(command);
    const bool chosen = station_.port().chosen != 0 || station_.port().chosenByPath;
    switch (command) {
    case Command::Power:
        return chosen ? write(telemetry::kPowerCommand, from) : refuse(Refusal::NoPort, from);
    case Command::Current:
        return chosen ? write(telemetry::kCurrentCommand, from) : refuse(Refusal::NoPort, from);
    case Command::Status:
        return chosen ? write(telemetry::kStatusCommand, from) : refuse(Refusal::NoPort, from);
    case Command::Reset: // needs no chosen port: with none open the write fails quietly
        return write(telemetry::kResetCommand, from);
    case Command::PollOn:
        setPolling(true, station_.polling().currents);
        return {};
    case Command::PollOff: // off clears the currents too
        setPolling(false, false);
        return {};
    case Command::CurrentsOn:
    case Command::CurrentsOff:
        setPolling(station_.polling().on, command == Command::CurrentsOn);
        return {};
    case Command::DismissWarning:
        if (!station_.overPowerWarning().open)
            return refuse(Refusal::NoWarningOpen, from);
        dismissWarning_();
        return {};
    }
    return refuse(Refusal::UnknownCommand, from);
}

} // namespace app
