// What the settings store can hold after a hand edit, a crash mid-write or a broken disk, and
// what the program makes of it: it always starts, takes the defaults for whatever it cannot
// read (position 0 for an edge that is no number, no port command for a port that is not one
// of 1 to 16), and a save that fails loses the value, never the window.
#include "support/window_fixture.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

const ShownBox kSelectPortFirst{"Please select a com port first", seriallink::vbInformation,
                                "Port error"};

bool runningAsRoot() {
#ifndef _WIN32
    return ::geteuid() == 0;
#else
    return false;
#endif
}

QByteArray garbage(int size) {
    QRandomGenerator random(20240601);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// After a start-up that could not use the store, the operator's commands still work: a port can
// be chosen, and leaving saves what it can.
void windowStillWorks(WindowFixture& f) {
    f.window->mnuPortsCom[1]->trigger();
    QCOMPARE(f.checkedPorts(), QList<int>{2});
    QVERIFY(f.serial->portOpen());
    f.window->Read->click();
    QVERIFY(f.serial->written().endsWith("POWER\r"));
    f.window->show();
    QVERIFY(f.window->close());
}

} // namespace

class tst_bad_settings : public QObject {
    Q_OBJECT

private slots:
    void storedValue_data();
    void storedValue();
    void corruptFile_data();
    void corruptFile();
    void unusableStore_data();
    void unusableStore();
    void saveThatFailsKeepsTheWindow();
};

void tst_bad_settings::storedValue_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QPoint>("position");

    const auto edge = [](const char* name, const char* key, const char* value, QPoint position) {
        QTest::newRow(name) << key << value << position;
    };
    edge("FormLeft negative beyond any screen", "FormLeft", "-1e40", {0, 0});
    edge("FormLeft nan", "FormLeft", "nan", {0, 0});
    edge("FormLeft inf", "FormLeft", "inf", {0, 0});
    edge("FormLeft hex", "FormLeft", "0x5DC", {0, 0});
    edge("FormLeft with thousands separator", "FormLeft", "1,500", {0, 0});
    edge("FormLeft with a unit", "FormLeft", "1500 twips", {0, 0});
    edge("FormLeft in other digits", "FormLeft", "\u0661\u0665\u0660\u0660", {0, 0});
    edge("FormTop negative kept as it stands", "FormTop", "-15", {0, -1});
    edge("FormTop huge", "FormTop", "1e40", {0, 0});
    edge("FormTop just past a 16-bit edge", "FormTop", "491535", {0, 0});
    edge("FormTop blank", "FormTop", "   ", {0, 0});
    edge("FormTop a megabyte of digits", "FormTop", qPrintable(QString(1 << 20, '9')), {0, 0});

    // None of these is a port number: no port command runs, and no box asks for a port.
    const auto port = [](const char* name, const char* value) {
        QTest::newRow(name) << "port" << value << QPoint(0, 0);
    };
    port("port nan", "nan");
    port("port inf", "inf");
    port("port negative", "-1");
    port("port minus zero", "-0");
    port("port hex", "0x3");
    port("port with decimal comma", "3,0");
    port("port with trailing text", "3abc");
    port("port just above 16", "16.5");
    port("port a megabyte of digits", qPrintable(QString(1 << 20, '7')));
    port("port in other digits", "\u0663");
}

void tst_bad_settings::storedValue() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QPoint, position);
    WindowFixture f;
    f.settings.set(key, value);
    if (key != "port")
        f.settings.set("port", "4");
    f.window->Form_Load();

    QCOMPARE(f.window->pos(), position);
    QVERIFY2(f.boxes->shown.isEmpty(), qPrintable(f.boxes->shown.value(0).prompt));
    const int expectedPort = key == "port" ? 0 : 4;
    QCOMPARE(f.checkedPorts(), expectedPort ? QList<int>{expectedPort} : QList<int>{});
    QCOMPARE(f.serial->written(), expectedPort ? QByteArray("RESET\r") : QByteArray());
    QCOMPARE(f.window->Timer1->interval(), 500);
    // The odd value stays in the store as it was; only a command replaces it.
    QCOMPARE(f.settings.value(key), value);
}

void tst_bad_settings::corruptFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QList<int>>("opened"); // acceptable ports, empty when none may open

    QTest::newRow("empty file") << QByteArray() << QPoint(0, 0) << QList<int>{};
    QTest::newRow("binary garbage") << garbage(4096) << QPoint(0, 0) << QList<int>{};
    QTest::newRow("NUL bytes in a value") << QByteArray("[settings]\nport=3\0\0\nFormLeft=15\0"
                                                        "00\n",
                                                        34)
                                          << QPoint(0, 0) << QList<int>{};
    QTest::newRow("file cut in the middle of a line")
        << QByteArray("[settings]\nFormLeft=1500\nFormTop=30\nport") << QPoint(100, 2)
        << QList<int>{};
    QTest::newRow("file cut after the equals sign")
        << QByteArray("[settings]\nFormLeft=1500\nport=") << QPoint(100, 0) << QList<int>{};
    QTest::newRow("unterminated quote")
        << QByteArray("[settings]\nport=\"3\nFormLeft=1500\n") << QPoint(0, 0) << QList<int>{};
    // Which of the two counts is the store's business; one of them, and only one, opens.
    QTest::newRow("key given twice")
        << QByteArray("[settings]\nport=3\nport=5\n") << QPoint(0, 0) << QList<int>{3, 5};
    QTest::newRow("section given twice")
        << QByteArray("[settings]\nFormLeft=1500\n[settings]\nport=6\n") << QPoint(100, 0)
        << QList<int>{6};
    QTest::newRow("values the store reads as lists")
        << QByteArray("[settings]\nport=1, 2\nFormLeft=1500, 3000\nFormTop=15,30\n") << QPoint(0, 0)
        << QList<int>{};
    QTest::newRow("values the store reads as a rectangle and a point")
        << QByteArray("[settings]\nFormLeft=@Rect(1 2 3 4)\nFormTop=@Point(15 30)\n")
        << QPoint(0, 0) << QList<int>{};
    QTest::newRow("serialised value of garbage")
        << QByteArray("[settings]\nport=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff\\xff)\n"
                      "FormLeft=@Variant(\\xff)\n")
        << QPoint(0, 0) << QList<int>{};
    QTest::newRow("byte-array value still text")
        << QByteArray("[settings]\nport=@ByteArray(7)\n") << QPoint(0, 0) << QList<int>{7};
    QTest::newRow("keys outside the section")
        << QByteArray("port=3\nFormLeft=1500\n[other]\nport=4\n") << QPoint(0, 0) << QList<int>{};
}

void tst_bad_settings::corruptFile() {
    QFETCH(QByteArray, content);
    QFETCH(QPoint, position);
    QFETCH(QList<int>, opened);
    WindowFixture f;
    QVERIFY(writeFile(f.settings.settingsFile(), content));
    f.window->Form_Load();

    QCOMPARE(f.window->pos(), position);
    const QList<int> checked = f.checkedPorts();
    if (opened.isEmpty()) {
        QVERIFY(checked.isEmpty());
    } else {
        QCOMPARE(checked.size(), 1);
        QVERIFY2(opened.contains(checked.first()), qPrintable(f.window->port));
    }
    // Only a store that yields no port text at all asks the operator to choose one.
    QVERIFY(f.boxes->shown.size() <= 1);
    if (!f.boxes->shown.isEmpty()) {
        QCOMPARE(f.boxes->shown.first(), kSelectPortFirst);
        QVERIFY(f.window->port.isEmpty());
    }

    // The first save writes a store that reads back.
    windowStillWorks(f);
    QCOMPARE(f.settings.value("port"), QStringLiteral("2"));
}

void tst_bad_settings::unusableStore_data() {
    QTest::addColumn<QString>("breakage");
    QTest::newRow("settings file unreadable") << "file mode 000";
    QTest::newRow("settings folder read-only") << "folder mode 555";
    QTest::newRow("settings file is a folder") << "file is a folder";
    QTest::newRow("settings folder is a file") << "folder is a file";
}

void tst_bad_settings::unusableStore() {
    QFETCH(QString, breakage);
    WindowFixture f;
    const QString file = f.settings.settingsFile();
    const QString folder = QFileInfo(file).absolutePath();
    // Written as a plain file: the store keeps what it has read or written in this process, and
    // the program at its start has nothing of the kind.
    QVERIFY(writeFile(file, "[settings]\nport=3\nFormLeft=1500\n"));
    const bool permissions = breakage.contains("mode");
    if (permissions && runningAsRoot())
        QSKIP("root reads and writes whatever the modes say");

    if (breakage == "file mode 000") {
        QVERIFY(QFile::setPermissions(file, {}));
    } else if (breakage == "folder mode 555") {
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup |
                                                  QFile::ReadOther | QFile::ExeOther));
    } else if (breakage == "file is a folder") {
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file));
    } else {
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(writeFile(folder, "not a folder"));
    }
    // Undo the modes so the temporary folder can go.
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    });

    f.window->Form_Load();
    const bool readable = breakage == "folder mode 555";
    QCOMPARE(f.window->pos(), readable ? QPoint(100, 0) : QPoint(0, 0));
    QCOMPARE(f.checkedPorts(), readable ? QList<int>{3} : QList<int>{});
    if (!readable)
        QCOMPARE(f.boxes->shown, QList<ShownBox>{kSelectPortFirst});

    windowStillWorks(f);
    QCOMPARE(f.window->port, QStringLiteral("2"));
}

void tst_bad_settings::saveThatFailsKeepsTheWindow() {
    // Leaving through Exit with a store that cannot be written: the port is closed and the
    // program ends normally, whatever the saves did.
    WindowFixture f;
    QVERIFY(QDir().mkpath(f.settings.settingsFile()));
    f.window->Form_Load();
    f.window->mnuPortsCom[4]->trigger();
    QVERIFY(f.serial->portOpen());
    f.window->move(30, 45);
    f.window->Exit_Click();
    QVERIFY(!f.serial->portOpen());
    QCOMPARE(f.window->pos(), QPoint(30, 45));
    QVERIFY(QFileInfo(f.settings.settingsFile()).isDir());
}

QTEST_MAIN(tst_bad_settings)
#include "tst_bad_settings.moc"
