#include "pane_model/pane_model.h"

#include <algorithm>
#include <cstring>

namespace panemodel {
namespace {

// Below this much cut off, moving the kept text down costs more than the memory it frees.
constexpr std::size_t kCompactAfter = 64 << 10;

constexpr char kBackspace = 8;
constexpr char kLineFeed = 10;
constexpr char kCarriageReturn = 13;

// The pane's text treats a CR LF pair as one line break: an edit that would cut it in two
// takes the whole pair, so the pane never holds a lone CR or LF.
bool endsWithLineBreak(std::string_view text) {
    return text.size() >= 2 && text[text.size() - 2] == kCarriageReturn && text.back() == kLineFeed;
}

// How many characters a trim of `drop` takes from the front of text.
std::size_t frontCut(std::string_view text, std::size_t drop) {
    std::size_t cut = std::min(drop, text.size());
    if (cut > 0 && cut < text.size() && text[cut - 1] == kCarriageReturn && text[cut] == kLineFeed)
        ++cut;
    return cut;
}

// How many characters erasing the last one takes from the end of text.
std::size_t lastCut(std::string_view text) {
    return text.empty() ? 0 : endsWithLineBreak(text) ? 2 : 1;
}

} // namespace

LogEdit planAppend(std::size_t paneLength, std::string_view data) {
    LogEdit edit;
    if (paneLength > kPaneLimit) {
        // Appends longer than a trim (a flood read in big pieces) would otherwise grow the pane
        // without end: one that far over the limit goes back to it.
        edit.dropFront = std::max(kPaneTrim, paneLength - kPaneLimit);
        paneLength -= edit.dropFront;
    }

    // Each backspace erases the character before it. One with nothing left before it in the
    // data erases the pane's last character instead; several of those all erase that same
    // character. One stack pass gives the same result as removing the first backspace again
    // and again, without the quadratic cost on long data. Most data has no backspace at all
    // and skips the pass.
    std::string kept;
    std::string_view rest = data;
    if (data.find(kBackspace) != std::string_view::npos) {
        kept.reserve(data.size());
        for (const char c : data)
            if (c != kBackspace)
                kept.push_back(c);
            else if (!kept.empty())
                kept.pop_back();
            else if (paneLength > 0)
                edit.replaceLast = true;
        rest = kept;
    }

    // Line feeds go (a CR LF pair from the line would otherwise break twice); each carriage
    // return becomes the pane's line break. The text between them is copied a run at a time,
    // the next CR and the next LF each found with memchr.
    const char* const begin = rest.data();
    const char* const end = begin + rest.size();
    const auto next = [end](const char* from, char c) {
        const void* found = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    edit.text.resize(rest.size() +
                     static_cast<std::size_t>(std::count(begin, end, kCarriageReturn)));
    char* out = edit.text.data();
    const char* nextReturn = next(begin, kCarriageReturn);
    const char* nextFeed = next(begin, kLineFeed);
    for (const char* run = begin;;) {
        const char* const stop = std::min(nextReturn, nextFeed);
        out = std::copy(run, stop, out);
        if (stop == end)
            break;
        if (stop == nextReturn) {
            *out++ = kCarriageReturn;
            *out++ = kLineFeed;
            nextReturn = next(stop + 1, kCarriageReturn);
        } else {
            nextFeed = next(stop + 1, kLineFeed);
        }
        run = stop + 1;
    }
    edit.text.resize(static_cast<std::size_t>(out - edit.text.data()));
    return edit;
}

void applyEdit(std::string& pane, const LogEdit& edit) {
    if (edit.dropFront > 0)
        pane.erase(0, frontCut(pane, edit.dropFront));
    if (edit.replaceLast)
        pane.resize(pane.size() - lastCut(pane));
    pane += edit.text;
}

void applyEdit(std::string& pane, const PaneEdit& edit) {
    const std::size_t front = std::min(edit.dropFront, pane.size());
    pane.erase(0, front);
    pane.erase(pane.size() - std::min(edit.dropBack, pane.size()));
    pane += edit.text;
}

AppendComposer::AppendComposer(std::string pane)
    : pane_(std::move(pane)), baseLength_(pane_.size()) {}

void AppendComposer::cutFront(std::string& text, std::size_t& start, std::size_t count) {
    // A trim only moves the start; the text itself moves down once the part cut off is well
    // past what is kept, so a flood does not shift the whole pane on every append.
    start += count;
    if (start > kCompactAfter && start > 2 * (text.size() - start)) {
        text.erase(0, start);
        start = 0;
    }
}

void AppendComposer::append(std::string_view data) {
    // The pane is what is left of the starting pane followed by the pending text. The edit's
    // steps go to the pane exactly as applyEdit takes them, and each cut is booked against the
    // pending text as far as it reaches and against the starting pane for the rest.
    const LogEdit edit = planAppend(pane().size(), data);
    if (edit.dropFront > 0) {
        const std::size_t kept = baseLength_ - dropFront_ - dropBack_;
        const std::size_t cut = frontCut(pane(), edit.dropFront);
        const std::size_t fromBase = std::min(cut, kept);
        dropFront_ += fromBase;
        cutFront(text_, textStart_, cut - fromBase);
        cutFront(pane_, paneStart_, cut);
    }
    if (edit.replaceLast) {
        const std::size_t cut = lastCut(pane());
        const std::size_t fromText = std::min(cut, text_.size() - textStart_);
        text_.erase(text_.size() - fromText);
        dropBack_ += cut - fromText;
        pane_.erase(pane_.size() - cut);
    }
    text_ += edit.text;
    pane_ += edit.text;
}

PaneEdit AppendComposer::take() {
    text_.erase(0, textStart_);
    PaneEdit edit{dropFront_, dropBack_, std::move(text_)};
    text_.clear();
    textStart_ = 0;
    dropFront_ = 0;
    dropBack_ = 0;
    baseLength_ = pane().size();
    return edit;
}

} // namespace panemodel
