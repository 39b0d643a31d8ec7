// The text model of the log panes: how an append changes a pane's text, as a pure edit that a
// widget adapter (ui/log_pane.h) applies. No Qt, so the fuzz targets can link it alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace panemodel {

// A pane's text counts every line break as the two characters carriage return and line feed.
// A longer pane is trimmed before an append: kPaneTrim characters from its front, or as many as
// bring it back to kPaneLimit when it is further over.
inline constexpr std::size_t kPaneLimit = 16000;
inline constexpr std::size_t kPaneTrim = 4096;

struct LogEdit {
    std::size_t dropFront = 0; // characters removed from the front first
    bool replaceLast = false;  // the text replaces the pane's last character
    std::string text;          // inserted at the end; every carriage return followed by a line feed
};

// Plans the append of data (one Latin-1 character per byte) to a pane of paneLength characters.
LogEdit planAppend(std::size_t paneLength, std::string_view data);

// Applies an edit to a pane held as plain text.
void applyEdit(std::string& pane, const LogEdit& edit);

// Any number of appends as one edit of the pane they started from. Neither cut ever falls
// between the two characters of a line break.
struct PaneEdit {
    std::size_t dropFront = 0; // characters cut from the front
    std::size_t dropBack = 0;  // characters cut from the end
    std::string text;          // then added at the end

    friend bool operator==(const PaneEdit&, const PaneEdit&) = default;
};

void applyEdit(std::string& pane, const PaneEdit& edit);

// Folds appends into one PaneEdit while keeping the pane's text as every append so far leaves
// it (the trims need to see it: where a cut lands, what a leading backspace erases).
class AppendComposer {
public:
    explicit AppendComposer(std::string pane = {});

    // The same as planAppend and applyEdit on the pane as it now reads.
    void append(std::string_view data);

    // The pane as it reads after every append so far.
    std::string_view pane() const { return std::string_view(pane_).substr(paneStart_); }
    // Hands the edit that turns the pane as it read at the last take() into pane(); the pane
    // as it now reads is where the next one starts.
    PaneEdit take();

private:
    static void cutFront(std::string& text, std::size_t& start, std::size_t count);

    std::string pane_; // from paneStart_ on
    std::size_t paneStart_ = 0;
    std::size_t baseLength_; // the pane's length at the last take()
    std::size_t dropFront_ = 0;
    std::size_t dropBack_ = 0;
    std::string text_; // from textStart_ on
    std::size_t textStart_ = 0;
};

} // namespace panemodel
