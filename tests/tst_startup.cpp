// Start-up from whatever the settings store holds, and the two ways out: Exit and closing the
// window.
#include "support/window_fixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class tst_startup : public QObject {
    Q_OBJECT
private slots:
    void stored_data();
    void stored();
    void exitAndClose();
};

// The store may hold anything, from a clean save to a hand edit, a crash mid-write or a broken
// disk: the window always starts, an edge that is no usable number reads as 0, a port that is not
// one of 1 to 16 runs no port command.
void tst_startup::stored_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QList<int>>("opened"); // the ports that may open; empty: no port command

    const auto row = [](const QByteArray& file, QPoint position, QList<int> opened) {
        QTest::newRow(file.left(60).simplified().constData()) << file << position << opened;
    };
    const auto edges = [&](const char* left, const char* top, QPoint position) {
        row(QByteArray("[settings]\nport=4\nFormLeft=") + left + "\nFormTop=" + top + "\n",
            position, {4});
    };
    for (const auto& [port, n] : {std::pair{"3", 3}, {"16", 16}, {"3.0", 3}, {"@ByteArray(7)", 7}})
        row(QByteArray("[settings]\nport=") + port + "\n", {0, 0}, {n});
    for (const char* port :
         {"0", "17", "-1", "-0", "2.5", "16.5", "abc", "1e40", "nan", "inf", "0x3", "\"3,0\"",
          "3abc", "\xd9\xa3", "\"3", "1, 2", "@Variant(\\xff)"})
        row(QByteArray("[settings]\nport=") + port + "\n", {0, 0}, {});
    row("[settings]\nport=" + QByteArray(1 << 20, '7') + "\n", {0, 0}, {});
    edges("1500", "3000", {100, 200});
    edges("-1500", "-450", {-100, -30});
    edges("1.5E+03", "3000.0", {100, 200});
    edges("1e40", "491535", {0, 0});
    edges("-1e40", "-15", {0, -1});
    for (const char* edge :
         {"left", "nan", "inf", "0x5DC", "\"1,500\"", "1500 twips", "   ", "@Rect(1 2 3 4)"})
        edges(edge, edge, {0, 0});
    edges(QByteArray(1 << 20, '9'), "15", {0, 1});
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char(i * 7919 % 251);
    row(garbage, {0, 0}, {});
    row("", {0, 0}, {});
    row("[settings]\nFormLeft=1500\nFormTop=30\nport", {100, 2}, {});
    row("[settings]\nport=3\nport=5\n", {0, 0}, {3, 5}); // one of them, and only one, opens
    row("port=3\nFormLeft=1500\n[other]\nport=4\n", {0, 0}, {});
}

void tst_startup::stored() {
    QFETCH(QByteArray, file);
    QFETCH(QPoint, position);
    QFETCH(QList<int>, opened);
    WindowFixture f;
    QVERIFY(writeFile(f.settings.settingsFile(), file));
    f.window->Form_Load();
    // Polling starts off, and text before any period is set starts no timer.
    f.serial->receive("x");
    for (int tick = 0; tick < 3; ++tick)
        f.window->Timer1_Timer();
    QCOMPARE(f.window->pos(), position);
    QCOMPARE(f.serial->rthreshold, 1);
    for (QLineEdit* field : f.window->findChildren<QLineEdit*>())
        QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    const QList<int> checked = checkedPorts(*f.window);
    QCOMPARE(checked.size(), opened.isEmpty() ? 0 : 1);
    QVERIFY(checked.isEmpty() || opened.contains(checked.first()));
    QCOMPARE(f.serial->written(), checked.isEmpty() ? QByteArray() : QByteArray("RESET\r"));
    // Only a store with no port text asks for one; any port text starts the timer.
    const bool asked = !f.boxes->shown.isEmpty();
    QVERIFY(!asked || f.boxes->shown ==
                          QList<ShownBox>({{"Please select a com port first", 64, "Port error"}}));
    QCOMPARE(f.part<app::IntervalTimer>("Timer1").ticking(), !asked);
}

void tst_startup::exitAndClose() {
    WindowFixture f;
    f.settings.set("port", "2");
    f.window->Form_Load();
    f.window->show();
    f.window->move(20, 30);
    QVERIFY(f.window->close());
    QCOMPARE(f.settings.value("FormLeft") + ' ' + f.settings.value("FormTop"), "300 450");
    QCOMPARE(f.serial->closes, 0); // the component's own teardown closes the port
    f.settings.set("FormLeft", "0");
    f.window.reset(); // the release after a close saves once more
    QCOMPARE(f.settings.value("FormLeft"), "300");
    WindowFixture e;
    e.settings.set("port", "2");
    e.window->Form_Load();
    e.window->move(40, 60);
    QTimer::singleShot(0, [&] { QTest::mouseClick(&e.part<QPushButton>("Exit"), Qt::LeftButton); });
    QCOMPARE(QCoreApplication::exec(), 0); // Exit ends the program
    QVERIFY(!e.serial->portOpen() && e.serial->closes == 1);
    QCOMPARE(e.settings.value("FormLeft") + ' ' + e.settings.value("FormTop"), "600 900");
    e.window->move(1, 1);
    e.window.reset(); // nothing more is saved after Exit
    QCOMPARE(e.settings.value("FormLeft"), "600");
}

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
