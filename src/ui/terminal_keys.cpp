#include "terminal_keys.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

namespace ui {

namespace {

constexpr int kNoCharacter = -1;
constexpr int kNotOneByte = -2;

int characterCode(const QKeyEvent& key) {
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return '\r';
    case Qt::Key_Backspace:
        return '\b';
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return kNoCharacter;
    default:
        break;
    }
    const QString text = key.text();
    if (text.isEmpty())
        return kNoCharacter;
    if (text.size() != 1 || text.front().unicode() > 0xFF)
        return kNotOneByte;
    return text.front().unicode();
}

} // namespace

TerminalKeys::TerminalKeys(QPlainTextEdit& pane, std::function<void(int&)> onKeyPress)
    : QObject(&pane), onKeyPress_(std::move(onKeyPress)) {
    pane.installEventFilter(this);
}

bool TerminalKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    int code = characterCode(*static_cast<QKeyEvent*>(event));
    if (code == kNoCharacter)
        return false;
    if (code == kNotOneByte)
        return true;
    onKeyPress_(code);
    return code == 0;
}

} // namespace ui
