// What the operator drives: the Polling menu, the command buttons and the terminal keyboard.
#include "support/window_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class tst_operator_commands : public QObject {
    Q_OBJECT
private slots:
    void polling_data();
    void polling();
    void button_data();
    void button();
    void typing_data();
    void typing();
};

void tst_operator_commands::polling_data() {
    QTest::addColumn<QStringList>("choices"); // menu items triggered in turn
    QTest::addColumn<QString>("marks");       // Disabled, Enabled, Include Current: x marked
    QTest::addColumn<QByteArray>("polls");    // sent by the second tick after the choices

    const QByteArray off, power = "POWER\r", both = "POWER\r CURRENT\r";
    const auto row = [](const char* name, const QStringList& choices, const char* marks,
                        const QByteArray& polls) {
        QTest::newRow(name) << choices << QString(marks) << polls;
    };
    row("Disabled while off", {"mnuPollDisabled"}, "x--", off);
    row("Enabled", {"mnuPoll1"}, "-x-", power);
    row("Include Current while off preselects the currents", {"mnuPollCurrent"}, "x-x", off);
    row("then Enabled polls both", {"mnuPollCurrent", "mnuPoll1"}, "-xx", both);
    row("Enabled again changes nothing", {"mnuPoll1", "mnuPoll1"}, "-x-", power);
    row("Include Current while on", {"mnuPoll1", "mnuPollCurrent"}, "-xx", both);
    row("Include Current again drops the currents",
        {"mnuPoll1", "mnuPollCurrent", "mnuPollCurrent"}, "-x-", power);
    row("Disabled drops the currents too",
        {"mnuPoll1", "mnuPollCurrent", "mnuPollDisabled", "mnuPoll1"}, "-x-", power);
    row("preselected, then Include Current again", {"mnuPollCurrent", "mnuPollCurrent"}, "x--",
        off);
}

void tst_operator_commands::polling() {
    QFETCH(QStringList, choices);
    QFETCH(QString, marks);
    QFETCH(QByteArray, polls);
    WindowFixture f;
    f.serial->setPortOpen(true);
    f.window->Timer1_Timer();
    for (const QString& choice : choices)
        f.part<QAction>(qPrintable(choice)).trigger();

    QString shown;
    for (const char* item : {"mnuPollDisabled", "mnuPoll1", "mnuPollCurrent"})
        shown += f.part<QAction>(item).isChecked() ? 'x' : '-';
    QCOMPARE(shown, marks);
    QVERIFY(f.serial->outputs.isEmpty()); // the menu only sets what the next ticks do
    f.window->Timer1_Timer();
    f.window->Timer1_Timer();
    QCOMPARE(f.serial->written(), polls);
    QVERIFY(f.boxes->shown.isEmpty());
}

void tst_operator_commands::button_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("port"); // marked port, 0 for none
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("emptied");
    QTest::addColumn<bool>("box");
    QTest::addColumn<QByteArray>("sent");

    const QStringList power{"txtForward", "txtReflected", "txtVSWR"};
    const QStringList currents{"txtI1", "txtI2", "txtI3", "txtI4", "txtITotal"};
    QTest::newRow("Power without a port") << "Read" << 0 << false << power << true << QByteArray();
    QTest::newRow("Power on Com12")
        << "Read" << 12 << true << power << false << QByteArray("POWER\r");
    QTest::newRow("Power on a marked port that failed")
        << "Read" << 3 << false << power << false << QByteArray();
    QTest::newRow("Current without a port")
        << "Current" << 0 << false << currents << true << QByteArray();
    QTest::newRow("Current on Com1")
        << "Current" << 1 << true << currents << false << QByteArray("CURRENT\r");
    QTest::newRow("Status without a port")
        << "Status" << 0 << false << QStringList() << true << QByteArray();
    QTest::newRow("Status on Com9")
        << "Status" << 9 << true << QStringList() << false << QByteArray("STATUS\r");
    QTest::newRow("Reset without a port")
        << "Reset" << 0 << false << QStringList() << false << QByteArray();
    QTest::newRow("Reset on Com2")
        << "Reset" << 2 << true << QStringList() << false << QByteArray("RESET\r");
}

void tst_operator_commands::button() {
    QFETCH(QString, button);
    QFETCH(int, port);
    QFETCH(bool, opens);
    QFETCH(QStringList, emptied);
    QFETCH(bool, box);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    if (port) {
        f.window->mnuPortsCom_Click(port);
        if (!opens) // the mark stays on a port that a later choice failed to replace
            f.serial->setPortOpen(false);
    }
    const QList<QLineEdit*> fields = f.window->findChildren<QLineEdit*>();
    for (QLineEdit* field : fields)
        field->setText(QStringLiteral("old"));
    f.serial->outputs.clear();

    QTest::mouseClick(&f.part<QPushButton>(qPrintable(button)), Qt::LeftButton);

    for (QLineEdit* field : fields)
        QCOMPARE(field->text().isEmpty(), emptied.contains(field->objectName()));
    const ShownBox selectPort{"Please select a Com Port first.", app::vbCritical,
                              "Vorlan Wattmeter"};
    QCOMPARE(f.boxes->shown, box ? QList<ShownBox>{selectPort} : QList<ShownBox>{});
    QCOMPARE(f.serial->written(), sent);
}

void tst_operator_commands::typing_data() {
    QTest::addColumn<bool>("open");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("port open: each key goes out as typed") << true << QByteArray("sTatus\r\b");
    QTest::newRow("port closed: nothing goes out") << false << QByteArray();
}

void tst_operator_commands::typing() {
    QFETCH(bool, open);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    f.serial->setPortOpen(open);
    auto& term = f.part<QPlainTextEdit>("txtTerm");
    term.moveCursor(QTextCursor::Start);

    QTest::keyClicks(&term, "sTatus");
    QTest::keyClick(&term, Qt::Key_Return);
    QTest::keyClick(&term, Qt::Key_Backspace);
    // A key sent leaves the caret at the end of the pane.
    QCOMPARE(term.textCursor().atEnd(), open);
    QTest::keyClick(&term, Qt::Key_PageUp); // scrolling keys send nothing
    QKeyEvent euro(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
    QCoreApplication::sendEvent(&term, &euro);

    QCOMPARE(f.serial->written(), sent);
    QCOMPARE(f.serial->outputs.size(), sent.size()); // one write per key
    QCOMPARE(term.toPlainText(), QStringLiteral("\t\n"));
}

QTEST_MAIN(tst_operator_commands)
#include "tst_operator_commands.moc"
