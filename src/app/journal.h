// The opt-in journal: one CSV line per event of the station, appended to a file and handed to
// the operating system at once, so a line the program acted on survives the program being killed.
// Each line is made, time stamp included, when its event happens; the file (journal_file.h) may
// hold it a while when it cannot be written.
#pragma once

#include "app/journal_file.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace app {

class Station;

// Lines as the journal writes them:
//
//   2026-12-06T09:20:01.250Z,reading,850,12,1.3,8.12,8.03,8.29,8.05,32.49
//   2026-12-06T09:20:02.100Z,reading,,14,1.3,,,,,          (a scan that found REV and VSWR)
//   2026-12-06T09:20:03.004Z,alarm,HIGH VSWR
//   2026-12-06T09:20:03.004Z,band,high
//   2026-12-06T09:20:04.500Z,sent,POWER\r      (a poll only while the amplifier is not answering)
//   2026-12-06T09:20:00.010Z,port,COM1,opened
//   2026-12-06T09:20:09.500Z,amplifier,silent
//   2026-12-06T09:20:11.020Z,remote,RESET,sent
//   2026-12-06T09:20:19.500Z,live,no,amplifier silent    (and live,yes when they are again)
class Journal : public QObject {
    Q_OBJECT
public:
    // Opens (creating or appending to) the file; on failure returns null and the reason. A file
    // that stops taking lines later is reported on standard error, once when it stops and once
    // when it takes them again.
    static std::unique_ptr<Journal> open(const QString& path, QString* error);

    // From now on every reading, alarm, band report, write to the line (but a poll while the
    // amplifier answers), port transition, silence and change between live and stale readings
    // that the station records gets its line; and the station holds whether the file takes them.
    void follow(Station& station);

    // One CSV field as the journal writes it. Text from the line may hold anything: control
    // characters are written as \r, \n, \t, \xNN and a backslash as \\, a field that a
    // spreadsheet would take for a formula gets a leading apostrophe, and a field with a comma, a
    // quote or blanks at its ends is quoted.
    static QString field(const QString& text);

    // After a rotation: the file closed and its path opened again.
    void reopen() { file_->reopenPath(); }
    // Every line written and synced, at a clean stop.
    void flush() { file_->flush(); }

private:
    void write(const char* kind, const QStringList& fields);
    void report(); // the file's state, to the station

    Station* station_ = nullptr;
    std::unique_ptr<JournalFile> file_;
};

} // namespace app
