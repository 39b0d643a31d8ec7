#include "ui/log_pane.h"

#include "pane_model/pane_model.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

namespace ui {

using panemodel::AppendComposer;
using panemodel::LogEdit;
using panemodel::PaneEdit;

namespace {

// What the widget holds, whatever is still on its way to it.
std::size_t widgetLength(const QPlainTextEdit& pane) {
    const QTextDocument* document = pane.document();
    // characterCount() includes the separator after the last block, which the text lacks;
    // every other separator stands for two characters.
    return static_cast<std::size_t>(document->characterCount() - 1 + document->blockCount() - 1);
}

QString widgetText(const QPlainTextEdit& pane) {
    // toRawText, not toPlainText: the latter turns a received no-break space into a blank.
    QString text = pane.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    return text;
}

// The document position at which the first `logical` characters of the pane end, counting
// every block separator as the two characters of a line break; a cut between the two takes
// the whole separator.
int documentPosition(const QTextDocument& document, std::size_t logical) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const auto textLength = static_cast<std::size_t>(block.length() - 1);
        if (logical <= textLength)
            return block.position() + static_cast<int>(logical);
        if (logical <= textLength + 2)
            return std::min(block.position() + block.length(), document.characterCount() - 1);
        logical -= textLength + 2;
    }
    return document.characterCount() - 1;
}

// QTextCursor::insertText makes a block separator of every CR and every LF, so each CR LF
// pair of the edit must reach it as a single LF.
QString documentText(const std::string& text) {
    QString result = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    result.remove(QLatin1Char('\r'));
    return result;
}

// A pane's appends on their way to the widget. It lives as a child of the pane, where the
// pane's readers find it, and goes when the pane goes.
class CoalescedPane : public QObject {
    Q_OBJECT
public:
    explicit CoalescedPane(QPlainTextEdit& pane)
        : QObject(&pane), pane_(pane), composer_(widgetText(pane).toLatin1().toStdString()) {
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &CoalescedPane::flush);
        // The composer mirrors the widget; an edit by anyone else ends that.
        connect(pane.document(), &QTextDocument::contentsChange, this,
                [this] { outdated_ = outdated_ || !applying_; });
    }

    static CoalescedPane* of(const QPlainTextEdit& pane) {
        // Asked on every receive event, nearly always for the same pane.
        static QPointer<CoalescedPane> last;
        if (last && last->parent() == &pane)
            return last;
        CoalescedPane* found =
            pane.findChild<CoalescedPane*>(QString(), Qt::FindDirectChildrenOnly);
        if (found)
            last = found;
        return found;
    }

    void append(std::string_view data) {
        if (outdated_) {
            // Whoever edited the widget should have flushed first; appends that still wait
            // go in as they are, and the next ones go on from what the widget then holds.
            flush();
            composer_ = AppendComposer(widgetText(pane_).toLatin1().toStdString());
            outdated_ = false;
        }
        composer_.append(data);
        waiting_ = true;
        if (!timer_.isActive()) {
            // At once after a quiet spell; during a flood, one widget edit per kCoalesceMs.
            const qint64 wait = kCoalesceMs.count();
            const qint64 since = sinceFlush_.isValid() ? sinceFlush_.elapsed() : wait;
            timer_.start(static_cast<int>(std::max<qint64>(0, wait - since)));
        }
    }

    void flush() {
        // waiting_ comes with every append, also one that changes nothing: it still leaves
        // the caret at the end.
        if (!waiting_)
            return;
        waiting_ = false;
        timer_.stop();
        applying_ = true;
        applyToWidget(composer_.take());
        applying_ = false;
        pane_.moveCursor(QTextCursor::End);
        sinceFlush_.start();
    }

private:
    void applyToWidget(const PaneEdit& edit) {
        QTextDocument& document = *pane_.document();
        QTextCursor cursor(&document);
        cursor.beginEditBlock();
        // The end first: the front cut counts from the start, which this leaves in place.
        if (edit.dropBack > 0) {
            const std::size_t length = widgetLength(pane_);
            cursor.setPosition(
                documentPosition(document, length - std::min(edit.dropBack, length)));
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (edit.dropFront > 0) {
            cursor.setPosition(0);
            cursor.setPosition(documentPosition(document, edit.dropFront), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (!edit.text.empty()) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(documentText(edit.text));
        }
        cursor.endEditBlock();
    }

    QPlainTextEdit& pane_;
    AppendComposer composer_;
    QTimer timer_;
    QElapsedTimer sinceFlush_;
    bool waiting_ = false;  // appends the widget has not had yet
    bool applying_ = false; // the widget changes because of us
    bool outdated_ = false; // the widget changed because of someone else
};

} // namespace

std::size_t paneLength(const QPlainTextEdit& pane) {
    flushPane(pane);
    return widgetLength(pane);
}

QString paneText(const QPlainTextEdit& pane) {
    flushPane(pane);
    return widgetText(pane);
}

void flushPane(const QPlainTextEdit& pane) {
    if (CoalescedPane* waiting = CoalescedPane::of(pane))
        waiting->flush();
}

void appendlogCoalesced(QPlainTextEdit& pane, std::string_view data) {
    CoalescedPane* waiting = CoalescedPane::of(pane);
    if (!waiting)
        waiting = new CoalescedPane(pane);
    waiting->append(data);
}

void appendlog(QPlainTextEdit& pane, std::string_view data) {
    flushPane(pane);
    const LogEdit edit = panemodel::planAppend(widgetLength(pane), data);
    QTextDocument& document = *pane.document();

    // A cursor of our own: the operator may have left the widget's caret anywhere.
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    if (edit.dropFront > 0) {
        cursor.setPosition(documentPosition(document, edit.dropFront), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    const int end = document.characterCount() - 1;
    cursor.setPosition(end);
    if (edit.replaceLast && end > 0) {
        cursor.setPosition(end - 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    if (!edit.text.empty())
        cursor.insertText(documentText(edit.text));
    cursor.endEditBlock();

    pane.moveCursor(QTextCursor::End);
}

} // namespace ui

#include "log_pane.moc"
