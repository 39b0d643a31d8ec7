// What the scanner reports for a buffer, one line per report ("fwd=850", "band high",
// "alarm HIGH VSWR", "warning"), so a test states the whole expected sequence.
#pragma once

#include "telemetry/scanner.h"

#include <QStringList>

inline QStringList scanned(std::string_view buffer) {
    struct Recorder : telemetry::ScanSink {
        QStringList events;
        static QString text(std::string_view t) {
            return QString::fromLatin1(t.data(), qsizetype(t.size()));
        }
        void band(telemetry::Band band) override {
            events << (band == telemetry::Band::High ? "band high" : "band low");
        }
        void overPowerWarning() override { events << "warning"; }
        void alarm(std::string_view t) override { events << "alarm " + text(t); }
        void reading(telemetry::Reading which, std::string_view field) override {
            static const char* const names[] = {"fwd", "rev", "vswr", "i1",
                                                "i2",  "i3",  "i4",   "total"};
            events << QString("%1=%2").arg(names[int(which)], text(field));
        }
    } recorder;
    telemetry::scan(buffer, recorder);
    return recorder.events;
}
