#include "qt_message_box.h"

#include "app/about.h"

#include <QMessageBox>

namespace ui {

namespace {

QMessageBox::Icon iconFor(int style) {
    switch (style & app::kIconBits) {
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
                    title.isEmpty() ? QString::fromLatin1(app::kProgramName) : title, prompt,
                    QMessageBox::Ok, parent_);
    // Descriptions carry device paths and system texts: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    open_ << &box;
    box.exec();
    open_.removeAll(&box);
    return app::vbOK;
}

void QtMessageBox::close(const QString& prompt) {
    for (const QPointer<QMessageBox>& box : std::as_const(open_))
        if (box && box->text() == prompt)
            box->done(QMessageBox::Ok);
}

} // namespace ui
