// The window as built: properties of its layout (client area, fitting captions, no overlaps,
// tab order, keys, names for screen readers).
#include "support/window_fixture.h"
#include "ui/lamp.h"
#include "ui/qt_message_box.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class tst_window : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void accessibleNamesAreTheCaptions();
    void boxesOnScreen();
};

void tst_window::layout() {
    WindowFixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    QCOMPARE(f.window->windowIcon().availableSizes().size(), 3);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QCOMPARE(f.window->centralWidget()->size(), QSize(608, 268));
    const QList<QWidget*> widgets =
        f.window->centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    const QFontMetrics metrics(f.window->font());
    for (QWidget* w : widgets) {
        const auto* button = qobject_cast<QPushButton*>(w);
        const QString caption =
            button ? button->text().remove('&') + "  " : w->property("text").toString();
        QVERIFY2(metrics.horizontalAdvance(caption) <= w->width(), qPrintable(w->objectName()));
        for (QWidget* other : widgets) {
            // Twips round to shared edges: neighbours may touch by one pixel.
            const QRect both = w->geometry() & other->geometry();
            QVERIFY2(w == other || qMin(both.width(), both.height()) <= 1,
                     qPrintable(w->objectName()));
        }
    }
    QStringList chain;
    for (QWidget* w = QApplication::focusWidget(); chain.size() < 15; w = w->nextInFocusChain())
        if (w->focusPolicy() != Qt::NoFocus)
            chain << w->objectName();
    QCOMPARE(chain.join(' '), "txtForward txtTerm Read Current Status Reset Exit txtReflected "
                              "txtVSWR txtAlarms txtI1 txtI2 txtI3 txtI4 txtITotal");
    // Typing changes the alarm pane only.
    for (const char* name : {"txtForward", "txtTerm", "txtAlarms"})
        QTest::keyClicks(&f.part(name), "ab");
    QCOMPARE(f.part<QLineEdit>("txtForward").text() +
                 f.part<QPlainTextEdit>("txtTerm").toPlainText() +
                 f.part<QPlainTextEdit>("txtAlarms").toPlainText(),
             "Forward\t\nab");
    // The pane is not read-only: wherever the operator leaves the caret, alarms go to the end.
    auto& alarms = f.part<QPlainTextEdit>("txtAlarms");
    alarms.moveCursor(QTextCursor::Start);
    QTest::keyClicks(&alarms, "ok ");
    f.receiveAndTick("HIGH VSWR\r");
    QVERIFY(alarms.toPlainText().startsWith("ok ab") &&
            alarms.toPlainText().endsWith(" - HIGH VSWR\n"));
    // Enter and Escape press no button; each button has its access key.
    for (const char* key : {"P", "C", "S", "R", "x"}) {
        QPushButton* button = nullptr;
        for (QPushButton* b : f.window->findChildren<QPushButton*>())
            button = b->text().contains(QString('&') + key) ? b : button;
        QVERIFY(button && button->shortcut() == QKeySequence(QString("Alt+") + key));
        QSignalSpy clicks(button, &QPushButton::clicked);
        for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(button, k);
        QCOMPARE(clicks.count(), 0);
    }
    const QRect term = f.part("txtTerm").geometry();
    f.window->resize(1200, 900);
    QCOMPARE(f.part("txtTerm").geometry(), term);
}

void tst_window::accessibleNamesAreTheCaptions() {
    // A reading field is named after the label on its left, a lamp after the one on its right,
    // a bar after its tooltip.
    WindowFixture f;
    const auto name = [](QWidget* w, QAccessible::Text text = QAccessible::Name) {
        return QAccessible::queryAccessibleInterface(w)->text(text);
    };
    const auto captionBeside = [&f](QWidget* w, int side) {
        QLabel* nearest = nullptr;
        for (QLabel* l : f.window->findChildren<QLabel*>()) {
            const bool row = l->y() < w->geometry().bottom() && l->geometry().bottom() > w->y();
            if (row && (l->x() - w->x()) * side > 0 &&
                (!nearest || qAbs(l->x() - w->x()) < qAbs(nearest->x() - w->x())))
                nearest = l;
        }
        return nearest ? nearest->text() : "none";
    };
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        QCOMPARE(name(field), captionBeside(field, -1));
    for (ui::Lamp* lamp : f.window->findChildren<ui::Lamp*>())
        QCOMPARE(name(lamp), captionBeside(lamp, 1));
    for (QWidget* bar : {&f.part("prgBar1"), &f.part("prgBar2")})
        QCOMPARE(name(bar), bar->toolTip());
    QCOMPARE(name(&f.part("txtAlarms")) + name(&f.part("txtTerm")), "AlarmsTerminal");
    for (const QByteArray band : {"HIGH", "LOW"}) {
        f.receiveAndTick(band + " BAND SELECTED");
        QCOMPARE(name(&f.part("shpHigh"), QAccessible::Description) + ' ' +
                     name(&f.part("shpLow"), QAccessible::Description),
                 band == "HIGH" ? "lit unlit" : "unlit lit");
    }
}

void tst_window::boxesOnScreen() {
    // A box without a title of its own shows the program's; the program closes the box with a
    // given prompt, as its OK button would, and leaves any other.
    ui::QtMessageBox boxes(nullptr);
    QString title;
    bool leftOpen = false;
    QTimer::singleShot(
        0,
        [&] {
            title = QApplication::activeModalWidget()->windowTitle();
            boxes.close("another");
            leftOpen = QApplication::activeModalWidget();
            boxes.close("A <b>port</b> was lost");
        });
    QTimer::singleShot(3000, [] { // a box left open fails the test, not the run
        if (QWidget* open = QApplication::activeModalWidget())
            open->close();
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(boxes.MsgBox("A <b>port</b> was lost", app::vbExclamation, {}), app::vbOK);
    QCOMPARE_LT(clock.elapsed(), 2000);
    QCOMPARE(title, "Vorlan Wattmeter");
    QVERIFY(leftOpen);
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"
