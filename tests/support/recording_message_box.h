// Records every message box instead of showing it; onShow runs while the "box is open".
#pragma once

#include "app/message_box.h"

#include <QList>

#include <functional>

struct ShownBox {
    QString prompt;
    int style;
    QString title; // empty: the application title

    bool operator==(const ShownBox&) const = default;
};

class RecordingMessageBox : public app::MessageBox {
public:
    QList<ShownBox> shown;
    std::function<void()> onShow;

    int MsgBox(const QString& prompt, int style, const QString& title) override {
        shown << ShownBox{prompt, style, title};
        if (onShow)
            onShow();
        return app::vbOK;
    }
};
