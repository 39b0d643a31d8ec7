#include "journal.h"

#include <QDateTime>

namespace app {

std::unique_ptr<Journal> Journal::open(const QString& path, QString* error) {
    auto journal = std::make_unique<Journal>();
    journal->file_.setFileName(path);
    // Unbuffered: each line goes to the operating system in one write as it is made.
    if (!journal->file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = journal->file_.errorString();
        return nullptr;
    }
    return journal;
}

namespace {

bool isNumber(const QString& text) {
    bool ok = false;
    text.toDouble(&ok);
    return ok;
}

} // namespace

QString Journal::field(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out += QLatin1String("\\\\");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F)
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    // A spreadsheet would run a cell that starts like a formula; text from the line must not.
    static const QString formulaStarts = QStringLiteral("=+-@");
    if (!out.isEmpty() && formulaStarts.contains(out.front()) && !isNumber(out))
        out.prepend(u'\'');
    if (out.contains(u',') || out.contains(u'"') || out.startsWith(u' ') || out.endsWith(u' '))
        out = u'"' + out.replace(u'"', QLatin1String("\"\"")) + u'"';
    return out;
}

void Journal::write(const char* kind, const QStringList& fields) {
    QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    line += u',';
    line += QLatin1String(kind);
    for (const QString& f : fields) {
        line += u',';
        line += field(f);
    }
    line += u'\n';
    // A full disk loses the line, never the program.
    file_.write(line.toUtf8());
}

void Journal::reading(const QStringList& displays) {
    write("reading", displays);
}

void Journal::alarm(const QString& text) {
    write("alarm", {text});
}

void Journal::band(bool high) {
    write("band", {high ? QStringLiteral("high") : QStringLiteral("low")});
}

void Journal::sent(const QByteArray& bytes) {
    write("sent", {QString::fromLatin1(bytes)});
}

void Journal::port(int n, const QString& what, const QString& detail) {
    QStringList fields{QStringLiteral("COM%1").arg(n), what};
    if (!detail.isEmpty())
        fields << detail;
    write("port", fields);
}

} // namespace app
