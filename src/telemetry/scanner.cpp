// The scan: a table of marker texts and what each one does, tried at every start position of
// the receive buffer.
#include "telemetry/scanner.h"

#include "telemetry/field_reader.h"
#include "telemetry/protocol.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace telemetry {
namespace {

enum class Action : std::uint8_t { SetBand, Alarm, OverPower, Fields };

struct Recogniser {
    std::string_view marker;
    Action action;
    Band band = Band::High;      // SetBand
    std::string_view line = {};  // Alarm, OverPower: the text of the alarm line
    std::uint8_t skip = 0;       // Fields: characters passed over behind the marker
    char terminator = 0;         // Fields: ends every field
    Reading first = {};          // Fields: the display of the first field
    std::uint8_t fieldCount = 0; // Fields: later fields fill the displays that follow `first`
};

constexpr Recogniser bandReport(std::string_view marker, Band band) {
    return {marker, Action::SetBand, band};
}
constexpr Recogniser alarmLine(std::string_view marker, std::string_view line) {
    return {marker, Action::Alarm, Band::High, line};
}
constexpr Recogniser overPower(std::string_view marker) {
    return {marker, Action::OverPower, Band::High, marker};
}
constexpr Recogniser fields(std::string_view marker, std::uint8_t skip, char terminator,
                            Reading first, std::uint8_t count = 1) {
    return {marker, Action::Fields, Band::High, {}, skip, terminator, first, count};
}

// The recognisers are one ordered table of marker texts and what each one does. At every start
// position the scan tries them in table order; no two markers can match at the same position,
// so the reports come out in buffer order.
//
// In scan order. Each band has two reports, each a recogniser of its own.
constexpr std::array kRecognisers = {
    bandReport(kHighBandSelected, Band::High),
    bandReport(kHardwareHighband, Band::High),
    bandReport(kLowBandSelected, Band::Low),
    bandReport(kHardwareLowband, Band::Low),
    alarmLine(kRestartBanner, kAmplifierRestarted),
    alarmLine(kPowerSupplyFault, kPowerSupplyFault),
    overPower(kOverPower),
    alarmLine(kCurrentLimiter, kCurrentLimiter),
    alarmLine(kSumOfCurrent, kSumOfCurrent),
    alarmLine(kCurrentImbalance, kCurrentImbalance),
    alarmLine(kHighVswr, kHighVswr),
    alarmLine(kHardwareHighBandAlarm, kHardwareHighBandLine),
    alarmLine(kHardwareLowBandAlarm, kHardwareLowBandLine),
    fields(kCurrentMarker, 2, ' ', Reading::Stage1, 5),
    fields(kForwardMarker, 1, ' ', Reading::Forward),
    fields(kReflectedMarker, 1, '\r', Reading::Reflected),
    fields(kVswrMarker, 1, ':', Reading::Vswr),
};

constexpr std::size_t kPrefix = 4; // the shortest marker's length
using Candidates = std::uint32_t;  // bit i: kRecognisers[i] may start here
static_assert(kRecognisers.size() <= 32);

constexpr bool markersFitThePrefixWord() {
    for (const Recogniser& r : kRecognisers)
        if (r.marker.size() < kPrefix)
            return false;
    return true;
}
static_assert(markersFitThePrefixWord());

// The first four characters as one word, in the machine's byte order both at compile time and
// when loaded from the buffer.
constexpr std::uint32_t prefixWord(std::string_view text) {
    return std::bit_cast<std::uint32_t>(std::array{text[0], text[1], text[2], text[3]});
}
std::uint32_t loadWord(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The marker's characters behind the prefix. A plain loop: it usually stops at the first
// character, sooner than a call to memcmp returns.
inline bool restMatches(std::string_view marker, const char* text) {
    for (std::size_t i = kPrefix; i < marker.size(); ++i)
        if (text[i] != marker[i])
            return false;
    return true;
}

// A perfect hash from the markers' distinct four-character prefixes to slots. An empty slot
// holds no candidates, so a buffer word that happens to equal its (zero) prefix does nothing.
constexpr unsigned kSlotBits = 6;
struct Slot {
    std::uint32_t prefix = 0;
    Candidates candidates = 0;
};
using SlotTable = std::array<Slot, std::size_t{1} << kSlotBits>;

constexpr std::size_t slotOf(std::uint32_t word, std::uint32_t multiplier) {
    return (word * multiplier) >> (32 - kSlotBits);
}

constexpr bool fillSlots(SlotTable& slots, std::uint32_t multiplier) {
    slots = {};
    for (std::size_t i = 0; i < kRecognisers.size(); ++i) {
        const std::uint32_t prefix = prefixWord(kRecognisers[i].marker);
        Slot& slot = slots[slotOf(prefix, multiplier)];
        if (slot.candidates != 0 && slot.prefix != prefix)
            return false; // two prefixes collide under this multiplier
        slot.prefix = prefix;
        slot.candidates |= Candidates{1} << i;
    }
    return true;
}

struct PrefixHash {
    std::uint32_t multiplier = 0;
    SlotTable slots{};
};

constexpr PrefixHash findPrefixHash() {
    PrefixHash hash;
    for (hash.multiplier = 0x9E3779B1u;; hash.multiplier += 2)
        if (fillSlots(hash.slots, hash.multiplier))
            return hash;
}
constexpr PrefixHash kPrefixHash = findPrefixHash();

// Finds terminators for the field reader, remembering the last answer for each terminator.
// Fields of neighbouring markers usually end at the same terminator, and without the memory a
// long run of markers with no terminator behind them would make the scan quadratic.
class TerminatorFinder {
public:
    explicit TerminatorFinder(std::string_view buffer) : buffer_(buffer) {}

    std::optional<Field> readField(std::size_t start, char terminator) {
        // Blank, carriage return and colon each get a memo of their own.
        Memo& memo = memos_[static_cast<unsigned char>(terminator) % memos_.size()];
        // The memo holds the first terminator at or after memo.from, so it is also the first
        // one at or after any start between the two.
        if (!(memo.terminator == terminator && memo.from <= start && start <= memo.at)) {
            const auto field = telemetry::readField(buffer_, start, terminator);
            memo = {terminator, start, field ? field->terminator : std::string_view::npos};
            return field;
        }
        if (memo.at == std::string_view::npos)
            return std::nullopt;
        return Field{buffer_.substr(start, memo.at - start), memo.at};
    }

private:
    struct Memo {
        char terminator = 0;
        std::size_t from = std::string_view::npos; // nothing remembered yet
        std::size_t at = 0;
    };

    std::string_view buffer_;
    std::array<Memo, 4> memos_{};
};

void act(const Recogniser& r, std::size_t p, TerminatorFinder& finder, ScanSink& sink) {
    switch (r.action) {
    case Action::SetBand:
        sink.band(r.band);
        return;
    case Action::OverPower:
        sink.overPowerWarning();
        sink.alarm(r.line);
        return;
    case Action::Alarm:
        sink.alarm(r.line);
        return;
    case Action::Fields: {
        std::size_t start = p + r.marker.size() + r.skip;
        for (std::uint8_t i = 0; i < r.fieldCount; ++i) {
            const auto field = finder.readField(start, r.terminator);
            if (!field) {
                // The rest of the reply has not arrived; later fields would be misplaced.
                return;
            }
            sink.reading(static_cast<Reading>(static_cast<int>(r.first) + i), field->text);
            start = field->terminator + 2; // the terminator and the character after it
        }
        return;
    }
    }
}

} // namespace

// Speed: every marker is at least four characters long, and the markers share a handful of
// different first four characters. At each start position those four characters are read as
// one 32-bit word and looked up in a small perfect hash built at compile time; only where the
// word is one of the eleven prefixes is the rest of a marker compared. The loop thus has one
// well-predicted branch per position.
void scan(std::string_view buffer, ScanSink& sink) {
    if (buffer.size() < kPrefix)
        return;
    TerminatorFinder finder(buffer);
    const char* const data = buffer.data();
    const std::size_t lastStart = buffer.size() - kPrefix;
    for (std::size_t p = 0; p <= lastStart; ++p) {
        const std::uint32_t word = loadWord(data + p);
        const Slot& slot = kPrefixHash.slots[slotOf(word, kPrefixHash.multiplier)];
        if (word != slot.prefix)
            continue;
        // Markers sharing a prefix ("HARDWARE - ...") are told apart by the rest, in table order.
        for (Candidates candidates = slot.candidates; candidates != 0;
             candidates &= candidates - 1) {
            const Recogniser& r =
                kRecognisers[static_cast<std::size_t>(std::countr_zero(candidates))];
            if (buffer.size() - p >= r.marker.size() && restMatches(r.marker, data + p))
                act(r, p, finder, sink);
        }
    }
}

} // namespace telemetry
