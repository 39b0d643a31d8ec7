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
    void polling_data();
    void polling();
    void button_data();
    void button();
    void typing();
};

void tst_operator_commands::ports() {
    // The port open and marked first (0 for none), and the one chosen.
    for (const auto& [before, chosen] : {std::pair{0, 5}, {3, 5}, {3, 3}, {9, 16}}) {
        WindowFixture f;
        if (before)
            f.window->mnuPortsCom_Click(before);
        f.part<QAction>(qPrintable(QString("mnuPortsCom%1").arg(chosen))).trigger();
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
    auto& timer = f.part<seriallink::IntervalTimer>("Timer1");
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
    QCOMPARE(checkedPorts(*f.window), QList<int>{3}); // the menu's own toggle is undone
    QCOMPARE(f.settings.value("port"), "7");
}

void tst_operator_commands::polling_data() {
    QTest::addColumn<QString>("choices");  // Disabled, Enabled, Include Current, in turn
    QTest::addColumn<QString>("marks");    // the three items: x marked
    QTest::addColumn<QByteArray>("polls"); // what the second tick after the choices sends
    const auto row = [](const char* name, const char* choices, const char* marks,
                        QByteArray polls) {
        QTest::newRow(name) << QString(choices) << QString(marks) << polls;
    };
    const QByteArray power = "POWER\r", both = "POWER\r CURRENT\r";
    row("Disabled while off", "D", "x--", {});
    row("Enabled", "E", "-x-", power);
    row("Include Current while off preselects the currents", "I", "x-x", {});
    row("then Enabled polls both", "IE", "-xx", both);
    row("Enabled again changes nothing", "EE", "-x-", power);
    row("Include Current again drops the currents", "EII", "-x-", power);
    row("Disabled drops the currents too", "EIDE", "-x-", power);
    row("preselected, then Include Current again", "II", "x--", {});
}

void tst_operator_commands::polling() {
    QFETCH(QString, choices);
    QFETCH(QString, marks);
    QFETCH(QByteArray, polls);
    WindowFixture f;
    f.serial->setPortOpen(true);
    f.window->Timer1_Timer();
    const QList<QAction*> items{&f.part<QAction>("mnuPollDisabled"), &f.part<QAction>("mnuPoll1"),
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

void tst_operator_commands::button_data() {
    QTest::addColumn<int>("port");        // marked port, 0 for none, negative: marked but closed
    QTest::addColumn<QString>("emptied"); // the fields the click empties
    QTest::addColumn<QByteArray>("sent"); // or "box" for the select-a-port box
    // In the window's creation order.
    const QString power = "txtVSWR txtReflected txtForward",
                  currents = "txtITotal txtI4 txtI3 txtI2 txtI1";
    QTest::newRow("Read without a port") << 0 << power << QByteArray("box");
    QTest::newRow("Read on Com12") << 12 << power << QByteArray("POWER\r");
    QTest::newRow("Read on a marked port that failed") << -3 << power << QByteArray();
    QTest::newRow("Current without a port") << 0 << currents << QByteArray("box");
    QTest::newRow("Current on Com1") << 1 << currents << QByteArray("CURRENT\r");
    QTest::newRow("Status without a port") << 0 << "" << QByteArray("box");
    QTest::newRow("Status on Com9") << 9 << "" << QByteArray("STATUS\r");
    QTest::newRow("Reset without a port") << 0 << "" << QByteArray();
    QTest::newRow("Reset on Com2") << 2 << "" << QByteArray("RESET\r");
}

void tst_operator_commands::button() {
    QFETCH(int, port);
    QFETCH(QString, emptied);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    if (port)
        f.window->mnuPortsCom_Click(qAbs(port));
    f.serial->setPortOpen(port > 0); // the mark stays on a port that a later choice failed to open
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        field->setText("old");
    f.serial->outputs.clear();

    const QByteArray button = QByteArray(QTest::currentDataTag()).split(' ').first();
    QTest::mouseClick(&f.part<QPushButton>(button), Qt::LeftButton);
    QStringList empty;
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        empty << (field->text().isEmpty() ? field->objectName() : "");
    QCOMPARE(empty.join(' ').simplified(), emptied);
    const ShownBox selectPort{"Please select a Com Port first.", app::vbCritical,
                              "Vorlan Wattmeter"};
    QCOMPARE(f.boxes->shown, sent == "box" ? QList<ShownBox>{selectPort} : QList<ShownBox>{});
    QCOMPARE(f.serial->written(), sent == "box" ? QByteArray() : sent);
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
