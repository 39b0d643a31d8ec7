// The scanner walks a receive buffer once, trying an ordered table of recognisers at every
// start position, and reports what it finds to a sink in buffer order.
#pragma once

#include <string_view>

namespace telemetry {

enum class Band { High, Low };

// The eight reading displays, in the order the "CURRENT:" fields fill the stage currents.
enum class Reading { Forward, Reflected, Vswr, Stage1, Stage2, Stage3, Stage4, Total };

// The scanner knows nothing of widgets: the window implements the sink and turns reports into
// texts, bars, lamps and alarm lines.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    virtual void band(Band band) = 0;
    // Comes right before the alarm line of the over-power text.
    virtual void overPowerWarning() = 0;
    virtual void alarm(std::string_view text) = 0;
    // The field text exactly as received; never a partial field.
    virtual void reading(Reading which, std::string_view field) = 0;
};

// Scans the whole buffer, however long. Start positions run from the first character to the
// last but one; a marker cut off by the end of the buffer does not match.
void scan(std::string_view buffer, ScanSink& sink);

} // namespace telemetry
