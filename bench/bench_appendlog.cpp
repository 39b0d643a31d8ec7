// Benchmarks of appendlog on a real QPlainTextEdit.
#include "pane_model/pane_model.h"
#include "ui/log_pane.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <benchmark/benchmark.h>

namespace {

// 30 characters, as the terminal pane receives them: upper case, CR LF line ends.
constexpr std::string_view kReply = "FWD: 850 REV: 12\rVSWR: 1.3:1\r\n";
static_assert(kReply.size() == 30);

// The pane as the window shows it (no undo stack), holding `length` characters of earlier
// replies, on screen or not.
struct Pane {
    QPlainTextEdit widget;
    Pane(std::size_t length, bool visible) {
        widget.setUndoRedoEnabled(false);
        widget.resize(640, 240);
        std::string text;
        while (text.size() < length)
            text += "FWD: 850 REV: 12\r\nVSWR: 1.3:1\r\n";
        text.resize(length);
        if (!text.empty() && text.back() == '\r') // keep the line break whole
            text.back() = 'x';
        widget.setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        if (visible) {
            widget.show();
            QCoreApplication::processEvents();
        }
    }
};

void BM_PlanAppend(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(panemodel::planAppend(panemodel::kPaneLimit, kReply));
}
BENCHMARK(BM_PlanAppend);

// The edit goes in with a cursor at the end instead of rebuilding the widget's text, so its cost
// should follow the data, not the pane's length: compare a pane of 1000 characters with one of
// 16000. An empty pane is cheaper still, since nothing has to scroll.
//
// One append into a pane of range(0) characters, on screen when range(1) is 1. The appended
// text is taken out again outside the timing, so every iteration sees the same pane. A pane
// on screen that is taller than its view also scrolls its view on every append; 1000
// characters already are, so 1000 against 16000 shows what the pane's length itself costs.
void BM_AppendIntoPane(benchmark::State& state) {
    Pane pane(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    if (ui::paneLength(pane.widget) != static_cast<std::size_t>(state.range(0))) {
        state.SkipWithError("pane has the wrong length");
        return;
    }
    QTextDocument& document = *pane.widget.document();
    for (auto _ : state) {
        const int before = document.characterCount() - 1;
        ui::appendlog(pane.widget, kReply);
        state.PauseTiming();
        QTextCursor cursor(&document);
        cursor.setPosition(before);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AppendIntoPane)
    ->ArgNames({"chars", "visible"})
    ->ArgsProduct({{0, 1000, 16000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// A long session: appends keep coming and the pane trims itself every 4096 characters, so
// the trims' cost is spread over the appends as it is in the program.
void BM_AppendStream(benchmark::State& state) {
    Pane pane(panemodel::kPaneLimit, true);
    for (auto _ : state)
        ui::appendlog(pane.widget, kReply);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kReply.size()));
}
BENCHMARK(BM_AppendStream)->Unit(benchmark::kMicrosecond);

// The terminal pane's way: appends folded together and handed to the widget in one edit, as
// the receive path does once per kCoalesceMs during a flood. range(0) appends per widget edit;
// with range(1) the pane is painted after each edit, as it is on screen.
void BM_CoalescedStream(benchmark::State& state) {
    Pane pane(panemodel::kPaneLimit, true);
    const auto perEdit = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < perEdit; ++i)
            ui::appendlogCoalesced(pane.widget, kReply);
        ui::flushPane(pane.widget);
        if (state.range(1) != 0)
            pane.widget.viewport()->repaint();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * perEdit *
                            static_cast<std::int64_t>(kReply.size()));
}
BENCHMARK(BM_CoalescedStream)
    ->ArgNames({"appends", "painted"})
    ->ArgsProduct({{1, 40, 1000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The same appends one widget edit each, painted after each, as the pane took them before.
void BM_AppendStreamPainted(benchmark::State& state) {
    Pane pane(panemodel::kPaneLimit, true);
    for (auto _ : state) {
        ui::appendlog(pane.widget, kReply);
        pane.widget.viewport()->repaint();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kReply.size()));
}
BENCHMARK(BM_AppendStreamPainted)->Unit(benchmark::kMicrosecond);

} // namespace
