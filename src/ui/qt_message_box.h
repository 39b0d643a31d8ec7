// Message boxes on the screen, through QMessageBox.
#pragma once

#include "app/message_box.h"

class QWidget;

namespace ui {

class QtMessageBox : public app::MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    int MsgBox(const QString& prompt, int style, const QString& title) override;

private:
    QWidget* parent_;
};

} // namespace ui
