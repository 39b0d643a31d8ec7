// Fuzzes the pane model: a sequence of appends into a pane held as a plain string, one by one and
// through an AppendComposer, as the receive path feeds the terminal pane.
#include "fuzz_input.h"
#include "pane_model/pane_model.h"

namespace {

using panemodel::kPaneLimit;
using panemodel::kPaneTrim;
using panemodel::LogEdit;

using fuzzinput::check;

// planAppend does the backspaces in one pass; the oracle is the step-by-step procedure (find the
// first backspace, remove it and the character before it, again and again), which must give the
// same edit: trimmed by 4096, or back to the limit, once over 16000 characters, with whole CR LF
// line breaks and no backspace. How an edit applies is fuzz_appendlog_pane's: the text widget,
// which keeps line breaks whole of its own accord, must show what applyEdit gives. The composer's
// edits, applied to what the widget showed, must give the same pane.
LogEdit stepByStep(std::size_t n, std::string data) {
    LogEdit edit;
    if (n > kPaneLimit) {
        edit.dropFront = n > kPaneLimit + kPaneTrim ? n - kPaneLimit : kPaneTrim;
        n -= edit.dropFront;
    }
    for (std::size_t i; (i = data.find('\b')) != std::string::npos;) {
        if (i == 0) {
            edit.replaceLast = edit.replaceLast || n > 0; // nothing to erase in an empty pane
            data.erase(0, 1);
        } else {
            data.erase(i - 1, 2);
        }
    }
    for (std::size_t i; (i = data.find('\n')) != std::string::npos;)
        data.erase(i, 1);
    for (std::size_t i = 0; (i = data.find('\r', i)) != std::string::npos; i += 2)
        data.insert(i + 1, 1, '\n');
    edit.text = std::move(data);
    return edit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The terminal pane as the window creates it: a tab and a line break.
    std::string pane = "\t\r\n";
    panemodel::AppendComposer composer(pane);
    std::string shown = pane; // the widget, which takes the composer's edits now and then
    for (const auto& [append, flush] : fuzzinput::appends(data, size)) {
        const LogEdit edit = panemodel::planAppend(pane.size(), append);
        const LogEdit expected = stepByStep(pane.size(), append);
        check(edit.dropFront == expected.dropFront, "trim differs from the step-by-step edit");
        check(edit.replaceLast == expected.replaceLast,
              "erasing the last character differs from the step-by-step edit");
        check(edit.text == expected.text, "text differs from the step-by-step edit");
        panemodel::applyEdit(pane, edit);
        composer.append(append);
        check(composer.pane() == pane, "the composer's pane differs from the appends one by one");
        if (flush) {
            panemodel::applyEdit(shown, composer.take());
            check(shown == pane, "the composer's edit does not give the pane");
        }
    }
    panemodel::applyEdit(shown, composer.take());
    check(shown == pane, "the composer's last edit does not give the pane");
    return 0;
}
