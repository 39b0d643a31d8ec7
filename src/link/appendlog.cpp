#include "link/appendlog.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace seriallink {
namespace {

constexpr char kBackspace = 8;
constexpr char kLineFeed = 10;
constexpr char kCarriageReturn = 13;

// The pane's text treats a CR LF pair as one line break: an edit that would cut it in two
// takes the whole pair, so the pane never holds a lone CR or LF.
bool endsWithLineBreak(std::string_view text) {
    return text.size() >= 2 && text[text.size() - 2] == kCarriageReturn && text.back() == kLineFeed;
}

// How many characters a trim of `drop` takes from the front of text.
std::size_t frontCut(std::string_view text, std::size_t drop) {
    std::size_t cut = std::min(drop, text.size());
    if (cut > 0 && cut < text.size() && text[cut - 1] == kCarriageReturn && text[cut] == kLineFeed)
        ++cut;
    return cut;
}

// How many characters erasing the last one takes from the end of text.
std::size_t lastCut(std::string_view text) {
    return text.empty() ? 0 : endsWithLineBreak(text) ? 2 : 1;
}

} // namespace

LogEdit planAppend(std::size_t paneLength, std::string_view data) {
    LogEdit edit;
    if (paneLength > kPaneLimit) {
        edit.dropFront = kPaneTrim;
        paneLength -= kPaneTrim;
    }

    // Each backspace erases the character before it. One with nothing left before it in the
    // data erases the pane's last character instead; several of those all erase that same
    // character. One stack pass gives the same result as removing the first backspace again
    // and again, without the quadratic cost on long data. Most data has no backspace at all
    // and skips the pass.
    std::string kept;
    std::string_view rest = data;
    if (data.find(kBackspace) != std::string_view::npos) {
        kept.reserve(data.size());
        for (const char c : data) {
            if (c != kBackspace) {
                kept.push_back(c);
            } else if (!kept.empty()) {
                kept.pop_back();
            } else if (paneLength > 0) {
                edit.replaceLast = true;
            }
        }
        rest = kept;
    }

    // Line feeds go (a CR LF pair from the line would otherwise break twice); each carriage
    // return becomes the pane's line break. The text between them is copied a run at a time,
    // the next CR and the next LF each found with memchr.
    const char* const begin = rest.data();
    const char* const end = begin + rest.size();
    const auto next = [end](const char* from, char c) {
        const void* found = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    edit.text.resize(rest.size() +
                     static_cast<std::size_t>(std::count(begin, end, kCarriageReturn)));
    char* out = edit.text.data();
    const char* nextReturn = next(begin, kCarriageReturn);
    const char* nextFeed = next(begin, kLineFeed);
    for (const char* run = begin;;) {
        const char* const stop = std::min(nextReturn, nextFeed);
        out = std::copy(run, stop, out);
        if (stop == end) {
            break;
        }
        if (stop == nextReturn) {
            *out++ = kCarriageReturn;
            *out++ = kLineFeed;
            nextReturn = next(stop + 1, kCarriageReturn);
        } else {
            nextFeed = next(stop + 1, kLineFeed);
        }
        run = stop + 1;
    }
    edit.text.resize(static_cast<std::size_t>(out - edit.text.data()));
    return edit;
}

void applyEdit(std::string& pane, const LogEdit& edit) {
    if (edit.dropFront > 0) {
        pane.erase(0, frontCut(pane, edit.dropFront));
    }
    if (edit.replaceLast) {
        pane.resize(pane.size() - lastCut(pane));
    }
    pane += edit.text;
}

void applyEdit(std::string& pane, const PaneEdit& edit) {
    const std::size_t front = std::min(edit.dropFront, pane.size());
    pane.erase(0, front);
    pane.erase(pane.size() - std::min(edit.dropBack, pane.size()));
    pane += edit.text;
}

AppendComposer::AppendComposer(std::string pane)
    : pane_(std::move(pane)), baseLength_(pane_.size()) {}

void AppendComposer::cutFront(std::string& text, std::size_t& start, std::size_t count) {
    // A trim only moves the start; the text itself moves down once the part cut off is well
    // past what is kept, so a flood does not shift the whole pane on every append.
    start += count;
    if (start > 65536 && start > 2 * (text.size() - start)) {
        text.erase(0, start);
        start = 0;
    }
}

void AppendComposer::append(std::string_view data) {
    // The pane is what is left of the starting pane followed by the pending text. The edit's
    // steps go to the pane exactly as applyEdit takes them, and each cut is booked against the
    // pending text as far as it reaches and against the starting pane for the rest.
    const LogEdit edit = planAppend(pane().size(), data);
    if (edit.dropFront > 0) {
        const std::size_t kept = baseLength_ - dropFront_ - dropBack_;
        const std::size_t cut = frontCut(pane(), edit.dropFront);
        const std::size_t fromBase = std::min(cut, kept);
        dropFront_ += fromBase;
        cutFront(text_, textStart_, cut - fromBase);
        cutFront(pane_, paneStart_, cut);
    }
    if (edit.replaceLast) {
        const std::size_t cut = lastCut(pane());
        const std::size_t fromText = std::min(cut, text_.size() - textStart_);
        text_.erase(text_.size() - fromText);
        dropBack_ += cut - fromText;
        pane_.erase(pane_.size() - cut);
    }
    text_ += edit.text;
    pane_ += edit.text;
}

PaneEdit AppendComposer::take() {
    text_.erase(0, textStart_);
    PaneEdit edit{dropFront_, dropBack_, std::move(text_)};
    text_.clear();
    textStart_ = 0;
    dropFront_ = 0;
    dropBack_ = 0;
    baseLength_ = pane().size();
    return edit;
}

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
        if (logical <= textLength) {
            return block.position() + static_cast<int>(logical);
        }
        if (logical <= textLength + 2) {
            return std::min(block.position() + block.length(), document.characterCount() - 1);
        }
        logical -= textLength + 2;
    }
    return document.characterCount() - 1;
}

// QTextCursor::insertText makes a block separator of every CR and every LF, so each CR LF
// pair of the edit must reach it as a single LF.
QString documentText(const std::string& text) {
    QString result = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    result.remove(QLatin1Char(kCarriageReturn));
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
    const LogEdit edit = planAppend(widgetLength(pane), data);
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
    if (!edit.text.empty()) {
        cursor.insertText(documentText(edit.text));
    }
    cursor.endEditBlock();

    pane.moveCursor(QTextCursor::End);
}

} // namespace seriallink

#include "appendlog.moc"
