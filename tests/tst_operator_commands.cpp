// What the operator drives: the Ports and Polling menus, the command buttons and the terminal
// keyboard, all through the command path. A port command moves the check mark only when its
// port opened.
#include "support/window_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class tst_operator_commands : public QObject {
    Q_OBJECT
private slots:
    void ports_data();
    void ports();
    void failedOpenKeepsTheOldMark();
    void polling_data();
    void polling();
    void buttons_data();
    void buttons();
    void remoteTexts_data();
    void remoteTexts();
    void typing();
};

void tst_operator_commands::ports_data() {
    QTest::addColumn<int>("before"); // the port chosen first, 0 for none
    QTest::addColumn<int>("chosen");
    QTest::newRow("first choice") << 0 << 5;
    QTest::newRow("another port") << 3 << 5;
    QTest::newRow("the port in use again") << 3 << 3;
    QTest::newRow("from COM16 down to COM9") << 16 << 9;
    QTest::newRow("from COM1 up to COM16") << 1 << 16;
}

void tst_operator_commands::ports() {
    QFETCH(int, before);
    QFETCH(int, chosen);
    WindowFixture f;
    for (const int n : {before, chosen})
        if (n)
            f.part<QAction>(qPrintable(QString("mnuPortsCom%1").arg(n))).trigger();
    QVERIFY(f.serial->portOpen());
    QCOMPARE(f.serial->commPort(), chosen);
    QCOMPARE(f.serial->closes, before ? 1 : 0);
    QCOMPARE(checkedPorts(*f.window), QList<int>{chosen});
    QCOMPARE(f.settings.value("port"), QString::number(chosen));
    QCOMPARE(f.serial->settingsApplied.last(), "300,N,8,1");
    // The device lost and back before the box that says so is shown: no box.
    f.serial->setOpen(false);
    emit f.serial->deviceLost("gone"); // its box is shown on the next turn
    f.serial->setOpen(true);
    emit f.serial->reopened();
    QCoreApplication::processEvents();
    QVERIFY(f.boxes->shown.isEmpty());
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

void tst_operator_commands::polling_data() {
    // Choices: the items D E I, or from afar p o c (POLL ON, POLL OFF, CURRENTS ON).
    QTest::addColumn<QString>("choices");
    QTest::addColumn<QString>("marks");    // on the three items after
    QTest::addColumn<QByteArray>("polls"); // what the second tick after the choices sends
    const auto row = [](const char* name, const char* choices, const char* marks,
                        const QByteArray& polls = {}) {
        QTest::newRow(name) << QString(choices) << QString(marks) << polls;
    };
    const QByteArray power = "POWER\r";
    row("disabled", "D", "x--");
    row("enabled", "E", "-x-", power);
    row("include current preselects", "I", "x-x");
    row("include current, then enabled", "IE", "-xx", "POWER\r CURRENT\r");
    row("enabled twice", "EE", "-x-", power);
    row("include current toggled twice", "EII", "-x-", power);
    row("disabled clears include current", "EIDE", "-x-", power);
    row("include current off again", "II", "x--");
    row("from afar, currents on and polling on", "cp", "-xx", "POWER\r CURRENT\r");
    row("from afar, polling off clears currents", "cpo", "x--");
}

void tst_operator_commands::polling() {
    QFETCH(QString, choices);
    QFETCH(QString, marks);
    QFETCH(QByteArray, polls);
    WindowFixture f;
    f.serial->setOpen(true);
    f.window->Timer1_Timer();
    const QList<QAction*> items{&f.part<QAction>("mnuPollDisabled"), &f.part<QAction>("mnuPoll1"),
                                &f.part<QAction>("mnuPollCurrent")};
    const QMap<QChar, QByteArray> remote{{'p', "POLL ON"}, {'o', "POLL OFF"}, {'c', "CURRENTS ON"}};
    for (const QChar choice : choices)
        if (remote.contains(choice))
            QVERIFY(f.monitor->commands().runRemote(remote[choice]));
        else
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

void tst_operator_commands::buttons_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("port"); // marked (0: none; negative: marked, but its device is gone)
    QTest::addColumn<QByteArray>("sent"); // "box": the select-a-port box instead
    QTest::addColumn<QString>("emptied"); // the fields the click empties, in creation order
    const QString power = "txtVSWR txtReflected txtForward",
                  currents = "txtITotal txtI4 txtI3 txtI2 txtI1";
    QTest::newRow("power without a port") << "Read" << 0 << QByteArray("box") << power;
    QTest::newRow("power") << "Read" << 12 << QByteArray("POWER\r") << power;
    QTest::newRow("power on a gone device") << "Read" << -3 << QByteArray() << power;
    QTest::newRow("current without a port") << "Current" << 0 << QByteArray("box") << currents;
    QTest::newRow("current") << "Current" << 1 << QByteArray("CURRENT\r") << currents;
    QTest::newRow("status without a port") << "Status" << 0 << QByteArray("box") << "";
    QTest::newRow("status") << "Status" << 9 << QByteArray("STATUS\r") << "";
    QTest::newRow("reset without a port: no box") << "Reset" << 0 << QByteArray() << "";
    QTest::newRow("reset") << "Reset" << 2 << QByteArray("RESET\r") << "";
}

void tst_operator_commands::buttons() {
    QFETCH(QString, button);
    QFETCH(int, port);
    QFETCH(QByteArray, sent);
    QFETCH(QString, emptied);
    WindowFixture f;
    if (port)
        f.window->mnuPortsCom_Click(qAbs(port));
    f.serial->setOpen(port > 0);
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        field->setText("old");
    f.serial->outputs.clear();
    QTest::mouseClick(&f.part<QPushButton>(qPrintable(button)), Qt::LeftButton);
    QStringList empty;
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        empty << (field->text().isEmpty() ? field->objectName() : "");
    QCOMPARE(empty.join(' ').simplified(), emptied);
    const ShownBox selectPort{"Please select a Com Port first.", app::vbCritical,
                              "Vorlan Wattmeter"};
    QCOMPARE(f.boxes->shown, sent == "box" ? QList{selectPort} : QList<ShownBox>{});
    QCOMPARE(f.serial->written(), sent == "box" ? "" : sent);
}

void tst_operator_commands::remoteTexts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("port");        // chosen and open; 0: none
    QTest::addColumn<QString>("refused"); // the last one's reason; empty: carried out
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("times"); // at once
    const auto row = [](const char* name, const QByteArray& text, int port, const char* refused,
                        const QByteArray& sent = {}, int times = 1) {
        QTest::newRow(name) << text << port << QString(refused) << sent << times;
    };
    row("power", "POWER", 4, "", "POWER\r");
    row("power without a port: no box", "POWER", 0, "no port");
    row("reset with nothing open to write to", "RESET", 0, "no port");
    row("lower case", "reset", 4, "unknown command");
    row("a blank after", "RESET ", 4, "unknown command");
    row("a line break after", "RESET\n", 4, "unknown command");
    row("empty", "", 4, "unknown command");
    row("no warning to dismiss", "DISMISS WARNING", 4, "no warning open");
    row("a sixth within the second", "STATUS", 4, "too fast", QByteArray("STATUS\r").repeated(5),
        6);
}

void tst_operator_commands::remoteTexts() {
    // The command path from afar: the window's rules, a refusal instead of a box.
    QFETCH(QByteArray, text);
    QFETCH(int, port);
    QFETCH(QString, refused);
    QFETCH(QByteArray, sent);
    QFETCH(int, times);
    WindowFixture f;
    if (port)
        f.window->mnuPortsCom_Click(port);
    QList<app::CommandRecord> handled;
    connect(&f.station, &app::Station::commandHandled, this,
            [&](const app::CommandRecord& record) { handled << record; });
    for (int i = 0; i < times; ++i)
        (void)f.monitor->commands().runRemote(text);
    QCOMPARE(f.serial->written(), sent);
    QVERIFY(f.boxes->shown.isEmpty() && handled.size() == times && handled.last().text == text);
    const std::optional<app::Refusal> last = handled.last().refusal;
    QCOMPARE(last ? QString(app::kRefusalNames[int(*last)]) : QString(), refused);
}

void tst_operator_commands::typing() {
    for (const bool open : {true, false}) {
        WindowFixture f;
        f.serial->setOpen(open);
        auto& term = f.part<QPlainTextEdit>("txtTerm");
        for (const char* event : {"POWER\r", "FWD: 8", "\b9"})
            f.serial->receive(event);
        f.window->Timer1_Timer(); // finds the pane up to date, as a key does below
        QCOMPARE(term.toPlainText(), "\t\nPOWER\nFWD: 9");
        if (open)
            f.serial->receive("0"); // the key sent takes it into the pane first
        term.moveCursor(QTextCursor::Start);
        QTest::keyClicks(&term, "sTatus");
        QTest::keyClick(&term, Qt::Key_Return);
        QTest::keyClick(&term, Qt::Key_Backspace);
        QCOMPARE(term.textCursor().atEnd(), open); // a key sent leaves the caret at the end
        QTest::keyClick(&term, Qt::Key_PageUp);    // scrolling keys send nothing
        QKeyEvent euro(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
        QCoreApplication::sendEvent(&term, &euro);
        // One write per key, and the keys themselves never change the pane.
        QCOMPARE(f.serial->outputs.join('|'), open ? "s|T|a|t|u|s|\r|\b" : "");
        QCOMPARE(term.toPlainText(), open ? "\t\nPOWER\nFWD: 90" : "\t\nPOWER\nFWD: 9");
    }
}

QTEST_MAIN(tst_operator_commands)
#include "tst_operator_commands.moc"
