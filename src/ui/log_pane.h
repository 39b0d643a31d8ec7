// appendlog on a QPlainTextEdit: the pane model's edits applied with a cursor, at once or
// gathered per event-loop turn; whoever reads the pane through here sees every append.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

class QPlainTextEdit;
class QString;

namespace ui {

// While appends keep coming, the widget takes them together at most this often: each widget
// edit costs a relayout and a repaint of the whole pane, and four updates a second still keep
// up with anyone reading along. The first append after a quiet spell shows at once.
inline constexpr std::chrono::milliseconds kCoalesceMs{250};

// The pane's length and text as the pane model counts them (line breaks as CR LF), with every
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

} // namespace ui
