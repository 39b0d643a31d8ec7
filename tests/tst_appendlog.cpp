#include "link/appendlog.h"

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>

#include <array>

using namespace seriallink;

namespace {

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// appendlog's steps taken literally, removing the first backspace again and again: the
// reference that the single-pass planAppend must agree with.
LogEdit naivePlan(std::size_t n, std::string data) {
    LogEdit edit;
    if (n > kPaneLimit) {
        edit.dropFront = kPaneTrim;
        n -= kPaneTrim;
    }
    for (std::size_t i; (i = data.find('\b')) != std::string::npos;) {
        edit.replaceLast = edit.replaceLast || (i == 0 && n > 0);
        data.erase(i == 0 ? 0 : i - 1, i == 0 ? 1 : 2);
    }
    std::erase(data, '\n');
    for (std::size_t i = 0; (i = data.find('\r', i)) != std::string::npos; i += 2) {
        data.insert(i + 1, 1, '\n');
    }
    edit.text = data;
    return edit;
}

// The pane after each append applied on its own: the reference for composed appends.
std::string oneByOne(std::string pane, const QByteArrayList& appends) {
    for (const QByteArray& data : appends) {
        applyEdit(pane, planAppend(pane.size(), data.toStdString()));
    }
    return pane;
}

std::string randomText(QRandomGenerator& random, int maxLength, std::string_view alphabet) {
    std::string text(random.bounded(maxLength + 1), ' ');
    for (char& c : text) {
        c = alphabet[random.bounded(int(alphabet.size()))];
    }
    return text;
}

} // namespace

class TestAppendlog : public QObject {
    Q_OBJECT
private slots:
    void append_data();
    void append();
    void planAgreesWithStepByStepReference();
    void widgetMatchesModelOverLongRandomTraffic();
    void operatorEditsBetweenAppends();
    void composedEdit_data();
    void composedEdit();
    void composedMatchesOneByOne_data();
    void composedMatchesOneByOne();
    void coalescedWidgetMatchesOneByOne_data();
    void coalescedWidgetMatchesOneByOne();
    void coalescedAppendsReachTheWidgetOnTheirOwn();
    void coalescedAppendsFollowAnOutsideEdit();
};

void TestAppendlog::append_data() {
    QTest::addColumn<QByteArray>("pane");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    auto row = [](const char* name, const QByteArray& pane, const QByteArray& data,
                  const QByteArray& expected) { QTest::newRow(name) << pane << data << expected; };
    row("two letters, two backspaces, a letter", "ab", "xy\b\bz", "abz");
    row("letter and backspace append nothing", "ab", "x\b", "ab");
    row("leading backspace replaces the pane's last character", "ab", "\bX", "aX");
    row("three leading backspaces still replace one character", "ab", "\b\b\bX", "aX");
    row("leading backspace takes a whole trailing line break", "ab\r\n", "\bX", "abX");
    row("leading backspace on an empty pane erases nothing", "", "\bX", "X");
    row("backspace erases a line feed, not the letter before it", "", "A\n\b", "A");
    row("carriage return and line feed give one break", "", "A\r\nB", "A\r\nB");
    row("lone line feed shows nothing", "", "A\nB", "AB");
    row("lone carriage return becomes a break", "", "A\rB", "A\r\nB");
    row("starting text with a line break", "\t\r\n", "", "\t\r\n");
    row("append behind a line break", "\t\r\n", "FWD: 850\r", "\t\r\nFWD: 850\r\n");
    const QByteArray full(16000, 'a');
    row("pane of exactly 16000 not trimmed", full, "z", full + "z");
    const QByteArray kept(11905, 'b');
    row("pane of 16001 keeps its last 11905, then the append", QByteArray(4096, 'a') + kept, "z",
        kept + "z");
    row("trim falling inside a line break takes all of it",
        QByteArray(4095, 'a') + "\r\n" + kept.left(11904), "z", kept.left(11904) + "z");
}

void TestAppendlog::append() {
    QFETCH(QByteArray, pane);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);

    std::string model = pane.toStdString();
    applyEdit(model, planAppend(model.size(), data.toStdString()));
    QCOMPARE(QByteArray::fromStdString(model), expected);

    for (const bool undo : {false, true}) {
        QPlainTextEdit widget;
        widget.setUndoRedoEnabled(undo);
        widget.setPlainText(QString::fromLatin1(pane));
        QCOMPARE(paneLength(widget), std::size_t(pane.size()));
        appendlog(widget, data.toStdString());
        QCOMPARE(paneText(widget), QString::fromLatin1(expected));
        QCOMPARE(paneLength(widget), std::size_t(expected.size()));
        QVERIFY(widget.textCursor().atEnd() && !widget.textCursor().hasSelection());
    }
}

void TestAppendlog::planAgreesWithStepByStepReference() {
    QRandomGenerator random(20240611);
    for (int round = 0; round < 5000; ++round) {
        const std::size_t n = std::array{0, 1, 16000, 16001}[random.bounded(4)];
        const std::string data = randomText(random, 40, "ab\b\b\b\r\n");
        const LogEdit fast = planAppend(n, data);
        const LogEdit reference = naivePlan(n, data);
        QCOMPARE(fast.dropFront, reference.dropFront);
        QCOMPARE(fast.replaceLast, reference.replaceLast);
        QCOMPARE(fast.text, reference.text);
    }
}

void TestAppendlog::widgetMatchesModelOverLongRandomTraffic() {
    // Enough traffic to trim many times, with line breaks dense enough that some trims fall
    // between a carriage return and its line feed.
    QRandomGenerator random(7);
    QPlainTextEdit widget;
    std::string model;
    for (int round = 0; round < 1500; ++round) {
        const std::string data = randomText(random, 60, "xyz\xe9\r\r\n\b");
        appendlog(widget, data);
        applyEdit(model, planAppend(model.size(), data));
        QCOMPARE(paneLength(widget), model.size());
        if (round % 50 == 0) {
            QCOMPARE(paneText(widget), latin1(model));
        }
    }
    QVERIFY(model.size() <= kPaneLimit + 60);
}

void TestAppendlog::operatorEditsBetweenAppends() {
    // The alarm pane is not read-only: the operator may type into it and leave the caret
    // anywhere, and the next alarm line still goes to the end.
    QPlainTextEdit widget;
    appendlog(widget, "12:00:00 - HIGH VSWR\r");
    widget.moveCursor(QTextCursor::Start);
    QTest::keyClicks(&widget, "ok ");
    appendlog(widget, "12:00:05 - POWER SUPPLY FAULT\r");
    QCOMPARE(paneText(widget),
             QString("ok 12:00:00 - HIGH VSWR\r\n12:00:05 - POWER SUPPLY FAULT\r\n"));
    QVERIFY(widget.textCursor().atEnd());
}

void TestAppendlog::composedEdit_data() {
    QTest::addColumn<QByteArray>("pane");
    QTest::addColumn<QByteArrayList>("appends");
    QTest::addColumn<int>("dropFront");
    QTest::addColumn<int>("dropBack");
    QTest::addColumn<QByteArray>("text");

    auto row = [](const char* name, const QByteArray& pane, const QByteArrayList& appends,
                  int front, int back, const QByteArray& text) {
        QTest::newRow(name) << pane << appends << front << back << text;
    };
    row("appends simply join", "ab", {"c", "d\re"}, 0, 0, "cd\r\ne");
    row("leading backspace with nothing waiting cuts the pane's end", "ab", {"\bX"}, 0, 1, "X");
    row("leading backspace after waiting text erases that text", "ab", {"x", "\bY"}, 0, 0, "Y");
    row("backspaces of several appends reach into the pane", "abc", {"\b", "\b", "Z"}, 0, 2, "Z");
    row("leading backspace cuts a whole line break from the pane", "ab\r\n", {"\bX"}, 0, 2, "X");
    row("leading backspace cuts a whole waiting line break", "ab", {"x\r", "\bY"}, 0, 0, "xY");
    row("empty appends change nothing", "ab", {"", ""}, 0, 0, "");
    const QByteArray full(16001, 'a');
    row("trim takes the front of the pane", full, {"z"}, 4096, 0, "z");
    const QByteArray filler(16100, 'f');
    row("trim takes all of a short pane and the front of the waiting text", "ab", {filler, "z"}, 2,
        0, filler.mid(4094) + "z");
    row("trim inside a waiting line break takes all of it", "ab",
        {QByteArray(4093, 'f') + "\r" + QByteArray(12000, 'g'), "z"}, 2, 0,
        QByteArray(12000, 'g') + "z");
    row("trim, then the ends that two appends erase", QByteArray(16002, 'a'), {"\b", "\bz"}, 4096,
        2, "z");
}

void TestAppendlog::composedEdit() {
    QFETCH(QByteArray, pane);
    QFETCH(QByteArrayList, appends);
    QFETCH(int, dropFront);
    QFETCH(int, dropBack);
    QFETCH(QByteArray, text);

    AppendComposer composer(pane.toStdString());
    for (const QByteArray& data : appends) {
        composer.append(data.toStdString());
    }
    const std::string expected = oneByOne(pane.toStdString(), appends);
    QCOMPARE(std::string(composer.pane()), expected);
    const PaneEdit edit = composer.take();
    QCOMPARE(edit.dropFront, std::size_t(dropFront));
    QCOMPARE(edit.dropBack, std::size_t(dropBack));
    QCOMPARE(QByteArray::fromStdString(edit.text), text);
    std::string applied = pane.toStdString();
    applyEdit(applied, edit);
    QCOMPARE(applied, expected);
    QCOMPARE(composer.take(), PaneEdit{});
}

void TestAppendlog::composedMatchesOneByOne_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("startLength"); // the pane's length before the first append
    QTest::addColumn<int>("maxAppend");
    QTest::addColumn<QByteArray>("alphabet");

    QTest::newRow("letters and line breaks from an empty pane")
        << 1u << 0 << 40 << QByteArray("ab\r\n");
    QTest::newRow("backspaces reaching back into the pane")
        << 2u << 30 << 8 << QByteArray("a\b\b\b\r");
    QTest::newRow("nothing but backspaces") << 3u << 50 << 6 << QByteArray("\b");
    QTest::newRow("trims from a full pane") << 4u << 16000 << 400 << QByteArray("ab\r\r\n\b");
    QTest::newRow("appends longer than a trim") << 5u << 100 << 9000 << QByteArray("xy\r\n\b");
    QTest::newRow("dense line breaks, so trims fall inside them")
        << 6u << 15990 << 300 << QByteArray("\r\r\r\nx\b");
}

void TestAppendlog::composedMatchesOneByOne() {
    QFETCH(quint32, seed);
    QFETCH(int, startLength);
    QFETCH(int, maxAppend);
    QFETCH(QByteArray, alphabet);

    QRandomGenerator random(seed);
    std::string reference;
    while (int(reference.size()) < startLength) {
        reference += "line\r\n";
    }
    reference.resize(std::size_t(startLength));
    if (!reference.empty() && reference.back() == '\r') {
        reference.back() = 'x';
    }

    // The edits handed over at random moments, applied in turn to the pane as it then stood,
    // must give the same pane as every append on its own.
    std::string widget = reference;
    AppendComposer composer(reference);
    for (int round = 0; round < 400; ++round) {
        const std::string data = randomText(random, maxAppend, alphabet.toStdString());
        composer.append(data);
        applyEdit(reference, planAppend(reference.size(), data));
        QCOMPARE(std::string(composer.pane()), reference);
        if (random.bounded(5) == 0) {
            const PaneEdit edit = composer.take();
            QVERIFY(edit.dropFront + edit.dropBack <= widget.size());
            applyEdit(widget, edit);
            QCOMPARE(widget, reference);
        }
    }
    applyEdit(widget, composer.take());
    QCOMPARE(widget, reference);
}

void TestAppendlog::coalescedWidgetMatchesOneByOne_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("readEvery"); // appends between two reads of the pane

    QTest::newRow("read after every append") << 11u << 1;
    QTest::newRow("read after every few appends") << 12u << 7;
    QTest::newRow("read once, after a long run of appends") << 13u << 2000;
}

void TestAppendlog::coalescedWidgetMatchesOneByOne() {
    QFETCH(quint32, seed);
    QFETCH(int, readEvery);

    QRandomGenerator random(seed);
    QPlainTextEdit widget;
    widget.setUndoRedoEnabled(false);
    widget.setPlainText(QStringLiteral("\t\n"));
    std::string model = "\t\r\n";
    for (int round = 1; round <= 2000; ++round) {
        const std::string data = randomText(random, 60, "xyz\xe9\r\r\n\b\b");
        appendlogCoalesced(widget, data);
        applyEdit(model, planAppend(model.size(), data));
        if (round % readEvery == 0) {
            QCOMPARE(paneLength(widget), model.size());
            QCOMPARE(paneText(widget), latin1(model));
            QVERIFY(widget.textCursor().atEnd() && !widget.textCursor().hasSelection());
        }
    }
    QCOMPARE(paneText(widget), latin1(model));
}

void TestAppendlog::coalescedAppendsReachTheWidgetOnTheirOwn() {
    QPlainTextEdit widget;
    appendlogCoalesced(widget, "FWD: 850\r");
    appendlogCoalesced(widget, "REV: 12\b3\r");
    // Nobody reads the pane: the event loop brings the widget up to date by itself.
    QTRY_COMPARE(widget.document()->toRawText(), QString("FWD: 850") + QChar::ParagraphSeparator +
                                                     "REV: 13" + QChar::ParagraphSeparator);
    QVERIFY(widget.textCursor().atEnd());
}

void TestAppendlog::coalescedAppendsFollowAnOutsideEdit() {
    // Someone else sets the widget's text between appends: the next ones go on from that.
    QPlainTextEdit widget;
    appendlogCoalesced(widget, "first\r");
    QCOMPARE(paneText(widget), QStringLiteral("first\r\n"));
    widget.setPlainText(QStringLiteral("other"));
    appendlogCoalesced(widget, "\bS\r");
    QCOMPARE(paneText(widget), QStringLiteral("otheS\r\n"));
    // And an immediate append after waiting ones comes after them.
    appendlogCoalesced(widget, "a");
    appendlog(widget, "b");
    QCOMPARE(paneText(widget), QStringLiteral("otheS\r\nab"));
}

QTEST_MAIN(TestAppendlog)
#include "tst_appendlog.moc"
