// Fuzzes the tick's scan, and the bars' reading of every field, with one receive buffer exactly as
// the line delivered it.
#include "fuzz_input.h"
#include "telemetry/number.h"
#include "telemetry/scanner.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// The scanner's speed comes from a prefix hash and a memo of terminators; a plain walk over every
// start position and every marker, in table order, is the oracle it must agree with report for
// report. The conversion is held against the C library's reading of the same text.
namespace {

using fuzzinput::check;
using telemetry::Band;
using telemetry::Reading;

struct Report {
    enum Kind { BandHigh, BandLow, Warning, Alarm, Field } kind;
    std::string_view text = {}; // alarm line, or the field as a view into the buffer
    Reading which = Reading::Forward;

    bool operator==(const Report& other) const {
        // Fields compare by position too: the same text from another place is a wrong report.
        return kind == other.kind && which == other.which && text.size() == other.text.size() &&
               (kind == Field ? text.data() == other.text.data() : text == other.text);
    }
};

class RecordingSink : public telemetry::ScanSink {
public:
    std::vector<Report> reports;

    void band(Band band) override {
        reports.push_back({band == Band::High ? Report::BandHigh : Report::BandLow});
    }
    void overPowerWarning() override { reports.push_back({Report::Warning}); }
    void alarm(std::string_view text) override { reports.push_back({Report::Alarm, text}); }
    void reading(Reading which, std::string_view field) override {
        reports.push_back({Report::Field, field, which});
    }
};

// The recognisers in scan order, written out plainly from the protocol: what each marker
// reports, and for the readings the skip, the terminator and the displays they fill. The texts are
// the amplifier's own, not the protocol table's, so that a typo there breaks the plain walk too.
struct Plain {
    std::string_view marker;
    Report::Kind kind;
    std::string_view line = {};
    std::size_t skip = 0;
    char terminator = 0;
    int first = 0;
    int count = 0;
};

const Plain kPlain[] = {
    {"HIGH BAND SELECTED", Report::BandHigh},
    {"HARDWARE - HIGHBAND", Report::BandHigh},
    {"LOW BAND SELECTED", Report::BandLow},
    {"HARDWARE - LOWBAND", Report::BandLow},
    {"ZRT-2730 POWER AMP", Report::Alarm, "AMPLIFIER RESTARTED"},
    {"POWER SUPPLY FAULT", Report::Alarm, "POWER SUPPLY FAULT"},
    {"PWR FWD ABOVE 1100", Report::Warning, "PWR FWD ABOVE 1100"},
    {"CURRENT LIMITER IN EFFECT", Report::Alarm, "CURRENT LIMITER IN EFFECT"},
    {"SUM OF CURRENT > 100.00 AMPS", Report::Alarm, "SUM OF CURRENT > 100.00 AMPS"},
    {"CURRENT IMBALANCE", Report::Alarm, "CURRENT IMBALANCE"},
    {"HIGH VSWR", Report::Alarm, "HIGH VSWR"},
    {"HARDWARE - HIGH BAND", Report::Alarm, "HW - HBAND, SW - LBAND"},
    {"HARDWARE - LOW BAND", Report::Alarm, "HW - LBAND, SW - HBAND"},
    {"CURRENT:", Report::Field, {}, 2, ' ', int(Reading::Stage1), 5},
    {"FWD:", Report::Field, {}, 1, ' ', int(Reading::Forward), 1},
    {"REV:", Report::Field, {}, 1, '\r', int(Reading::Reflected), 1},
    {"VSWR:", Report::Field, {}, 1, ':', int(Reading::Vswr), 1},
};

std::vector<Report> plainScan(std::string_view buffer) {
    std::vector<Report> reports;
    for (std::size_t p = 0; p + 1 < buffer.size(); ++p) {
        for (const Plain& r : kPlain) {
            if (buffer.substr(p, r.marker.size()) != r.marker)
                continue;
            if (r.kind == Report::Warning) {
                reports.push_back({Report::Warning});
                reports.push_back({Report::Alarm, r.line});
                continue;
            }
            if (r.kind != Report::Field) {
                reports.push_back({r.kind, r.line});
                continue;
            }
            std::size_t start = p + r.marker.size() + r.skip;
            for (int i = 0; i < r.count; ++i) {
                std::size_t end = start;
                while (end < buffer.size() && buffer[end] != r.terminator)
                    ++end;
                if (start >= buffer.size() || end >= buffer.size())
                    break; // the rest of the reply has not arrived
                reports.push_back(
                    {Report::Field, buffer.substr(start, end - start), Reading(r.first + i)});
                start = end + 2;
            }
        }
    }
    return reports;
}

// The bars' conversion against strtof, which reads a superset of the same grammar in the C
// locale. Where both give a number it must be the same number.
void checkNumber(std::string_view field) {
    const auto value = telemetry::toSingle(field);
    if (field.find_first_not_of("0123456789.eE+- \t") != std::string_view::npos) {
        check(!value, "a field with other characters converted to a number");
        return;
    }
    const std::size_t from = std::min(field.find_first_not_of(" \t"), field.size());
    const std::string text(field.substr(from, field.find_last_not_of(" \t") + 1 - from));
    errno = 0;
    char* end = nullptr;
    const float expected = std::strtof(text.c_str(), &end);
    const bool whole = !text.empty() && end == text.c_str() + text.size();
    if (value) {
        check(std::isfinite(*value), "a conversion gave a value that is not finite");
        check(whole, "text that strtof does not read whole converted");
        if (errno != ERANGE)
            check(*value == expected, "the conversion disagrees with strtof");
    } else {
        // strtof reads no form that the bars refuse on purpose once letters other than the
        // exponent are gone; out of range is the one refusal the two share.
        check(!(whole && errno != ERANGE), "a plain decimal number did not convert");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A buffer of its own, so that the sanitizer sees a read past its end.
    const std::string owned(reinterpret_cast<const char*>(data), size);
    const std::string_view buffer(owned);

    // Fields compare by position: each is the very part of the buffer before its terminator.
    RecordingSink sink;
    telemetry::scan(buffer, sink);
    check(sink.reports == plainScan(buffer), "the scan disagrees with the plain walk");
    for (const Report& report : sink.reports)
        if (report.kind == Report::Field)
            checkNumber(report.text);
    return 0;
}
