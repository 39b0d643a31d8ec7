// appendlog: the pane model's edits on literal cases, and the widget adapter that applies them.
// The fuzz targets hold both against step-by-step references on random appends.
#include "pane_model/pane_model.h"
#include "ui/log_pane.h"

#include <QPlainTextEdit>
#include <QTest>

using namespace panemodel;

Q_DECLARE_METATYPE(PaneEdit)

class tst_log_pane : public QObject {
    Q_OBJECT
private slots:
    void append_data();
    void append();
    void composedEdit_data();
    void composedEdit();
    void operatorEditsBetweenAppends();
    void coalescedAppendsReachTheWidgetOnTheirOwn();
    void coalescedAppendsFollowAnOutsideEdit();
};

void tst_log_pane::append_data() {
    QTest::addColumn<QByteArray>("pane");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    const auto row = [](const char* name, const QByteArray& pane, const QByteArray& data,
                        const QByteArray& expected) {
        QTest::newRow(name) << pane << data << expected;
    };
    row("two letters, two backspaces, a letter", "ab", "xy\b\bz", "abz");
    row("leading backspaces replace the pane's last character once", "ab", "\b\b\bX", "aX");
    row("leading backspace takes a whole trailing line break", "ab\r\n", "\bX", "abX");
    row("leading backspace on an empty pane erases nothing", "", "\bX", "X");
    row("carriage return and line feed give one break", "", "A\r\nB", "A\r\nB");
    row("lone line feed shows nothing, lone CR breaks", "", "A\nB\rC", "AB\r\nC");
    const QByteArray full(16000, 'a');
    row("pane of exactly 16000 not trimmed", full, "z", full + "z");
    const QByteArray kept(11905, 'b');
    row("pane of 16001 drops its first 4096", QByteArray(4096, 'a') + kept, "z", kept + "z");
    row("trim inside a line break takes all of it",
        QByteArray(4095, 'a') + "\r\n" + kept.left(11904), "z", kept.left(11904) + "z");
}

void tst_log_pane::append() {
    QFETCH(QByteArray, pane);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);

    std::string model = pane.toStdString();
    applyEdit(model, planAppend(model.size(), data.toStdString()));
    QCOMPARE(QByteArray::fromStdString(model), expected);

    QPlainTextEdit widget;
    widget.setPlainText(QString::fromLatin1(pane));
    ui::appendlog(widget, data.toStdString());
    QCOMPARE(ui::paneText(widget), QString::fromLatin1(expected));
    QCOMPARE(ui::paneLength(widget), std::size_t(expected.size()));
    QVERIFY(widget.textCursor().atEnd() && !widget.textCursor().hasSelection());
}

void tst_log_pane::composedEdit_data() {
    QTest::addColumn<QByteArray>("pane");
    QTest::addColumn<QByteArrayList>("appends");
    QTest::addColumn<PaneEdit>("edit");

    QTest::newRow("appends simply join")
        << QByteArray("ab") << QByteArrayList{"c", "d\re"} << PaneEdit{0, 0, "cd\r\ne"};
    QTest::newRow("backspaces of several appends reach into the pane")
        << QByteArray("abc") << QByteArrayList{"\b", "\b", "Z"} << PaneEdit{0, 2, "Z"};
    QTest::newRow("leading backspace cuts a whole waiting line break")
        << QByteArray("ab") << QByteArrayList{"x\r", "\bY"} << PaneEdit{0, 0, "xY"};
    QTest::newRow("trim takes a short pane and the front of the waiting text")
        << QByteArray("ab") << QByteArrayList{QByteArray(16100, 'f'), "z"}
        << PaneEdit{2, 0, std::string(16100 - 4094, 'f') + "z"};
    QTest::newRow("trim, then the ends that two appends erase")
        << QByteArray(16002, 'a') << QByteArrayList{"\b", "\bz"} << PaneEdit{4096, 2, "z"};
}

void tst_log_pane::composedEdit() {
    QFETCH(QByteArray, pane);
    QFETCH(QByteArrayList, appends);
    QFETCH(PaneEdit, edit);

    AppendComposer composer(pane.toStdString());
    std::string oneByOne = pane.toStdString();
    for (const QByteArray& data : appends) {
        composer.append(data.toStdString());
        applyEdit(oneByOne, planAppend(oneByOne.size(), data.toStdString()));
    }
    QCOMPARE(std::string(composer.pane()), oneByOne);
    QVERIFY(composer.take() == edit);
    QVERIFY(composer.take() == PaneEdit{});
}

void tst_log_pane::operatorEditsBetweenAppends() {
    // The alarm pane is not read-only: the operator may type into it and leave the caret
    // anywhere, and the next alarm line still goes to the end.
    QPlainTextEdit widget;
    ui::appendlog(widget, "12:00:00 - HIGH VSWR\r");
    widget.moveCursor(QTextCursor::Start);
    QTest::keyClicks(&widget, "ok ");
    ui::appendlog(widget, "12:00:05 - POWER SUPPLY FAULT\r");
    QCOMPARE(ui::paneText(widget),
             QString("ok 12:00:00 - HIGH VSWR\r\n12:00:05 - POWER SUPPLY FAULT\r\n"));
    QVERIFY(widget.textCursor().atEnd());
}

void tst_log_pane::coalescedAppendsReachTheWidgetOnTheirOwn() {
    QPlainTextEdit widget;
    ui::appendlogCoalesced(widget, "FWD: 850\r");
    ui::appendlogCoalesced(widget, "REV: 12\b3\r");
    // Nobody reads the pane: the event loop brings the widget up to date by itself.
    QTRY_COMPARE(widget.document()->toRawText(), QString("FWD: 850") + QChar::ParagraphSeparator +
                                                     "REV: 13" + QChar::ParagraphSeparator);
    QVERIFY(widget.textCursor().atEnd());
}

void tst_log_pane::coalescedAppendsFollowAnOutsideEdit() {
    QPlainTextEdit widget;
    ui::appendlogCoalesced(widget, "first\r");
    QCOMPARE(ui::paneText(widget), QStringLiteral("first\r\n"));
    widget.setPlainText(QStringLiteral("other"));
    ui::appendlogCoalesced(widget, "\bS\r");
    QCOMPARE(ui::paneText(widget), QStringLiteral("otheS\r\n"));
    // An immediate append after waiting ones comes after them.
    ui::appendlogCoalesced(widget, "a");
    ui::appendlog(widget, "b");
    QCOMPARE(ui::paneText(widget), QStringLiteral("otheS\r\nab"));
}

QTEST_MAIN(tst_log_pane)
#include "tst_log_pane.moc"
