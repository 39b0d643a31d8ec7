// The opt-in journal: one CSV line per event, appended to a file and handed to the operating
// system at once, so a line the program acted on survives the program being killed. Each line
// is made, time stamp included, when its event happens; the file (journal_file.h) may hold it a
// while when it cannot be written.
#pragma once

#include "app/journal_file.h"

#include <QStringList>

#include <memory>

namespace app {

// Lines as the journal writes them:
//
//   2026-12-06T09:20:01.250Z,reading,850,12,1.3,8.12,8.03,8.29,8.05,32.49
//   2026-12-06T09:20:03.004Z,alarm,HIGH VSWR
//   2026-12-06T09:20:03.004Z,band,high
//   2026-12-06T09:20:04.500Z,sent,POWER\r
//   2026-12-06T09:20:00.010Z,port,COM1,opened
class Journal {
public:
    // Opens (creating or appending to) the file; on failure returns null and the reason. A file
    // that stops taking lines later is reported on standard error, once when it stops and once
    // when it takes them again.
    static std::unique_ptr<Journal> open(const QString& path, QString* error);

    JournalFile& file() { return *file_; }

    void reading(const QStringList& displays); // forward, reflected, VSWR, I1-I4, total
    void alarm(const QString& text);
    void band(bool high);
    void sent(const QByteArray& bytes);
    void port(int n, const QString& what, const QString& detail = {});

    // One CSV field as the journal writes it. Text from the line may hold anything: control
    // characters are written as \r, \n, \t, \xNN and a backslash as \\, a field that a
    // spreadsheet would take for a formula gets a leading apostrophe, and a field with a comma, a
    // quote or blanks at its ends is quoted.
    static QString field(const QString& text);

private:
    void write(const char* kind, const QStringList& fields);

    std::unique_ptr<JournalFile> file_;
};

} // namespace app
