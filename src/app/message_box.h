// The message-box seam: every box the program shows goes through this, so tests record boxes
// instead of needing a screen and a person to press OK.
#pragma once

#include <QString>

namespace app {

// Style values: buttons in the low bits (only OK is used), the icon in the bits above them.
enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};
inline constexpr int kIconBits = 0x70;

inline constexpr int vbOK = 1;

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Shows a modal box and returns the button pressed. An empty title means the
    // application title.
    virtual int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = {}) = 0;
    // Closes the open boxes that show this prompt, as their OK button would.
    virtual void close(const QString& prompt) = 0;
};

} // namespace app
