// Typing into the terminal pane. The pane is read-only, so keys never edit it; while the
// port is open each character-producing key goes to the amplifier as one byte instead.
#pragma once

#include <QObject>

#include <functional>

class QPlainTextEdit;

namespace seriallink {

class SerialComponent;

// Watches the pane's key presses before the pane sees them and hands each character's code
// to onKeyPress, which may set it to 0 to swallow the key. Keys that produce no character
// (arrows, Page Up, Tab to leave the pane) pass untouched, and so scroll or move focus as
// usual. A character that has no one-byte code (the euro sign, say) cannot go on the line:
// it is swallowed without a call.
class TerminalKeys : public QObject {
    Q_OBJECT
public:
    TerminalKeys(QPlainTextEdit& pane, std::function<void(int& KeyAscii)> onKeyPress);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(int&)> onKeyPress_;
};

// The handler's work: with the port open, send the key, move the caret to the end of the
// pane and swallow the key; with it closed, leave the key to the pane.
void terminalKeyPress(SerialComponent& comm, QPlainTextEdit& pane, int& KeyAscii);

} // namespace seriallink
