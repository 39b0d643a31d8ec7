// appendlog: the pane model's limits on literal cases, and what the widget adapter does that
// the fuzz targets (which hold both against step-by-step references) do not reach.
#include "pane_model/pane_model.h"
#include "ui/log_pane.h"

#include <QPlainTextEdit>
#include <QTest>

class tst_log_pane : public QObject {
    Q_OBJECT
private slots:
    void trims();
    void operatorEditsBetweenAppends();
    void coalescedAppends();
};

void tst_log_pane::trims() {
    const std::string kept(11905, 'b');
    const std::pair<std::string, std::string> cases[] = {
        {std::string(16000, 'a'), std::string(16000, 'a') + "z"},
        {std::string(4096, 'a') + kept, kept + "z"},
        {std::string(4095, 'a') + "\r\n" + kept.substr(1), kept.substr(1) + "z"},
        {std::string(40000, 'a'), std::string(16000, 'a') + "z"}}; // far over: back to the limit
    for (const auto& [pane, expected] : cases) {
        std::string model = pane;
        panemodel::applyEdit(model, panemodel::planAppend(model.size(), "z"));
        QCOMPARE(model, expected);
    }
}

void tst_log_pane::operatorEditsBetweenAppends() {
    // The alarm pane is not read-only: the operator may type into it and leave the caret
    // anywhere, and the next alarm line still goes to the end.
    QPlainTextEdit widget;
    ui::appendlog(widget, "12:00:00 - HIGH VSWR\r");
    widget.moveCursor(QTextCursor::Start);
    QTest::keyClicks(&widget, "ok ");
    ui::appendlog(widget, "\b\b12:00:05 - POWER SUPPLY FAULT\r");
    QCOMPARE(ui::paneText(widget), "ok 12:00:00 - HIGH VSWR12:00:05 - POWER SUPPLY FAULT\r\n");
}

void tst_log_pane::coalescedAppends() {
    QPlainTextEdit widget;
    ui::appendlogCoalesced(widget, "FWD: 850\r");
    ui::appendlogCoalesced(widget, "REV: 12\b3\r");
    // Nobody reads the pane: the event loop brings the widget up to date by itself.
    QTRY_COMPARE(widget.toPlainText(), "FWD: 850\nREV: 13\n");
    QVERIFY(widget.textCursor().atEnd());
    // Someone else's edit: the appends go on from what the widget then holds.
    ui::appendlogCoalesced(widget, "first\r");
    QCOMPARE(ui::paneLength(widget), std::size_t(26));
    widget.setPlainText("other");
    ui::appendlogCoalesced(widget, "\bS\r");
    ui::appendlogCoalesced(widget, "a");
    ui::appendlog(widget, "b"); // after the waiting ones
    QCOMPARE(ui::paneText(widget), "otheS\r\nab");
}

QTEST_MAIN(tst_log_pane)
#include "tst_log_pane.moc"
