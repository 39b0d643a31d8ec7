// Typing into the terminal pane: each character-producing key reaches the handler as its
// one-byte code, before the read-only pane sees it.
#pragma once

#include <QObject>

#include <functional>

class QPlainTextEdit;

namespace ui {

// Hands each key's character code to onKeyPress, which may set it to 0 to swallow the key.
// Keys that produce no character (arrows, Page Up, Tab to leave the pane) pass untouched, and
// so scroll or move focus as usual. A character with no one-byte code (the euro sign, say)
// cannot go on the line: it is swallowed without a call.
class TerminalKeys : public QObject {
    Q_OBJECT
public:
    TerminalKeys(QPlainTextEdit& pane, std::function<void(int& KeyAscii)> onKeyPress);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(int&)> onKeyPress_;
};

} // namespace ui
