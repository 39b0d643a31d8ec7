#include "qt_message_box.h"

#include <QMessageBox>

namespace ui {

namespace {

QMessageBox::Icon iconFor(int style) {
    switch (style & 0x70) {
    case app::vbCritical:
        return QMessageBox::Critical;
    case app::vbQuestion:
        return QMessageBox::Question;
    case app::vbExclamation:
        return QMessageBox::Warning;
    case app::vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int QtMessageBox::MsgBox(const QString& prompt, int style, const QString& title) {
    QMessageBox box(iconFor(style),
                    title.isEmpty() ? QString::fromLatin1(app::kApplicationTitle) : title, prompt,
                    QMessageBox::Ok, parent_);
    // Descriptions carry device paths and system texts: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return app::vbOK;
}

} // namespace ui
