// What the operator drives: the Ports and Polling menus, the command buttons and the terminal
// keyboard. A port command moves the check mark only when its port opened.
#include "support/window_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class tst_operator_commands : public QObject {
    Q_OBJECT
private slots:
    void ports();
    void failedOpenKeepsTheOldMark();
    void polling();
    void buttons();
    void typing();
};

void tst_operator_commands::ports() {
    // The port chosen first (0 for none), and the one chosen then.
    for (const auto& [before, chosen] : {std::pair{0, 5}, {3, 5}, {3, 3}, {16, 9}, {1, 16}}) {
        WindowFixture f;
        for (const int n : {before, chosen})
            if (n)
                f.part<QAction>(qPrintable(QString("mnuPortsCom%1").arg(n))).trigger();
        QVERIFY(f.boxes->shown.isEmpty() && f.serial->portOpen());
        QCOMPARE(f.serial->commPort(), chosen);
        QCOMPARE(f.serial->closes, before ? 1 : 0);
        QCOMPARE(checkedPorts(*f.window), QList<int>{chosen});
        QCOMPARE(f.settings.value("port"), QString::number(chosen));
        QCOMPARE(f.serial->settingsApplied.last(), "300,N,8,1");
    }
}

void tst_operator_commands::failedOpenKeepsTheOldMark() {
    WindowFixture f;
    f.window->Form_Load(); // no stored port: no poll period yet
    auto& timer = f.part<app::IntervalTimer>("Timer1");
    f.serial->refusedPorts = {3, 7};
    f.window->mnuPortsCom_Click(3);
    QVERIFY(!timer.ticking());
    f.serial->refusedPorts = {7};
    f.window->mnuPortsCom_Click(3); // the first port that opens starts the timer
    QVERIFY(timer.interval() == 500 && timer.ticking());
    f.part<QAction>("mnuPortsCom7").trigger();
    const ShownBox refused{
        "COM7 could not be opened: No such file or directory", app::vbExclamation, {}};
    QCOMPARE(f.boxes->shown.mid(2), QList{refused}); // one for the start, one for COM3
    QVERIFY(!f.serial->portOpen() && f.serial->settingsApplied.size() == 1);
    QCOMPARE(f.settings.value("port"), "7");
    f.part<QAction>("mnuHelpAbout").trigger();
    QCOMPARE(f.boxes->shown.last(), (ShownBox{"Vorlan Wattmeter\nVersion " WATTMETER_VERSION,
                                              app::vbInformation, "About Vorlan Wattmeter"}));
    QCOMPARE(checkedPorts(*f.window), QList<int>{3}); // the toggle undone; About changes nothing
}

void tst_operator_commands::polling() {
    // Disabled, Enabled and Include Current chosen in turn; the marks on the three items after;
    // what the second tick after the choices sends.
    const QByteArray power = "POWER\r", both = "POWER\r CURRENT\r";
    const std::tuple<QString, QString, QByteArray> cases[] = {
        {"D", "x--", {}},    {"E", "-x-", power},  {"I", "x-x", {}}, // Include Current preselects
        {"IE", "-xx", both}, {"EE", "-x-", power}, {"EII", "-x-", power}, {"EIDE", "-x-", power},
        {"II", "x--", {}}};
    for (const auto& [choices, marks, polls] : cases) {
        WindowFixture f;
        f.serial->setPortOpen(true);
        f.window->Timer1_Timer();
        const QList<QAction*> items{&f.part<QAction>("mnuPollDisabled"),
                                    &f.part<QAction>("mnuPoll1"),
                                    &f.part<QAction>("mnuPollCurrent")};
        for (const QChar choice : choices)
            items[QString("DEI").indexOf(choice)]->trigger();
        QString shown;
        for (QAction* item : items)
            shown += item->isChecked() ? 'x' : '-';
        QCOMPARE(shown, marks);
        QVERIFY(f.serial->outputs.isEmpty()); // the menu only sets what the ticks do
        f.window->Timer1_Timer();
        f.window->Timer1_Timer();
        QCOMPARE(f.serial->written(), polls);
    }
}

void tst_operator_commands::buttons() {
    // The button; the marked port (0: none; negative: marked, but its open failed); what the
    // click sends ("box": the select-a-port box instead); the fields it empties, in the window's
    // creation order.
    const QString power = "txtVSWR txtReflected txtForward",
                  currents = "txtITotal txtI4 txtI3 txtI2 txtI1";
    const std::tuple<const char*, int, QByteArray, QString> cases[] = {
        {"Read", 0, "box", power},
        {"Read", 12, "POWER\r", power},
        {"Read", -3, "", power},
        {"Current", 0, "box", currents},
        {"Current", 1, "CURRENT\r", currents},
        {"Status", 0, "box", ""},
        {"Status", 9, "STATUS\r", ""},
        {"Reset", 0, "", ""},
        {"Reset", 2, "RESET\r", ""}};
    for (const auto& [button, port, sent, emptied] : cases) {
        WindowFixture f;
        if (port)
            f.window->mnuPortsCom_Click(qAbs(port));
        f.serial->setPortOpen(port > 0);
        for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
            field->setText("old");
        f.serial->outputs.clear();
        QTest::mouseClick(&f.part<QPushButton>(button), Qt::LeftButton);
        QStringList empty;
        for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
            empty << (field->text().isEmpty() ? field->objectName() : "");
        QCOMPARE(empty.join(' ').simplified(), emptied);
        const ShownBox selectPort{"Please select a Com Port first.", app::vbCritical,
                                  "Vorlan Wattmeter"};
        QCOMPARE(f.boxes->shown, sent == "box" ? QList{selectPort} : QList<ShownBox>{});
        QCOMPARE(f.serial->written(), sent == "box" ? "" : sent);
    }
}

void tst_operator_commands::typing() {
    for (const bool open : {true, false}) {
        WindowFixture f;
        f.serial->setPortOpen(open);
        auto& term = f.part<QPlainTextEdit>("txtTerm");
        term.moveCursor(QTextCursor::Start);
        QTest::keyClicks(&term, "sTatus");
        QTest::keyClick(&term, Qt::Key_Return);
        QTest::keyClick(&term, Qt::Key_Backspace);
        QCOMPARE(term.textCursor().atEnd(), open); // a key sent leaves the caret at the end
        QTest::keyClick(&term, Qt::Key_PageUp);    // scrolling keys send nothing
        QKeyEvent euro(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
        QCoreApplication::sendEvent(&term, &euro);
        // One write per key, and the pane itself never changes.
        QCOMPARE(f.serial->outputs.join('|'), open ? "s|T|a|t|u|s|\r|\b" : "");
        QCOMPARE(term.toPlainText(), "\t\n");
    }
}

QTEST_MAIN(tst_operator_commands)
#include "tst_operator_commands.moc"
