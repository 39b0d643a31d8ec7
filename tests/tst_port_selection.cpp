// The Ports menu: which port ends up open, where the check mark goes, what is remembered and
// what the operator is told, from every starting state.
#include "support/window_fixture.h"

#include <QTest>

class tst_port_selection : public QObject {
    Q_OBJECT

private slots:
    void choose_data();
    void choose();
    void failedOpenKeepsTheOldMarkAndIsRetriedNextStart();
    void portsFromEightUpCloseFirst();
    void firstPortInARunWithoutStoredPortStartsTheTimer();
};

void tst_port_selection::choose_data() {
    QTest::addColumn<int>("before"); // port open and marked first, 0 for none
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("closes");

    QTest::newRow("first port") << 0 << 5 << 0;
    QTest::newRow("Com5 while Com3 is in use") << 3 << 5 << 1;
    QTest::newRow("the port already in use reopens") << 3 << 3 << 1;
    QTest::newRow("Com12 with no port open") << 0 << 12 << 0;
    QTest::newRow("Com16 while Com9 is in use") << 9 << 16 << 1;
}

void tst_port_selection::choose() {
    QFETCH(int, before);
    QFETCH(int, chosen);
    QFETCH(int, closes);
    WindowFixture f;
    if (before)
        f.window->mnuPortsCom_Click(before);

    f.window->mnuPortsCom[chosen - 1]->trigger();

    QVERIFY(f.boxes->shown.isEmpty());
    QVERIFY(f.serial->portOpen());
    QCOMPARE(f.serial->commPort(), chosen);
    QCOMPARE(f.serial->closes, closes);
    QCOMPARE(f.checkedPorts(), QList<int>{chosen});
    QCOMPARE(f.window->port, QString::number(chosen));
    QCOMPARE(f.settings.value("port"), QString::number(chosen));
    QCOMPARE(f.serial->settingsApplied.last(), QStringLiteral("300,N,8,1"));
}

void tst_port_selection::failedOpenKeepsTheOldMarkAndIsRetriedNextStart() {
    WindowFixture f;
    f.window->mnuPortsCom_Click(3);
    f.serial->refusedPorts = {7};
    const int settingsBefore = f.serial->settingsApplied.size();

    f.window->mnuPortsCom[6]->trigger();

    QCOMPARE(f.boxes->shown.size(), 1);
    QCOMPARE(f.boxes->shown.first().style, int(seriallink::vbExclamation));
    QVERIFY(f.boxes->shown.first().title.isEmpty());
    QVERIFY(!f.serial->portOpen());
    QCOMPARE(f.checkedPorts(), QList<int>{3});
    QVERIFY(!f.window->mnuPortsCom[6]->isChecked()); // the menu's own toggle is undone
    QCOMPARE(f.serial->settingsApplied.size(), settingsBefore);
    QCOMPARE(f.settings.value("port"), QStringLiteral("7"));

    // The next start tries the new number again and reports it again.
    FakeSerial* serial = new FakeSerial;
    serial->refusedPorts = {7};
    auto* boxes = new RecordingMessageBox;
    ui::frmWattmeter next{std::unique_ptr<seriallink::SerialComponent>(serial),
                          std::unique_ptr<seriallink::MessageBox>(boxes)};
    next.Form_Load();
    QCOMPARE(boxes->shown.size(), 1);
    QVERIFY(serial->opened.isEmpty());
}

void tst_port_selection::portsFromEightUpCloseFirst() {
    // A close request on a closed port is accepted, so the extra step never fails a choice.
    WindowFixture f;
    f.window->mnuPortsCom_Click(8);
    QVERIFY(f.boxes->shown.isEmpty());
    QCOMPARE(f.checkedPorts(), QList<int>{8});
    QCOMPARE(f.serial->closes, 0);
}

void tst_port_selection::firstPortInARunWithoutStoredPortStartsTheTimer() {
    WindowFixture f;
    f.window->Form_Load(); // no stored port: no period yet
    QVERIFY(!f.window->Timer1->ticking());
    f.serial->refusedPorts = {2};
    f.window->mnuPortsCom_Click(2);
    QVERIFY(!f.window->Timer1->ticking());
    f.window->mnuPortsCom_Click(4);
    QCOMPARE(f.window->Timer1->interval(), 500);
    QVERIFY(f.window->Timer1->ticking());
}

QTEST_MAIN(tst_port_selection)
#include "tst_port_selection.moc"
