// Message boxes on the screen, through QMessageBox.
#pragma once

#include "app/message_box.h"

#include <QList>
#include <QPointer>

class QMessageBox;
class QWidget;

namespace ui {

class QtMessageBox : public app::MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    int MsgBox(const QString& prompt, int style, const QString& title) override;
    void close(const QString& prompt) override;

private:
    QWidget* parent_;
    QList<QPointer<QMessageBox>> open_; // boxes may be shown inside one another's event loop
};

} // namespace ui
