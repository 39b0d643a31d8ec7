// The built window held against its design: every widget's name, kind, caption, geometry and
// initial state, the menu tree, tab order, colours and keyboard behaviour.
#include "support/window_fixture.h"
#include "ui/lamp.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class tst_window_layout : public QObject {
    Q_OBJECT

private slots:
    void widget_data();
    void widget();
    void menuItem_data();
    void menuItem();
    void onlyDisabledIsCheckedAtCreation();
    void titleIconAndClientArea();
    void initialStates();
    void colours();
    void tabOrder();
    void typingChangesOnlyTheAlarmPane();
    void enterAndEscapePressNoButton();
    void altKeyPressesItsButton();
    void resizingMovesNothing();
};

void tst_window_layout::widget_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");

    const auto row = [](const char* name, const char* kind, const QString& text, int left, int top,
                        int width, int height) {
        QTest::newRow(name) << QString::fromLatin1(kind) << text << QRect(left, top, width, height);
    };
    row("txtITotal", "QLineEdit", "ITotal", 1440, 1200, 975, 285);
    row("txtI4", "QLineEdit", "I4", 4080, 1200, 495, 285);
    row("txtI3", "QLineEdit", "I3", 4080, 840, 495, 285);
    row("txtI2", "QLineEdit", "I2", 4080, 480, 495, 285);
    row("txtI1", "QLineEdit", "I1", 4080, 120, 495, 285);
    row("txtAlarms", "QPlainTextEdit", "", 840, 2400, 3975, 645);
    row("Current", "QPushButton", "&Current", 1080, 3240, 855, 615);
    row("Status", "QPushButton", "&Status", 2040, 3240, 855, 615);
    row("txtTerm", "QPlainTextEdit", "\t\n", 5160, 120, 3855, 3735);
    row("Reset", "QPushButton", "&Reset", 3000, 3240, 855, 615);
    row("prgBar1", "QProgressBar", "", 840, 1560, 3495, 255);
    row("Exit", "QPushButton", "E&xit", 3960, 3240, 855, 615);
    row("txtVSWR", "QLineEdit", "VSWR", 1440, 840, 975, 285);
    row("txtReflected", "QLineEdit", "Reflected", 1440, 480, 975, 285);
    row("txtForward", "QLineEdit", "Forward", 1440, 120, 975, 285);
    row("Read", "QPushButton", "&Power", 120, 3240, 855, 615);
    row("prgBar2", "QProgressBar", "", 840, 1920, 3495, 255);
    row("shpLow", "ui::Lamp", "", 4440, 1920, 255, 375);
    row("Label15", "QLabel", "6m", 4800, 2040, 255, 255);
    row("Label14", "QLabel", "2m", 4800, 1680, 255, 255);
    row("shpHigh", "ui::Lamp", "", 4440, 1560, 255, 375);
    row("Label13", "QLabel", "Total Current", 120, 1200, 1335, 255);
    row("Label12", "QLabel", "Stage 4 Current", 2760, 1200, 1335, 255);
    row("Label11", "QLabel", "Stage 3 Current", 2760, 840, 1335, 255);
    row("Label10", "QLabel", "Stage 2 Current", 2760, 480, 1335, 255);
    row("Label9", "QLabel", "Stage 1 Current", 2760, 120, 1335, 255);
    row("Label8", "QLabel", "ALARMS:", 0, 2640, 735, 255);
    row("Label7", "QLabel", "REF:", 240, 1920, 495, 255);
    row("Label6", "QLabel", "FWD:", 240, 1560, 495, 255);
    row("Label5", "QLabel", "1100", 4080, 2160, 375, 255);
    row("Label4", "QLabel", "0" + QString(30, u' ') + "500", 840, 2160, 1815, 255);
    row("Label3", "QLabel", "VSWR", 120, 840, 1215, 255);
    row("Label2", "QLabel", "Reflected Power", 120, 480, 1335, 255);
    row("Label1", "QLabel", "Forward Power", 120, 120, 1215, 255);
}

void tst_window_layout::widget() {
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    WindowFixture f;
    auto* w = f.window->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
    QCOMPARE(w->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(w->parentWidget(), f.window->centralWidget());
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        QCOMPARE(edit->text(), text);
    else if (auto* pane = qobject_cast<QPlainTextEdit*>(w))
        QCOMPARE(pane->toPlainText(), text);
    else if (auto* button = qobject_cast<QPushButton*>(w))
        QCOMPARE(button->text(), text);
    else if (auto* label = qobject_cast<QLabel*>(w))
        QCOMPARE(label->text(), text);
}

void tst_window_layout::menuItem_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("checked");

    for (int n = 1; n <= 16; ++n) {
        const QString caption =
            n < 10 ? QStringLiteral("Com&%1").arg(n) : QStringLiteral("Com%1").arg(n);
        QTest::newRow(qPrintable(QStringLiteral("mnuPortsCom%1").arg(n)))
            << "P&orts" << caption << false;
    }
    QTest::newRow("mnuPollDisabled") << "P&olling"
                                     << "&Disabled" << true;
    QTest::newRow("mnuPoll1") << "P&olling"
                              << "&Enabled" << false;
    QTest::newRow("mnuPollCurrent") << "P&olling"
                                    << "&Include Current" << false;
    QTest::newRow("mnuHelpAbout") << "&Help"
                                  << "&About Vorlan Wattmeter" << false;
}

void tst_window_layout::menuItem() {
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(bool, checked);
    WindowFixture f;
    auto* item = f.window->findChild<QAction*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(item);
    QCOMPARE(item->text(), caption);
    QCOMPARE(item->isChecked(), checked);
    QVERIFY(item->isEnabled());
    QVERIFY(item->shortcut().isEmpty());
    const auto menus = item->associatedObjects();
    QVERIFY(!menus.isEmpty());
    QCOMPARE(qobject_cast<QMenu*>(menus.first())->title(), menu);
}

void tst_window_layout::onlyDisabledIsCheckedAtCreation() {
    WindowFixture f;
    QStringList checked;
    for (QAction* a : f.window->findChildren<QAction*>()) {
        if (a->isChecked())
            checked << a->objectName();
    }
    QCOMPARE(checked, QStringList{"mnuPollDisabled"});
    QStringList titles;
    for (QAction* a : f.window->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"P&orts", "P&olling", "&Help"}));
}

void tst_window_layout::titleIconAndClientArea() {
    WindowFixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    const QList<QSize> sizes = f.window->windowIcon().availableSizes();
    for (int size : {16, 32, 48})
        QVERIFY(sizes.contains(QSize(size, size)));
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QCOMPARE(f.window->centralWidget()->size(), QSize(608, 268));
}

void tst_window_layout::initialStates() {
    WindowFixture f;
    auto& w = *f.window;
    for (QProgressBar* bar : {w.prgBar1, w.prgBar2}) {
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 1100);
        QCOMPARE(bar->value(), 0);
    }
    QCOMPARE(w.prgBar1->toolTip(), QStringLiteral("Forward Power"));
    QCOMPARE(w.prgBar2->toolTip(), QStringLiteral("Reflected Power"));
    QVERIFY(!w.shpHigh->lit());
    QVERIFY(!w.shpLow->lit());
    QCOMPARE(w.Timer1->interval(), 0);
    QVERIFY(!w.Timer1->ticking());
    for (QLineEdit* field : w.readingFields())
        QVERIFY(field->isReadOnly());
    QVERIFY(w.txtTerm->isReadOnly());
    QVERIFY(!w.txtAlarms->isReadOnly());
    QVERIFY(w.parsestring.empty());
    QCOMPARE(w.polling.poll, 0);
    QCOMPARE(w.polling.interval, 0);
    QCOMPARE(w.polling.pollcurrent, 0);
    QVERIFY(w.port.isEmpty());
}

void tst_window_layout::colours() {
    WindowFixture f;
    const auto colour = [&f](const char* name, QPalette::ColorRole role) {
        return f.window->findChild<QWidget*>(QString::fromLatin1(name))->palette().color(role);
    };
    QCOMPARE(colour("txtAlarms", QPalette::Base), QColor(0xFF, 0, 0));
    QCOMPARE(colour("txtAlarms", QPalette::Text), QColor(0xFF, 0xFF, 0xFF));
    for (const char* red : {"Label8", "Label7", "Label5"})
        QCOMPARE(colour(red, QPalette::WindowText), QColor(0xFF, 0, 0));
    QCOMPARE(colour("Label6", QPalette::WindowText), QColor(0, 0x80, 0));
    QCOMPARE(ui::Lamp::kFillColor, QColor(0, 0xFF, 0));
}

void tst_window_layout::tabOrder() {
    WindowFixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QStringList visited;
    QWidget* w = f.window->txtForward;
    for (int i = 0; i < 15; ++i) {
        visited << w->objectName();
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
    }
    QCOMPARE(visited, (QStringList{"txtForward", "txtTerm", "Read", "Current", "Status", "Reset",
                                   "Exit", "txtReflected", "txtVSWR", "txtAlarms", "txtI1", "txtI2",
                                   "txtI3", "txtI4", "txtITotal"}));
}

void tst_window_layout::typingChangesOnlyTheAlarmPane() {
    WindowFixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClicks(f.window->txtForward, "123");
    QCOMPARE(f.window->txtForward->text(), QStringLiteral("Forward"));
    QTest::keyClicks(f.window->txtTerm, "abc");
    QCOMPARE(f.window->txtTerm->toPlainText(), QStringLiteral("\t\n"));
    QTest::keyClicks(f.window->txtAlarms, "note");
    QCOMPARE(f.window->txtAlarms->toPlainText(), QStringLiteral("note"));
}

void tst_window_layout::enterAndEscapePressNoButton() {
    WindowFixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QList<QSignalSpy*> spies;
    for (QPushButton* b : {f.window->Read, f.window->Current, f.window->Status, f.window->Reset})
        spies << new QSignalSpy(b, &QPushButton::clicked);
    for (QWidget* focus :
         {static_cast<QWidget*>(f.window->txtForward), static_cast<QWidget*>(f.window->Read)}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QTest::keyClick(focus, Qt::Key_Enter);
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    for (QSignalSpy* spy : spies)
        QCOMPARE(spy->count(), 0);
    qDeleteAll(spies);
}

void tst_window_layout::altKeyPressesItsButton() {
    // Qt dispatches the mnemonic; what the window owes it is the right key on each button.
    WindowFixture f;
    const auto& w = *f.window;
    const QList<QPair<QPushButton*, const char*>> keys = {{w.Read, "Alt+P"},
                                                          {w.Current, "Alt+C"},
                                                          {w.Status, "Alt+S"},
                                                          {w.Reset, "Alt+R"},
                                                          {w.Exit, "Alt+X"}};
    for (const auto& [button, key] : keys)
        QCOMPARE(button->shortcut(), QKeySequence(QString::fromLatin1(key)));
}

void tst_window_layout::resizingMovesNothing() {
    WindowFixture f;
    f.window->show();
    const QRect before = f.window->txtTerm->geometry();
    f.window->resize(1200, 900);
    QCoreApplication::processEvents();
    QCOMPARE(f.window->txtTerm->geometry(), before);
    f.window->resize(300, 200);
    QCoreApplication::processEvents();
    QCOMPARE(f.window->txtTerm->geometry(), before);
}

QTEST_MAIN(tst_window_layout)
#include "tst_window_layout.moc"
