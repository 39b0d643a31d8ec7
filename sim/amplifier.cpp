#include "sim/amplifier.h"

#include "telemetry/protocol.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kBackspace = '\b';
constexpr char kDelete = '\x7f';

// The command texts without their carriage returns; the program sends them with one.
constexpr std::string_view withoutReturn(std::string_view command) {
    return command.substr(0, command.size() - 1);
}
constexpr std::string_view kPower = withoutReturn(telemetry::kPowerCommand);
constexpr std::string_view kCurrent = withoutReturn(telemetry::kCurrentCommand);
constexpr std::string_view kStatus = withoutReturn(telemetry::kStatusCommand);
constexpr std::string_view kReset = withoutReturn(telemetry::kResetCommand);
constexpr std::string_view kNotUnderstood = "?\r";

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string line(std::string_view text) {
    return std::string(text) + kCarriageReturn;
}

struct FieldLayout {
    std::string_view marker;
    std::size_t skipped; // characters between the marker and the field
    char terminator;
};

// How the program reads each measurement marker's first field.
constexpr std::array kFieldLayouts = {
    FieldLayout{telemetry::kForwardMarker, 1, ' '},
    FieldLayout{telemetry::kReflectedMarker, 1, '\r'},
    FieldLayout{telemetry::kVswrMarker, 1, ':'},
    FieldLayout{telemetry::kCurrentMarker, 2, ' '},
};

} // namespace

std::size_t splitPosition(std::string_view reply) {
    std::size_t best = std::string_view::npos;
    const FieldLayout* layout = nullptr;
    for (const FieldLayout& candidate : kFieldLayouts) {
        const std::size_t at = reply.find(candidate.marker);
        if (at < best) {
            best = at;
            layout = &candidate;
        }
    }
    if (layout) {
        const std::size_t start = best + layout->marker.size() + layout->skipped;
        const std::size_t end = reply.find(layout->terminator, start);
        if (start <= reply.size() && end != std::string_view::npos)
            return start + (end - start + 1) / 2;
    }
    // Otherwise inside the first text, so that the program recognises neither half of it.
    const std::size_t firstLine = std::min(reply.find('\r'), reply.size());
    return (firstLine + 1) / 2;
}

Amplifier::Amplifier(std::uint32_t seed) : readings_(seed), noise_(seed ^ 0x9e3779b9u) {}

Output Amplifier::receive(std::string_view bytes) {
    Output out;
    for (char c : bytes) {
        switch (c) {
        case kCarriageReturn: {
            const std::string_view command = trimBlanks(command_);
            if (overlong_)
                append(out, deliver(std::string(kNotUnderstood)));
            else if (!command.empty())
                append(out, deliver(answer(command)));
            command_.clear();
            overlong_ = false;
            break;
        }
        case kLineFeed:
            break;
        case kBackspace:
        case kDelete:
            if (!command_.empty())
                command_.pop_back();
            break;
        default:
            if (command_.size() < kMaxCommandLength)
                command_ += c;
            else
                overlong_ = true;
        }
    }
    return out;
}

void Amplifier::elapse(std::chrono::milliseconds time) {
    readings_.elapse(time);
}

std::string Amplifier::answer(std::string_view command) {
    if (command == kPower)
        return powerReply(readings_.sample(faults_, band_));
    if (command == kCurrent)
        return currentReply(readings_.sample(faults_, band_));
    if (command == kStatus)
        return statusReply();
    if (command == kReset) {
        for (Fault fault : kAllFaults)
            if (isLatched(fault))
                faults_.reset(bit(fault));
        return line(telemetry::kRestartBanner) + bandReport();
    }
    return std::string(kNotUnderstood);
}

std::string Amplifier::bandReport() const {
    return line(band_ == Band::High ? telemetry::kHighBandSelected : telemetry::kLowBandSelected);
}

std::string Amplifier::statusReply() const {
    std::string reply = bandReport();
    for (Fault fault : kAllFaults)
        if (isActive(fault))
            reply += line(alarmText(fault));
    return reply;
}

Output Amplifier::deliver(std::string reply) {
    if (!splitNext_)
        return {Segment{{}, std::move(reply)}};
    splitNext_ = false;
    const std::size_t cut = splitPosition(reply);
    return {Segment{{}, reply.substr(0, cut)}, Segment{kSplitPause, reply.substr(cut)}};
}

Output Amplifier::raise(Fault fault) {
    faults_.set(bit(fault));
    return {Segment{{}, line(alarmText(fault))}};
}

void Amplifier::clearFaults() {
    faults_.reset();
}

Output Amplifier::switchBand() {
    band_ = band_ == Band::High ? Band::Low : Band::High;
    return {Segment{
        {},
        line(band_ == Band::High ? telemetry::kHardwareHighband : telemetry::kHardwareLowband)}};
}

void Amplifier::splitNextReply() {
    splitNext_ = true;
}

Output Amplifier::lineNoise() {
    static constexpr std::string_view kControls("\0\a\b\r\n\x1b\x7f", 7);
    static constexpr std::string_view kPrintable =
        "abcdefghijklmnopqrstuvwxyz0123456789!#$%&*+-./<=>?@~";
    auto pick = [this](std::size_t count) { return static_cast<std::size_t>(noise_() % count); };

    std::string burst(24 + pick(25), '\0');
    for (char& c : burst) {
        switch (pick(4)) {
        case 0:
            c = kControls[pick(kControls.size())];
            break;
        case 1:
        case 2:
            c = static_cast<char>(0x80 + pick(0x80));
            break;
        default:
            c = kPrintable[pick(kPrintable.size())];
        }
    }
    // Make sure each burst has the bytes that trouble a receiver most, one in each quarter.
    static constexpr std::array<char, 4> kMustHave = {'\0', '\xff', '\r', '\b'};
    const std::size_t quarter = burst.size() / kMustHave.size();
    for (std::size_t i = 0; i < kMustHave.size(); ++i) {
        const char c = kMustHave[i] == '\xff' ? static_cast<char>(0x80 + pick(0x80)) : kMustHave[i];
        burst[i * quarter + pick(quarter)] = c;
    }
    return {Segment{{}, std::move(burst)}};
}

} // namespace sim
