// The Ports menu: which port ends up open, where the check mark goes, what is remembered and
// what the operator is told, from every starting state.
#include "support/window_fixture.h"

#include <QTest>

namespace {

QAction& portItem(WindowFixture& f, int n) {
    return f.part<QAction>(qPrintable(QStringLiteral("mnuPortsCom%1").arg(n)));
}

} // namespace

class tst_port_selection : public QObject {
    Q_OBJECT
private slots:
    void choose_data();
    void choose();
    void failedOpenKeepsTheOldMarkAndIsRetriedNextStart();
    void firstPortInARunWithoutStoredPortStartsTheTimer();
};

void tst_port_selection::choose_data() {
    QTest::addColumn<int>("before"); // port open and marked first, 0 for none
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("closes");

    QTest::newRow("first port") << 0 << 5 << 0;
    QTest::newRow("Com5 while Com3 is in use") << 3 << 5 << 1;
    QTest::newRow("the port already in use reopens") << 3 << 3 << 1;
    QTest::newRow("Com8 with no port open") << 0 << 8 << 0;
    QTest::newRow("Com16 while Com9 is in use") << 9 << 16 << 1;
}

void tst_port_selection::choose() {
    QFETCH(int, before);
    QFETCH(int, chosen);
    QFETCH(int, closes);
    WindowFixture f;
    if (before)
        f.window->mnuPortsCom_Click(before);

    portItem(f, chosen).trigger();

    QVERIFY(f.boxes->shown.isEmpty());
    QVERIFY(f.serial->portOpen());
    QCOMPARE(f.serial->commPort(), chosen);
    QCOMPARE(f.serial->closes, closes);
    QCOMPARE(checkedPorts(*f.window), QList<int>{chosen});
    QCOMPARE(f.settings.value("port"), QString::number(chosen));
    QCOMPARE(f.serial->settingsApplied.last(), QStringLiteral("300,N,8,1"));
}

void tst_port_selection::failedOpenKeepsTheOldMarkAndIsRetriedNextStart() {
    WindowFixture f;
    f.window->mnuPortsCom_Click(3);
    f.serial->refusedPorts = {7};
    const int settingsBefore = f.serial->settingsApplied.size();

    portItem(f, 7).trigger();

    QCOMPARE(f.boxes->shown.size(), 1);
    QCOMPARE(f.boxes->shown.first().style, int(app::vbExclamation));
    QVERIFY(f.boxes->shown.first().title.isEmpty());
    QVERIFY(!f.serial->portOpen());
    QCOMPARE(checkedPorts(*f.window), QList<int>{3}); // the menu's own toggle is undone
    QCOMPARE(f.serial->settingsApplied.size(), settingsBefore);
    QCOMPARE(f.settings.value("port"), QStringLiteral("7"));

    // The next start tries the new number again and reports it again.
    FakeSerial* serial = new FakeSerial;
    serial->refusedPorts = {7};
    auto* boxes = new RecordingMessageBox;
    ui::frmWattmeter next{std::unique_ptr<seriallink::SerialComponent>(serial),
                          std::unique_ptr<app::MessageBox>(boxes)};
    next.Form_Load();
    QCOMPARE(boxes->shown.size(), 1);
    QVERIFY(serial->opened.isEmpty());
    QVERIFY(serial->written().isEmpty());
    QVERIFY(part<seriallink::IntervalTimer>(next, "Timer1").ticking());
}

void tst_port_selection::firstPortInARunWithoutStoredPortStartsTheTimer() {
    WindowFixture f;
    f.window->Form_Load(); // no stored port: no period yet
    auto& timer = f.part<seriallink::IntervalTimer>("Timer1");
    f.serial->refusedPorts = {2};
    f.window->mnuPortsCom_Click(2);
    QVERIFY(!timer.ticking());
    f.window->mnuPortsCom_Click(4);
    QCOMPARE(timer.interval(), 500);
    QVERIFY(timer.ticking());
}

QTEST_MAIN(tst_port_selection)
#include "tst_port_selection.moc"
