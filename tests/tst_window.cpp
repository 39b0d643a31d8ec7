// The window as built and as it starts and ends: properties of the layout (client area, fitting
// captions, no overlaps, tab order, names for screen readers), start-up and the two ways out.
#include "support/window_fixture.h"
#include "ui/lamp.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class tst_window : public QObject {
    Q_OBJECT
private slots:
    void clientAreaTitleAndIcon();
    void captionsFitAndNothingOverlaps();
    void tabOrder();
    void accessibleNamesAreTheCaptions();
    void keyboard();
    void firstRunWithEmptyStore();
    void exitClosesThePortAndSavesOnce();
    void closingTheWindowSavesThePosition();
    void aboutChangesNothing();
};

void tst_window::clientAreaTitleAndIcon() {
    WindowFixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    for (int size : {16, 32, 48})
        QVERIFY(f.window->windowIcon().availableSizes().contains(QSize(size, size)));
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QWidget* client = f.window->centralWidget();
    QCOMPARE(client->size(), QSize(608, 268));
    const QRect term = f.part("txtTerm").geometry();
    f.window->resize(1200, 900);
    QCoreApplication::processEvents();
    QCOMPARE(f.part("txtTerm").geometry(), term);
    QCOMPARE(f.part("txtAlarms").palette().color(QPalette::Base), QColor(0xFF, 0, 0));
}

void tst_window::captionsFitAndNothingOverlaps() {
    WindowFixture f;
    const QList<QWidget*> widgets =
        f.window->centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(widgets.size() > 30);
    const QFontMetrics metrics(f.window->font());
    for (QWidget* w : widgets) {
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(w))
            caption = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(w))
            caption = button->text().remove('&') + "  ";
        QVERIFY2(metrics.horizontalAdvance(caption) <= w->width(), qPrintable(w->objectName()));
        for (QWidget* other : widgets) {
            // Twips round to shared edges: neighbours may touch by one pixel.
            const QRect both = w->geometry() & other->geometry();
            QVERIFY2(w == other || both.isEmpty() || qMin(both.width(), both.height()) <= 1,
                     qPrintable(w->objectName() + " overlaps " + other->objectName()));
        }
    }
}

void tst_window::tabOrder() {
    WindowFixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QCOMPARE(QApplication::focusWidget(), &f.part("txtForward"));
    QStringList visited;
    for (QWidget* w = &f.part("txtForward"); visited.size() < 15; w = w->nextInFocusChain())
        if (w->focusPolicy() != Qt::NoFocus)
            visited << w->objectName();
    QCOMPARE(visited, (QStringList{"txtForward", "txtTerm", "Read", "Current", "Status", "Reset",
                                   "Exit", "txtReflected", "txtVSWR", "txtAlarms", "txtI1", "txtI2",
                                   "txtI3", "txtI4", "txtITotal"}));
}

void tst_window::accessibleNamesAreTheCaptions() {
    // Each reading field is named after the label on its left, each lamp after the label on its
    // right, each bar after its tooltip; the panes have names of their own.
    WindowFixture f;
    const QList<QLabel*> labels = f.window->centralWidget()->findChildren<QLabel*>();
    const auto captionBeside = [&](QWidget* w, bool right) {
        QLabel* nearest = nullptr;
        for (QLabel* l : labels) {
            const bool side =
                right ? l->x() >= w->geometry().right() : l->geometry().right() <= w->x();
            const bool row = l->y() < w->geometry().bottom() && l->geometry().bottom() > w->y();
            if (side && row && (!nearest || qAbs(l->x() - w->x()) < qAbs(nearest->x() - w->x())))
                nearest = l;
        }
        return nearest ? nearest->text() : QString("none");
    };
    const auto name = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    const QList<QLineEdit*> fields = f.window->findChildren<QLineEdit*>();
    QCOMPARE(fields.size(), 8);
    for (QLineEdit* field : fields)
        QCOMPARE(name(field), captionBeside(field, false));
    for (ui::Lamp* lamp : f.window->findChildren<ui::Lamp*>())
        QCOMPARE(name(lamp), captionBeside(lamp, true));
    for (QProgressBar* bar : f.window->findChildren<QProgressBar*>())
        QCOMPARE(name(bar), bar->toolTip());
    QCOMPARE(name(&f.part("txtAlarms")), QStringLiteral("Alarms"));
    QCOMPARE(name(&f.part("txtTerm")), QStringLiteral("Terminal"));
    const auto lit = [](ui::Lamp& lamp) {
        return QAccessible::queryAccessibleInterface(&lamp)->text(QAccessible::Description);
    };
    QCOMPARE(lit(f.part<ui::Lamp>("shpHigh")), QStringLiteral("unlit"));
    f.receiveAndTick("HIGH BAND SELECTED");
    QCOMPARE(lit(f.part<ui::Lamp>("shpHigh")), QStringLiteral("lit"));
    QCOMPARE(lit(f.part<ui::Lamp>("shpLow")), QStringLiteral("unlit"));
}

void tst_window::keyboard() {
    WindowFixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClicks(&f.part("txtForward"), "123");
    QTest::keyClicks(&f.part("txtTerm"), "abc");
    QTest::keyClicks(&f.part("txtAlarms"), "note");
    QCOMPARE(f.part("txtForward").property("text").toString(), QStringLiteral("Forward"));
    QCOMPARE(f.part<QPlainTextEdit>("txtTerm").toPlainText(), QStringLiteral("\t\n"));
    QCOMPARE(f.part<QPlainTextEdit>("txtAlarms").toPlainText(), QStringLiteral("note"));

    // Enter and Escape press no button; each button's access key is the designed one.
    const QList<QPair<const char*, const char*>> keys = {{"Read", "Alt+P"},
                                                         {"Current", "Alt+C"},
                                                         {"Status", "Alt+S"},
                                                         {"Reset", "Alt+R"},
                                                         {"Exit", "Alt+X"}};
    for (const auto& [name, key] : keys) {
        auto& button = f.part<QPushButton>(name);
        QCOMPARE(button.shortcut(), QKeySequence(QString::fromLatin1(key)));
        QSignalSpy clicks(&button, &QPushButton::clicked);
        button.setFocus();
        for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(&button, k);
        QCOMPARE(clicks.count(), 0);
    }
}

void tst_window::firstRunWithEmptyStore() {
    WindowFixture f;
    f.window->Form_Load();
    QCOMPARE(f.boxes->shown, (QList<ShownBox>{{"Please select a com port first", app::vbInformation,
                                               "Port error"}}));
    QCOMPARE(f.window->pos(), QPoint(0, 0));
    QCOMPARE(f.serial->rthreshold, 1);
    QVERIFY(f.serial->outputs.isEmpty());
    QVERIFY(checkedPorts(*f.window).isEmpty());
    QCOMPARE(f.part<seriallink::IntervalTimer>("Timer1").interval(), 0);
    QCOMPARE(f.settings.value("port"), QStringLiteral("<absent>"));
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    QCOMPARE(f.part<QPlainTextEdit>("txtTerm").toPlainText(), QStringLiteral("\t\n"));
}

void tst_window::exitClosesThePortAndSavesOnce() {
    WindowFixture f;
    f.settings.set("port", "2");
    f.window->Form_Load();
    f.window->show();
    f.window->move(40, 60);
    f.window->Exit_Click();
    QVERIFY(!f.serial->portOpen());
    QCOMPARE(f.serial->closes, 1);
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("600"));
    QCOMPARE(f.settings.value("FormTop"), QStringLiteral("900"));
    QCOMPARE(f.settings.value("port"), QStringLiteral("2"));
    // Nothing is saved after Exit, not even when the window goes.
    f.window->move(1, 1);
    f.window.reset();
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("600"));
}

void tst_window::closingTheWindowSavesThePosition() {
    WindowFixture f;
    f.settings.set("port", "2");
    f.window->Form_Load();
    f.window->show();
    f.window->move(20, 30);
    QVERIFY(f.window->close());
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("300"));
    QCOMPARE(f.settings.value("FormTop"), QStringLiteral("450"));
    QCOMPARE(f.serial->closes, 0); // the component's own teardown closes the port
    // The window's release saves once more, after the close.
    f.settings.set("FormLeft", "0");
    f.window.reset();
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("300"));
}

void tst_window::aboutChangesNothing() {
    WindowFixture f;
    f.settings.set("port", "4");
    f.window->Form_Load();
    const QByteArray sent = f.serial->written();
    f.part<QAction>("mnuHelpAbout").trigger();
    QCOMPARE(f.boxes->shown.last(), (ShownBox{"Vorlan Wattmeter\nVersion " WATTMETER_VERSION,
                                              app::vbInformation, "About Vorlan Wattmeter"}));
    QCOMPARE(checkedPorts(*f.window), QList<int>{4});
    QCOMPARE(f.serial->written(), sent);
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"
