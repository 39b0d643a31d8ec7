// Fuzzes appendlog on the real text widget: the same appends go into a QPlainTextEdit set up like
// the terminal pane and into the pane model, and the widget must show exactly the model's text.
#include "fuzz_input.h"
#include "pane_model/pane_model.h"
#include "ui/log_pane.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

// Appends go in one at a time, or gathered as the receive path hands them over during a flood,
// where the widget takes them at marked points. The widget keeps line breaks as block separators
// and turns some characters into separators of its own accord; the adapter's position arithmetic
// between the two counts is what this target is for; the caret must end at the end.
namespace {

using fuzzinput::check;

// Never destroyed: libFuzzer ends the process from exit handlers, after Qt's own globals are
// gone, and a QApplication torn down then crashes.
QPlainTextEdit* pane = nullptr;

// The widget's last line against the model's text behind its last line break: cheap enough for
// every append, where the whole text is compared once at the end.
bool lastLineMatches(const std::string& model) {
    const std::size_t lineBreak = model.rfind("\r\n");
    const std::size_t from = lineBreak == std::string::npos ? 0 : lineBreak + 2;
    const QByteArray shown = pane->document()->lastBlock().text().toLatin1();
    return shown.size() == qsizetype(model.size() - from) &&
           std::equal(model.begin() + std::ptrdiff_t(from), model.end(), shown.constData());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    pane = new QPlainTextEdit;
    pane->setUndoRedoEnabled(false);
    pane->setReadOnly(true);
    pane->resize(257, 249);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pane->setPlainText(QStringLiteral("\t\n"));
    std::string model = "\t\r\n";
    // Odd inputs gather their appends; even ones hand each over at once.
    const bool gather = size % 2 == 1;
    for (const auto& [append, flush] : fuzzinput::appends(data, size)) {
        panemodel::applyEdit(model, panemodel::planAppend(model.size(), append));
        if (!gather) {
            ui::appendlog(*pane, append);
        } else {
            ui::appendlogCoalesced(*pane, append);
            if (!flush)
                continue;
            ui::flushPane(*pane);
        }
        check(lastLineMatches(model), "the widget's last line differs from the model's");
        check(pane->textCursor().atEnd(), "the caret is not at the end");
    }
    check(ui::paneLength(*pane) == model.size(), "the widget's length differs from the model's");
    const QByteArray shown = ui::paneText(*pane).toLatin1();
    check(shown.size() == qsizetype(model.size()) &&
              std::equal(model.begin(), model.end(), shown.constData()),
          "the widget shows other text than the model");
    return 0;
}
