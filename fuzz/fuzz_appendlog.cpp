// Fuzzes the pane model: a sequence of appends into a pane held as a plain string, one by one and
// through an AppendComposer, as the receive path feeds the terminal pane.
#include "append_input.h"
#include "pane_model/pane_model.h"

#include <string_view>

namespace {

using panemodel::kPaneLimit;
using panemodel::kPaneTrim;
using panemodel::LogEdit;

using fuzzinput::check;

// planAppend does the backspaces in one pass; the oracle is the step-by-step procedure (find the
// first backspace, remove it and the character before it, again and again), which must give the
// same edit. Applied to the pane, every edit must keep the pane's own rules: trimmed by 4096, or
// back to the limit, once over 16000 characters, line breaks always whole CR LF pairs, no
// backspace or lone line feed ever shown, and the length bounded by the limit plus one append. The
// composer's edits, applied to what the widget showed, must give the same pane.
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

// Every CR is followed by LF and every LF follows a CR: the pane shows whole line breaks only.
bool lineBreaksWhole(std::string_view pane) {
    for (std::size_t i = 0; i < pane.size(); ++i) {
        if (pane[i] == '\r' && (i + 1 == pane.size() || pane[i + 1] != '\n'))
            return false;
        if (pane[i] == '\n' && (i == 0 || pane[i - 1] != '\r'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The terminal pane as the window creates it: a tab and a line break.
    std::string pane = "\t\r\n";
    panemodel::AppendComposer composer(pane);
    std::string shown = pane; // the widget, which takes the composer's edits now and then
    for (const auto& [append, flush] : fuzzinput::appends(data, size)) {
        const std::size_t before = pane.size();
        const LogEdit edit = panemodel::planAppend(before, append);

        const LogEdit expected = stepByStep(before, append);
        check(edit.dropFront == expected.dropFront, "trim differs from the step-by-step edit");
        check(edit.replaceLast == expected.replaceLast,
              "erasing the last character differs from the step-by-step edit");
        check(edit.text == expected.text, "text differs from the step-by-step edit");

        check((edit.dropFront > 0) == (before > kPaneLimit),
              "a pane over the limit not trimmed, or one within it trimmed");
        check(edit.text.find('\b') == std::string::npos, "a backspace reaches the pane");
        check(lineBreaksWhole(edit.text), "the edit holds a line break that is not CR LF");

        const std::string old = pane;
        panemodel::applyEdit(pane, edit);

        // What went, and from where: the front (one more when the cut would split a line break),
        // then the last character (two for a line break), then the text at the end.
        std::size_t front = edit.dropFront;
        if (front > 0 && old[front - 1] == '\r')
            ++front;
        const std::string_view kept = std::string_view(old).substr(front);
        std::size_t erased = 0;
        if (edit.replaceLast && !kept.empty())
            erased = kept.size() >= 2 && kept.substr(kept.size() - 2) == "\r\n" ? 2 : 1;
        check(pane.size() + erased + front == old.size() + edit.text.size(),
              "the pane's length does not add up");
        check(std::string_view(pane).substr(0, kept.size() - erased) ==
                  kept.substr(0, kept.size() - erased),
              "the pane's remaining text changed");
        check(std::string_view(pane).substr(kept.size() - erased) == edit.text,
              "the appended text is not at the end");
        check(lineBreaksWhole(pane), "the pane holds a line break that is not CR LF");
        check(pane.size() <= kPaneLimit + edit.text.size(),
              "the pane grew past the limit plus one append");

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
