// The opt-in journal: one CSV line per event of the station, appended to a file and handed to
// the operating system at once, so a line the program acted on survives the program being killed.
#pragma once

#include <QFile>
#include <QObject>
#include <QStringList>

#include <memory>

namespace app {

class Station;

// Lines as the journal writes them:
//
//   2026-12-06T09:20:01.250Z,reading,850,12,1.3,8.12,8.03,8.29,8.05,32.49
//   2026-12-06T09:20:03.004Z,alarm,HIGH VSWR
//   2026-12-06T09:20:03.004Z,band,high
//   2026-12-06T09:20:04.500Z,sent,POWER\r
//   2026-12-06T09:20:00.010Z,port,COM1,opened
//   2026-12-06T09:20:09.500Z,amplifier,silent
class Journal : public QObject {
    Q_OBJECT
public:
    // Opens (creating or appending to) the file; on failure returns null and the reason.
    static std::unique_ptr<Journal> open(const QString& path, QString* error);

    // From now on every reading, alarm, band report, write to the line and port transition that
    // the station records gets its line.
    void follow(const Station& station);

    // One CSV field as the journal writes it. Text from the line may hold anything: control
    // characters are written as \r, \n, \t, \xNN and a backslash as \\, a field that a
    // spreadsheet would take for a formula gets a leading apostrophe, and a field with a comma, a
    // quote or blanks at its ends is quoted.
    static QString field(const QString& text);

private:
    void write(const char* kind, const QStringList& fields);

    QFile file_;
};

} // namespace app
