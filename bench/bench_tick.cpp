// The tick after a flood: Timer1_Timer on the real window (offscreen) after 4 MB arrived in
// receive events of 64 KB, as the serial port hands them over; bench_scan measures the scan alone.
#include "app/message_box.h"
#include "link/serial_component.h"
#include "ui/frm_wattmeter.h"

#include <QApplication>

#include <utility>

#include <benchmark/benchmark.h>

namespace {

// A port that is open, takes every write and hands over `waiting`; message boxes that are
// answered at once.
class QuietPort : public seriallink::SerialComponent {
public:
    seriallink::Failure setCommPort(int) override { return {}; }
    int commPort() const override { return 1; }
    seriallink::Failure setPortOpen(bool) override { return {}; }
    bool portOpen() const override { return true; }
    seriallink::Failure setSettings(const QString&) override { return {}; }
    void setRThreshold(int) override {}
    seriallink::Failure output(const QByteArray&) override { return {}; }
    int commEvent() const override { return seriallink::comEvReceive; }
    QByteArray input() override { return std::exchange(waiting, {}); }

    QByteArray waiting;
};

class AnsweredBoxes : public app::MessageBox {
public:
    int MsgBox(const QString&, int, const QString&) override { return app::vbOK; }
};

constexpr std::size_t kFlood = 4 << 20;

std::string repeatTo(std::string_view block, std::size_t size) {
    std::string text;
    text.reserve(size + block.size());
    while (text.size() < size)
        text += block;
    text.resize(size);
    return text;
}

// What the flood of compare_peers.sh writes: lines with no amplifier text in them.
std::string plainLines() {
    return repeatTo("00001234 the quick brown fox jumps over the lazy dog 0123456789 ABCDEF\r\n",
                    kFlood);
}

// The amplifier answering polls as fast as the line goes: every reply sets eight text boxes
// and two bars.
std::string readings() {
    return repeatTo("FWD: 850 REV: 12\rVSWR: 1.3:1\rCURRENT:  1.1  2.2  3.3  4.4  11.0  \r",
                    kFlood);
}

// The same with an alarm and a band report in every twentieth reply.
std::string readingsWithAlarms() {
    std::string block;
    for (int i = 0; i < 20; ++i)
        block += "FWD: 850 REV: 12\rVSWR: 1.3:1\rCURRENT:  1.1  2.2  3.3  4.4  11.0  \r";
    block += "HIGH VSWR\rHIGH BAND SELECTED\r";
    return repeatTo(block, kFlood);
}

void tick(benchmark::State& state, std::string (*traffic)()) {
    auto port = std::make_unique<QuietPort>();
    QuietPort& line = *port;
    ui::frmWattmeter window(std::move(port), std::make_unique<AnsweredBoxes>());
    window.show();
    QCoreApplication::processEvents();
    const std::string text = traffic();
    const QByteArray flood(text.data(), static_cast<qsizetype>(text.size()));
    for (auto _ : state) {
        state.PauseTiming();
        for (qsizetype at = 0; at < flood.size(); at += 64 << 10) {
            line.waiting = flood.mid(at, 64 << 10);
            window.MSComm1_OnComm();
        }
        state.ResumeTiming();
        window.Timer1_Timer();
        // The repaint of what the tick changed, as the event loop does right after it.
        QCoreApplication::processEvents();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * flood.size()));
}

void BM_TickAfterFlood_PlainLines(benchmark::State& state) {
    tick(state, plainLines);
}
BENCHMARK(BM_TickAfterFlood_PlainLines)->Unit(benchmark::kMillisecond);

void BM_TickAfterFlood_Readings(benchmark::State& state) {
    tick(state, readings);
}
BENCHMARK(BM_TickAfterFlood_Readings)->Unit(benchmark::kMillisecond);

void BM_TickAfterFlood_ReadingsWithAlarms(benchmark::State& state) {
    tick(state, readingsWithAlarms);
}
BENCHMARK(BM_TickAfterFlood_ReadingsWithAlarms)->Unit(benchmark::kMillisecond);

} // namespace
