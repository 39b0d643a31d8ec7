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

QTEST_MAIN(TestAppendlog)
#include "tst_appendlog.moc"
