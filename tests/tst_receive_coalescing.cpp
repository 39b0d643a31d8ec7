// The terminal pane takes receive events in batches: the widget may lag behind the line for a
// moment, but whatever reads the pane (the tick, a key typed into it, paneText) sees every event
// applied, exactly as appendlog applies them one by one; and parsestring gets every byte at
// once.
#include "link/appendlog.h"
#include "link/receive_path.h"
#include "support/window_fixture.h"

#include <QPlainTextEdit>
#include <QTest>

namespace {

// What the terminal pane must show after these events, from the pane as the window starts.
QString expectedPane(const QByteArrayList& events) {
    std::string pane = "\t\r\n";
    for (const QByteArray& event : events) {
        const std::string upper = seriallink::upperCaseLatin1(event.toStdString());
        seriallink::applyEdit(pane, seriallink::planAppend(pane.size(), upper));
    }
    return QString::fromLatin1(pane.data(), qsizetype(pane.size()));
}

// The widget's own text, line breaks as CR LF, without asking the pane to catch up first.
QString widgetText(const QPlainTextEdit& pane) {
    return pane.document()->toRawText().replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
}

QByteArrayList splitEvery(const QByteArray& text, int size) {
    QByteArrayList pieces;
    for (qsizetype at = 0; at < text.size(); at += size)
        pieces << text.mid(at, size);
    return pieces;
}

struct ReceiveFixture : WindowFixture {
    ReceiveFixture() {
        serial->setPortOpen(true);
        window->Timer1->setInterval(500);
    }
    void receiveAll(const QByteArrayList& events) {
        for (const QByteArray& event : events)
            serial->receive(event);
    }
};

} // namespace

class tst_receive_coalescing : public QObject {
    Q_OBJECT

private slots:
    void paneMatchesAppendlogAfterEveryEvent_data();
    void paneMatchesAppendlogAfterEveryEvent();
    void tickFindsThePaneUpToDate();
    void typedKeyGoesToTheEndOfEverythingReceived();
    void paneCatchesUpWithoutAnyReader();
    void otherEventCodesLeaveThePaneAlone();
    void upperCase_data();
    void upperCase();
};

void tst_receive_coalescing::paneMatchesAppendlogAfterEveryEvent_data() {
    QTest::addColumn<QByteArrayList>("events");
    QTest::addColumn<int>("readEvery"); // events between two reads of the pane; 0: only at the end

    const QByteArray reply = "fwd: 850 rev: 12\rvswr: 1.3:1\r\n";
    QTest::newRow("reply one character per event, read at the end") << splitEvery(reply, 1) << 0;
    QTest::newRow("reply one character per event, read after each") << splitEvery(reply, 1) << 1;
    QTest::newRow("carriage return and line feed in two events")
        << QByteArrayList{"ok\r", "\nnext\r", "\n"} << 0;
    QTest::newRow("backspace events erase earlier events")
        << QByteArrayList{"abc", "\b", "\b\b", "X", "\b", "\r", "\bY"} << 0;
    QTest::newRow("backspace events reach the pane's first line")
        << QByteArrayList{"\b", "\b", "\b", "Z"} << 2;
    QTest::newRow("lower case and Latin-1 letters")
        << QByteArrayList{"\xe9t\xe9", " \xff\xf7\xfe", "na\xefve\r"} << 0;
    QByteArray lines;
    for (int i = 0; i < 1200; ++i)
        lines += "line " + QByteArray::number(i) + " of a flood that trims the pane\r\n";
    QTest::newRow("flood crossing many trims, read at the end") << splitEvery(lines, 4095) << 0;
    QTest::newRow("flood crossing many trims, read now and then") << splitEvery(lines, 997) << 5;
}

void tst_receive_coalescing::paneMatchesAppendlogAfterEveryEvent() {
    QFETCH(QByteArrayList, events);
    QFETCH(int, readEvery);
    ReceiveFixture f;

    QByteArrayList done;
    for (const QByteArray& event : events) {
        f.serial->receive(event);
        done << event;
        // The buffer has every byte at once; the pane only needs to be right when read.
        QCOMPARE(QByteArray::fromStdString(f.window->parsestring), done.join());
        QVERIFY(f.window->Timer1->ticking());
        if (readEvery > 0 && done.size() % readEvery == 0)
            QCOMPARE(seriallink::paneText(*f.window->txtTerm), expectedPane(done));
    }
    QCOMPARE(seriallink::paneText(*f.window->txtTerm), expectedPane(events));
    QCOMPARE(seriallink::paneLength(*f.window->txtTerm), std::size_t(expectedPane(events).size()));
    const QTextCursor caret = f.window->txtTerm->textCursor();
    QVERIFY(caret.atEnd() && !caret.hasSelection());
}

void tst_receive_coalescing::tickFindsThePaneUpToDate() {
    ReceiveFixture f;
    const QByteArrayList events = {"HIGH VSWR\r", "status ok\r", "\bK"};
    f.receiveAll(events);
    f.window->Timer1_Timer();
    // The widget itself, not a reader that would bring it up to date.
    QCOMPARE(widgetText(*f.window->txtTerm), expectedPane(events));
    QVERIFY(widgetText(*f.window->txtAlarms).endsWith(QStringLiteral(" - HIGH VSWR\r\n")));
}

void tst_receive_coalescing::typedKeyGoesToTheEndOfEverythingReceived() {
    ReceiveFixture f;
    const QByteArrayList events = {"POWER\r", "FWD: 850"};
    f.receiveAll(events);
    QTest::keyClick(f.window->txtTerm, Qt::Key_S);

    QCOMPARE(f.serial->written(), QByteArray("s"));
    QCOMPARE(widgetText(*f.window->txtTerm), expectedPane(events));
    QCOMPARE(f.window->txtTerm->textCursor().position(),
             f.window->txtTerm->document()->characterCount() - 1);
}

void tst_receive_coalescing::paneCatchesUpWithoutAnyReader() {
    ReceiveFixture f;
    const QByteArrayList events = splitEvery("FWD: 850 REV: 12\rVSWR: 1.3:1\r", 3);
    f.receiveAll(events);
    QTRY_COMPARE(widgetText(*f.window->txtTerm), expectedPane(events));
    QVERIFY(f.window->txtTerm->textCursor().atEnd());
}

void tst_receive_coalescing::otherEventCodesLeaveThePaneAlone() {
    ReceiveFixture f;
    f.serial->receive("first\r");
    f.serial->receive("ignored", 1008);
    f.serial->receive("second");
    QCOMPARE(f.window->parsestring, std::string("first\rsecond"));
    QCOMPARE(seriallink::paneText(*f.window->txtTerm), expectedPane({"first\r", "second"}));
}

void tst_receive_coalescing::upperCase_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("upper");

    QTest::newRow("a to z") << QByteArray("fwd: az") << QByteArray("FWD: AZ");
    QTest::newRow("capitals, digits and marks stay")
        << QByteArray("AZ09@[`{\x7f") << QByteArray("AZ09@[`{\x7f");
    QTest::newRow("Latin-1 small letters with a one-byte capital")
        << QByteArray("\xe0\xe9\xf6\xf8\xfe") << QByteArray("\xc0\xc9\xd6\xd8\xde");
    QTest::newRow("division sign, sharp s and y diaeresis stay")
        << QByteArray("\xf7\xdf\xff") << QByteArray("\xf7\xdf\xff");
    QTest::newRow("control characters and NUL stay")
        << QByteArray("\0\b\r\n", 4) << QByteArray("\0\b\r\n", 4);
}

void tst_receive_coalescing::upperCase() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, upper);
    QCOMPARE(QByteArray::fromStdString(seriallink::upperCaseLatin1(text.toStdString())), upper);
}

QTEST_MAIN(tst_receive_coalescing)
#include "tst_receive_coalescing.moc"
