// Start-up and the two ways out: what is restored from the store, what is sent, and what is
// saved on Exit and on closing the window.
#include "support/window_fixture.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

class tst_startup : public QObject {
    Q_OBJECT

private slots:
    void firstRunWithEmptyStore();
    void storedPort_data();
    void storedPort();
    void storedPortThatFailsToOpen();
    void position_data();
    void position();
    void readingFieldsAreEmptied();
    void exitClosesThePortAndSavesOnce();
    void closingTheWindowSavesThePosition();
    void aboutChangesNothing();
};

void tst_startup::firstRunWithEmptyStore() {
    WindowFixture f;
    f.window->Form_Load();
    const ShownBox expected{"Please select a com port first", seriallink::vbInformation,
                            "Port error"};
    QCOMPARE(f.boxes->shown, QList<ShownBox>{expected});
    QCOMPARE(f.window->pos(), QPoint(0, 0));
    QCOMPARE(f.serial->rthreshold, 1);
    QVERIFY(f.serial->outputs.isEmpty());
    QVERIFY(f.checkedPorts().isEmpty());
    QCOMPARE(f.window->Timer1->interval(), 0);
    QVERIFY(!f.window->Timer1->ticking());
    QCOMPARE(f.settings.value("port"), QStringLiteral("<absent>"));
}

void tst_startup::storedPort_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<int>>("checked");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("3 opens Com3 and resets") << "3" << QList<int>{3} << QByteArray("RESET\r");
    QTest::newRow("16 opens Com16") << "16" << QList<int>{16} << QByteArray("RESET\r");
    QTest::newRow("17 runs no command") << "17" << QList<int>{} << QByteArray();
    QTest::newRow("0 runs no command") << "0" << QList<int>{} << QByteArray();
    QTest::newRow("negative runs no command") << "-3" << QList<int>{} << QByteArray();
    QTest::newRow("fraction runs no command") << "2.5" << QList<int>{} << QByteArray();
    QTest::newRow("text runs no command") << "abc" << QList<int>{} << QByteArray();
    QTest::newRow("huge runs no command") << "1e40" << QList<int>{} << QByteArray();
}

void tst_startup::storedPort() {
    QFETCH(QString, stored);
    QFETCH(QList<int>, checked);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    f.settings.set("port", stored);
    f.window->Form_Load();

    QVERIFY(f.boxes->shown.isEmpty());
    QCOMPARE(f.checkedPorts(), checked);
    QCOMPARE(f.serial->written(), sent);
    QCOMPARE(f.window->port, stored);
    QCOMPARE(f.settings.value("port"), stored);
    QCOMPARE(f.window->Timer1->interval(), 500);
    QVERIFY(f.window->Timer1->ticking());
    QCOMPARE(f.window->polling.interval, 0);
    if (!checked.isEmpty()) {
        QCOMPARE(f.serial->commPort(), checked.first());
        QCOMPARE(f.serial->settingsApplied, QStringList{"300,N,8,1"});
    }
}

void tst_startup::storedPortThatFailsToOpen() {
    WindowFixture f;
    f.settings.set("port", "3");
    f.serial->refusedPorts = {3};
    f.window->Form_Load();

    QCOMPARE(f.boxes->shown.size(), 1);
    QCOMPARE(f.boxes->shown.first().style, int(seriallink::vbExclamation));
    QVERIFY(f.boxes->shown.first().title.isEmpty());
    QVERIFY(f.boxes->shown.first().prompt.contains("COM3"));
    QVERIFY(f.checkedPorts().isEmpty());
    QVERIFY(f.serial->outputs.isEmpty());
    QVERIFY(f.window->Timer1->ticking());
}

void tst_startup::position_data() {
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QPoint>("pixels");

    QTest::newRow("stored position") << "1500"
                                     << "3000" << QPoint(100, 200);
    QTest::newRow("partly off the screen") << "-1500"
                                           << "-450" << QPoint(-100, -30);
    QTest::newRow("single-precision text") << "1.5E+03"
                                           << "3000.0" << QPoint(100, 200);
    QTest::newRow("not numbers read as 0") << "left"
                                           << "" << QPoint(0, 0);
    QTest::newRow("beyond any screen reads as 0") << "1e40"
                                                  << "9999999" << QPoint(0, 0);
}

void tst_startup::position() {
    QFETCH(QString, left);
    QFETCH(QString, top);
    QFETCH(QPoint, pixels);
    WindowFixture f;
    f.settings.set("FormLeft", left);
    f.settings.set("FormTop", top);
    f.window->Form_Load();
    QCOMPARE(f.window->pos(), pixels);
}

void tst_startup::readingFieldsAreEmptied() {
    WindowFixture f;
    f.window->Form_Load();
    for (QLineEdit* field : f.window->readingFields())
        QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    QCOMPARE(f.window->txtTerm->toPlainText(), QStringLiteral("\t\n"));
}

void tst_startup::exitClosesThePortAndSavesOnce() {
    WindowFixture f;
    f.settings.set("port", "2");
    f.window->Form_Load();
    f.window->move(40, 60);
    f.window->Exit_Click();
    QVERIFY(!f.serial->portOpen());
    QCOMPARE(f.serial->closes, 1);
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("600"));
    QCOMPARE(f.settings.value("FormTop"), QStringLiteral("900"));
    QCOMPARE(f.settings.value("port"), QStringLiteral("2"));

    // Nothing is saved after Exit, not even when the window object goes.
    f.window->move(1, 1);
    f.window.reset();
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("600"));
}

void tst_startup::closingTheWindowSavesThePosition() {
    WindowFixture f;
    f.settings.set("port", "2");
    f.window->Form_Load();
    f.window->show();
    f.window->move(20, 30);
    QVERIFY(f.window->close());
    QCOMPARE(f.settings.value("FormLeft"), QStringLiteral("300"));
    QCOMPARE(f.settings.value("FormTop"), QStringLiteral("450"));
    QCOMPARE(f.settings.value("port"), QStringLiteral("2"));
    // The program leaves the port to the component's own teardown.
    QCOMPARE(f.serial->closes, 0);
}

void tst_startup::aboutChangesNothing() {
    WindowFixture f;
    f.settings.set("port", "4");
    f.window->Form_Load();
    const QByteArray sent = f.serial->written();
    f.window->mnuHelpAbout->trigger();
    QCOMPARE(f.boxes->shown.last(),
             (ShownBox{"Vorlan Wattmeter\nVersion " WATTMETER_VERSION, seriallink::vbInformation,
                       "About Vorlan Wattmeter"}));
    QCOMPARE(f.checkedPorts(), QList<int>{4});
    QVERIFY(!f.window->mnuHelpAbout->isChecked());
    QCOMPARE(f.serial->written(), sent);
    QVERIFY(f.serial->portOpen());
}

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
