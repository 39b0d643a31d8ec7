#include "link/appendlog.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

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
    // and again, without the quadratic cost on long data.
    std::string kept;
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

    // Line feeds go (a CR LF pair from the line would otherwise break twice); each carriage
    // return becomes the pane's line break.
    edit.text.reserve(kept.size() + kept.size() / 8);
    for (const char c : kept) {
        if (c == kLineFeed) {
            continue;
        }
        edit.text.push_back(c);
        if (c == kCarriageReturn) {
            edit.text.push_back(kLineFeed);
        }
    }
    return edit;
}

void applyEdit(std::string& pane, const LogEdit& edit) {
    if (edit.dropFront > 0) {
        std::size_t cut = std::min(edit.dropFront, pane.size());
        if (cut > 0 && cut < pane.size() && pane[cut - 1] == kCarriageReturn &&
            pane[cut] == kLineFeed) {
            ++cut;
        }
        pane.erase(0, cut);
    }
    if (edit.replaceLast && !pane.empty()) {
        pane.resize(pane.size() - (endsWithLineBreak(pane) ? 2 : 1));
    }
    pane += edit.text;
}

std::size_t paneLength(const QPlainTextEdit& pane) {
    const QTextDocument* document = pane.document();
    // characterCount() includes the separator after the last block, which the text lacks;
    // every other separator stands for two characters.
    return static_cast<std::size_t>(document->characterCount() - 1 + document->blockCount() - 1);
}

QString paneText(const QPlainTextEdit& pane) {
    // toRawText, not toPlainText: the latter turns a received no-break space into a blank.
    QString text = pane.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    return text;
}

namespace {

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
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        if (c != kCarriageReturn) {
            result.append(QLatin1Char(c));
        }
    }
    return result;
}

} // namespace

void appendlog(QPlainTextEdit& pane, std::string_view data) {
    const LogEdit edit = planAppend(paneLength(pane), data);
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
