// What the operator drives: the Polling menu, the command buttons and the terminal keyboard.
#include "support/window_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

enum Choice { Disabled, Enabled, IncludeCurrent };

struct PollState {
    int interval;
    int pollcurrent;
    QList<bool> marks; // Disabled, Enabled, Include Current
};

const PollState kOff{0, 0, {true, false, false}};
const PollState kPowerOnly{1, 0, {false, true, false}};
const PollState kPowerAndCurrents{1, 1, {false, true, true}};
const PollState kOffPreselected{0, 1, {true, false, true}};

QAction* item(ui::frmWattmeter& w, Choice choice) {
    return choice == Disabled  ? w.mnuPollDisabled
           : choice == Enabled ? w.mnuPoll1
                               : w.mnuPollCurrent;
}

PollState stateOf(ui::frmWattmeter& w) {
    return {
        w.polling.interval,
        w.polling.pollcurrent,
        {w.mnuPollDisabled->isChecked(), w.mnuPoll1->isChecked(), w.mnuPollCurrent->isChecked()}};
}

} // namespace

Q_DECLARE_METATYPE(PollState)

class tst_operator_commands : public QObject {
    Q_OBJECT

private slots:
    void polling_data();
    void polling();
    void pollingResumesAtTheNextTick();
    void button_data();
    void button();
    void typing_data();
    void typing();
    void typingMovesTheCaretToTheEnd();
};

void tst_operator_commands::polling_data() {
    QTest::addColumn<QList<int>>("reach"); // choices that lead to the starting state
    QTest::addColumn<int>("choice");
    QTest::addColumn<PollState>("after");

    const QList<int> off{}, powerOnly{Enabled}, both{Enabled, IncludeCurrent},
        preselected{IncludeCurrent};
    QTest::newRow("off, Disabled") << off << int(Disabled) << kOff;
    QTest::newRow("off, Enabled") << off << int(Enabled) << kPowerOnly;
    QTest::newRow("off, Include Current") << off << int(IncludeCurrent) << kOffPreselected;
    QTest::newRow("power only, Disabled") << powerOnly << int(Disabled) << kOff;
    QTest::newRow("power only, Enabled again") << powerOnly << int(Enabled) << kPowerOnly;
    QTest::newRow("power only, Include Current")
        << powerOnly << int(IncludeCurrent) << kPowerAndCurrents;
    QTest::newRow("both, Disabled drops the currents") << both << int(Disabled) << kOff;
    QTest::newRow("both, Enabled again") << both << int(Enabled) << kPowerAndCurrents;
    QTest::newRow("both, Include Current") << both << int(IncludeCurrent) << kPowerOnly;
    QTest::newRow("preselected, Disabled") << preselected << int(Disabled) << kOff;
    QTest::newRow("preselected, Enabled") << preselected << int(Enabled) << kPowerAndCurrents;
    QTest::newRow("preselected, Include Current") << preselected << int(IncludeCurrent) << kOff;
}

void tst_operator_commands::polling() {
    QFETCH(QList<int>, reach);
    QFETCH(int, choice);
    QFETCH(PollState, after);
    WindowFixture f;
    f.window->Form_Load();
    f.boxes->shown.clear();
    for (int step : reach)
        item(*f.window, Choice(step))->trigger();

    item(*f.window, Choice(choice))->trigger();

    const PollState state = stateOf(*f.window);
    QCOMPARE(state.interval, after.interval);
    QCOMPARE(state.pollcurrent, after.pollcurrent);
    QCOMPARE(state.marks, after.marks);
    QVERIFY(f.serial->outputs.isEmpty());
    QVERIFY(!f.window->Timer1->ticking()); // no stored port: the menu never starts the timer
    QVERIFY(f.boxes->shown.isEmpty());
}

void tst_operator_commands::pollingResumesAtTheNextTick() {
    WindowFixture f;
    f.serial->setPortOpen(true);
    for (int i = 0; i < 5; ++i)
        f.window->Timer1_Timer();
    QVERIFY(f.serial->outputs.isEmpty());
    f.window->mnuPoll1->trigger();
    f.window->Timer1_Timer();
    QCOMPARE(f.serial->outputs, QByteArrayList{"POWER\r"});
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
    for (QLineEdit* field : f.window->readingFields())
        field->setText(QStringLiteral("old"));
    f.serial->outputs.clear();

    QTest::mouseClick(f.window->findChild<QPushButton*>(button), Qt::LeftButton);

    for (QLineEdit* field : f.window->readingFields())
        QCOMPARE(field->text().isEmpty(), emptied.contains(field->objectName()));
    const ShownBox selectPort{"Please select a Com Port first.", seriallink::vbCritical,
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
    if (open)
        f.serial->setPortOpen(true);
    QPlainTextEdit* term = f.window->txtTerm;

    QTest::keyClicks(term, "sTatus");
    QTest::keyClick(term, Qt::Key_Return);
    QTest::keyClick(term, Qt::Key_Backspace);
    QTest::keyClick(term, Qt::Key_Down); // scrolling keys send nothing
    QTest::keyClick(term, Qt::Key_PageUp);
    QKeyEvent euro(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
    QCoreApplication::sendEvent(term, &euro);

    QCOMPARE(f.serial->written(), sent);
    if (open)
        QCOMPARE(f.serial->outputs.size(), sent.size()); // one write per key
    QCOMPARE(term->toPlainText(), QStringLiteral("\t\n"));
}

void tst_operator_commands::typingMovesTheCaretToTheEnd() {
    WindowFixture f;
    f.serial->setPortOpen(true);
    QTextCursor start = f.window->txtTerm->textCursor();
    start.setPosition(0);
    f.window->txtTerm->setTextCursor(start);
    QTest::keyClick(f.window->txtTerm, Qt::Key_A);
    QCOMPARE(f.window->txtTerm->textCursor().position(),
             f.window->txtTerm->document()->characterCount() - 1);
}

QTEST_MAIN(tst_operator_commands)
#include "tst_operator_commands.moc"
