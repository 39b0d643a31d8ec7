#include "journal.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>

namespace app {

namespace {

// The operator who trusts the journal to record must learn when it stops and when it records
// again, but not once per line.
void reportOnStandardError(JournalFile& file) {
    auto report = [&file, failing = false, lostBefore = quint64()]() mutable {
        if (file.failing() == failing)
            return;
        failing = file.failing();
        const QByteArray path = QFile::encodeName(file.path());
        if (failing)
            std::fprintf(stderr,
                         "wattmeter: the journal %s cannot be written: %s; its lines wait in "
                         "memory\n",
                         path.constData(), qPrintable(file.reason()));
        else
            std::fprintf(stderr,
                         "wattmeter: the journal %s is written again; lines lost meanwhile: %llu\n",
                         path.constData(), file.lost() - lostBefore);
        lostBefore = file.lost();
    };
    QObject::connect(&file, &JournalFile::changed, &file, report);
}

} // namespace

std::unique_ptr<Journal> Journal::open(const QString& path, QString* error) {
    auto file = JournalFile::open(path, error);
    if (!file)
        return nullptr;
    reportOnStandardError(*file);
    auto journal = std::make_unique<Journal>();
    journal->file_ = std::move(file);
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
    file_->append(line.toUtf8());
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
