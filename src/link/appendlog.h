// appendlog: the one routine that appends text to a log pane (the terminal pane and the alarm
// pane). It is split in two: planAppend() is a pure computation of the edit from the pane's
// length and the data, and appendlog() applies that edit to a QPlainTextEdit with a cursor,
// so one append costs in proportion to the data, not to the pane.
//
// A pane's text counts every line break as the two characters carriage return and line feed,
// as the panes were designed; the widget stores each line break as one block separator.
//
// Putting an edit into the widget costs far more than computing it, most of it the same for a
// few characters as for thousands. So the terminal pane, which takes every receive event, goes
// through appendlogCoalesced(): an AppendComposer folds the appends into one edit of the pane
// as the widget last showed it, and the widget gets that edit at the next turn of the event
// loop after a quiet spell, and at most every kCoalesceMs while appends keep coming. Whoever
// reads the pane goes through paneText()/paneLength() or calls flushPane() first, and so
// always sees every append. The alarm pane, which the operator may type into, keeps taking
// each append at once through appendlog().
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class QPlainTextEdit;
class QString;

namespace seriallink {

inline constexpr std::size_t kPaneLimit = 16000; // a longer pane is trimmed before an append
inline constexpr std::size_t kPaneTrim = 4096;   // characters dropped from its front

struct LogEdit {
    std::size_t dropFront = 0; // characters removed from the front first
    bool replaceLast = false;  // the text replaces the pane's last character
    std::string text;          // inserted at the end; every carriage return followed by a line feed
};

// Plans the append of data (one Latin-1 character per byte) to a pane of paneLength characters.
LogEdit planAppend(std::size_t paneLength, std::string_view data);

// Applies an edit to a pane held as plain text (the model the tests and the fuzzer use).
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

    // The same as appendlog(pane, data) on the pane as it now reads.
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

// While appends keep coming, the widget takes them together at most this often. Each widget
// edit costs a relayout and a repaint of the whole pane (about a millisecond under X), so this
// sets what a busy line costs for display: at 100 receive events a second (11.5 KB/s), the
// events themselves cost about 1% of a core and the display about 0.5% more at this pace, 1%
// at 150 ms. Four updates a second still keep up with anyone reading along; and the first
// append after a quiet spell shows at once.
inline constexpr std::chrono::milliseconds kCoalesceMs{250};

// The pane's length and text as appendlog counts them (line breaks as CR LF), with every
// append made so far.
std::size_t paneLength(const QPlainTextEdit& pane);
QString paneText(const QPlainTextEdit& pane);

// Appends data to the pane and leaves the caret at its end.
void appendlog(QPlainTextEdit& pane, std::string_view data);

// The same append, handed to the widget together with the appends that follow it soon after;
// the widget shows them, and has its caret at the end, within kCoalesceMs.
void appendlogCoalesced(QPlainTextEdit& pane, std::string_view data);

// Puts every append made so far into the widget, caret at the end. For code that reads the
// widget itself, or lets the operator act on it.
void flushPane(const QPlainTextEdit& pane);

} // namespace seriallink
