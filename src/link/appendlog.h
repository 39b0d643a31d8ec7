// appendlog: the one routine that appends text to a log pane (the terminal pane and the alarm
// pane). It is split in two: planAppend() is a pure computation of the edit from the pane's
// length and the data, and appendlog() applies that edit to a QPlainTextEdit with a cursor,
// so one append costs in proportion to the data, not to the pane.
//
// A pane's text counts every line break as the two characters carriage return and line feed,
// as the panes were designed; the widget stores each line break as one block separator.
#pragma once

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

// The pane's length and text as appendlog counts them (line breaks as CR LF).
std::size_t paneLength(const QPlainTextEdit& pane);
QString paneText(const QPlainTextEdit& pane);

// Appends data to the pane and leaves the caret at its end.
void appendlog(QPlainTextEdit& pane, std::string_view data);

} // namespace seriallink
