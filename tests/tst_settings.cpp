// What the settings store may hold, from a clean save to a hand edit, a crash mid-write or a
// broken disk, and what start-up makes of it: the window always starts, an edge that is no
// usable number reads as 0, a port that is not one of 1 to 16 runs no port command, and a
// save that fails loses the value, never the window.
#include "support/window_fixture.h"

#include <QDir>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>

#include <unistd.h>

namespace {

const ShownBox kSelectPortFirst{"Please select a com port first", app::vbInformation, "Port error"};

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// After a start-up that could not use the store, a port can still be chosen and used.
void windowStillWorks(WindowFixture& f) {
    f.part<QAction>("mnuPortsCom2").trigger();
    QCOMPARE(checkedPorts(*f.window), QList<int>{2});
    f.part<QPushButton>("Read").click();
    QVERIFY(f.serial->written().endsWith("POWER\r"));
    QCOMPARE(f.settings.value("port"), QStringLiteral("2"));
}

} // namespace

class tst_settings : public QObject {
    Q_OBJECT
private slots:
    void storedValues_data();
    void storedValues();
    void corruptFile_data();
    void corruptFile();
    void unusableStore_data();
    void unusableStore();
};

void tst_settings::storedValues_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("opened"); // 0: no port command runs

    const auto port = [](const char* name, const QString& value, int opened) {
        QTest::newRow(name) << value << "0"
                            << "0" << QPoint(0, 0) << opened;
    };
    port("port 3 opens Com3", "3", 3);
    port("port 16 opens Com16", "16", 16);
    port("port 3.0 counts as 3", "3.0", 3);
    for (const char* value : {"0", "17", "-1", "-0", "2.5", "16.5", "abc", "1e40", "nan", "inf",
                              "0x3", "3,0", "3abc", "\u0663"})
        port(qPrintable(QString("port %1 is none").arg(value)), value, 0);
    port("port of a megabyte of digits", QString(1 << 20, '7'), 0);

    const auto edges = [](const char* name, const QString& left, const QString& top,
                          QPoint position) {
        QTest::newRow(name) << "4" << left << top << position << 4;
    };
    edges("stored position", "1500", "3000", {100, 200});
    edges("partly off the screen", "-1500", "-450", {-100, -30});
    edges("single-precision text", "1.5E+03", "3000.0", {100, 200});
    edges("not numbers read as 0", "left", "", {0, 0});
    edges("beyond any screen reads as 0", "1e40", "491535", {0, 0});
    edges("negative beyond any screen", "-1e40", "-15", {0, -1});
    for (const char* value : {"nan", "inf", "0x5DC", "1,500", "1500 twips", "   ", "\u0661\u0665"})
        edges(qPrintable(QString("edge %1 reads as 0").arg(value)), value, value, {0, 0});
    edges("a megabyte of digits", QString(1 << 20, '9'), "15", {0, 1});
}

void tst_settings::storedValues() {
    QFETCH(QString, port);
    QFETCH(QString, left);
    QFETCH(QString, top);
    QFETCH(QPoint, position);
    QFETCH(int, opened);
    WindowFixture f;
    f.settings.set("port", port);
    f.settings.set("FormLeft", left);
    f.settings.set("FormTop", top);
    f.window->Form_Load();

    QCOMPARE(f.window->pos(), position);
    QVERIFY2(f.boxes->shown.isEmpty(), qPrintable(f.boxes->shown.value(0).prompt));
    QCOMPARE(checkedPorts(*f.window), opened ? QList<int>{opened} : QList<int>{});
    QCOMPARE(f.serial->written(), opened ? QByteArray("RESET\r") : QByteArray());
    if (opened)
        QCOMPARE(f.serial->settingsApplied, QStringList{"300,N,8,1"});
    auto& timer = f.part<seriallink::IntervalTimer>("Timer1");
    QVERIFY(timer.interval() == 500 && timer.ticking());
    // An odd value stays in the store as it was; only a port command replaces it.
    QCOMPARE(f.settings.value("port"), opened ? QString::number(opened) : port);
}

void tst_settings::corruptFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QList<int>>("opened"); // acceptable ports, empty when none may open

    QByteArray garbage(4096, '\0');
    QRandomGenerator random(20240601);
    for (char& b : garbage)
        b = char(random.bounded(256));
    const auto row = [](const char* name, const QByteArray& content, QPoint position,
                        QList<int> opened) {
        QTest::newRow(name) << content << position << opened;
    };
    row("empty file", "", {0, 0}, {});
    row("binary garbage", garbage, {0, 0}, {});
    row("NUL bytes in a value",
        QByteArray("[settings]\nport=3\0\0\nFormLeft=15\0"
                   "00\n",
                   34),
        {0, 0}, {});
    row("file cut in the middle of a line", "[settings]\nFormLeft=1500\nFormTop=30\nport", {100, 2},
        {});
    row("unterminated quote", "[settings]\nport=\"3\nFormLeft=1500\n", {0, 0}, {});
    // Which of the two counts is the store's business; one of them, and only one, opens.
    row("key given twice", "[settings]\nport=3\nport=5\n", {0, 0}, {3, 5});
    row("values the store reads as lists", "[settings]\nport=1, 2\nFormLeft=1500, 3000\n", {0, 0},
        {});
    row("values the store reads as a rectangle and a point",
        "[settings]\nFormLeft=@Rect(1 2 3 4)\nFormTop=@Point(15 30)\nport=@Variant(\\xff)\n",
        {0, 0}, {});
    row("byte-array value still text", "[settings]\nport=@ByteArray(7)\n", {0, 0}, {7});
    row("keys outside the section", "port=3\nFormLeft=1500\n[other]\nport=4\n", {0, 0}, {});
}

void tst_settings::corruptFile() {
    QFETCH(QByteArray, content);
    QFETCH(QPoint, position);
    QFETCH(QList<int>, opened);
    WindowFixture f;
    QVERIFY(writeFile(f.settings.settingsFile(), content));
    f.window->Form_Load();

    QCOMPARE(f.window->pos(), position);
    const QList<int> checked = checkedPorts(*f.window);
    QVERIFY(checked.size() == (opened.isEmpty() ? 0 : 1));
    QVERIFY(checked.isEmpty() || opened.contains(checked.first()));
    // Only a store that yields no port text at all asks the operator to choose one.
    QVERIFY(f.boxes->shown.isEmpty() || f.boxes->shown == QList<ShownBox>{kSelectPortFirst});
    windowStillWorks(f);
}

void tst_settings::unusableStore_data() {
    QTest::addColumn<QString>("breakage");
    QTest::newRow("settings file unreadable") << "file mode 000";
    QTest::newRow("settings folder read-only") << "folder mode 555";
    QTest::newRow("settings file is a folder") << "file is a folder";
    QTest::newRow("settings folder is a file") << "folder is a file";
}

void tst_settings::unusableStore() {
    QFETCH(QString, breakage);
    if (breakage.contains("mode") && ::geteuid() == 0)
        QSKIP("root reads and writes whatever the modes say");
    WindowFixture f;
    const QString file = f.settings.settingsFile();
    const QString folder = QFileInfo(file).absolutePath();
    QVERIFY(writeFile(file, "[settings]\nport=3\nFormLeft=1500\n"));
    if (breakage == "file mode 000")
        QVERIFY(QFile::setPermissions(file, {}));
    else if (breakage == "folder mode 555")
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    else if (breakage == "file is a folder")
        QVERIFY(QFile::remove(file) && QDir().mkpath(file));
    else
        QVERIFY(QDir(folder).removeRecursively() && writeFile(folder, "not a folder"));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    });

    f.window->Form_Load();
    const bool readable = breakage == "folder mode 555";
    QCOMPARE(f.window->pos(), readable ? QPoint(100, 0) : QPoint(0, 0));
    QCOMPARE(checkedPorts(*f.window), readable ? QList<int>{3} : QList<int>{});
    QCOMPARE(f.boxes->shown, readable ? QList<ShownBox>{} : QList<ShownBox>{kSelectPortFirst});
    // Choosing a port and leaving through Exit both go on, whatever the saves did.
    f.part<QAction>("mnuPortsCom2").trigger();
    QVERIFY(f.serial->portOpen());
    f.window->Exit_Click();
    QVERIFY(!f.serial->portOpen());
}

QTEST_MAIN(tst_settings)
#include "tst_settings.moc"
