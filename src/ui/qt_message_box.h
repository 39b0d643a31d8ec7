// Message boxes on the screen, through QMessageBox.
#pragma once

#include "link/message_box.h"

class QWidget;

namespace ui {

class QtMessageBox : public seriallink::MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    int MsgBox(const QString& prompt, int style, const QString& title) override;

private:
    QWidget* parent_;
};

} // namespace ui
