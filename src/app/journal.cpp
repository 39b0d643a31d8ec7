#include "journal.h"

#include "standard_error.h"
#include "station.h"
#include "station_json.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

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
        if (failing)
            say(Severity::Error,
                QStringLiteral("the journal %1 cannot be written: %2; its lines wait in memory")
                    .arg(file.path(), file.reason()));
        else
            say(Severity::Info,
                QStringLiteral("the journal %1 is written again; lines lost meanwhile: %2")
                    .arg(file.path())
                    .arg(file.lost() - lostBefore));
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
    QString out = escaped(text);
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
    if (file_->failing())
        report(); // one more line waiting
}

void Journal::report() {
    if (!station_)
        return;
    Station::Journal journal;
    journal.state = file_->failing() ? Station::Journal::Failing : Station::Journal::Ok;
    journal.file = QFileInfo(file_->path()).fileName();
    if (file_->failing()) {
        journal.failingSince = file_->failingSince().toMSecsSinceEpoch();
        journal.reason = file_->reason();
    }
    journal.waiting = file_->waiting();
    journal.lost = file_->lost();
    station_->recordJournal(journal);
}

void Journal::follow(Station& station) {
    station_ = &station;
    report();
    connect(file_.get(), &JournalFile::changed, this, &Journal::report);
    static const char* const kPortEvents[] = {"opened", "failed",   "closed",
                                              "lost",   "reopened", "not reopened"};
    connect(&station, &Station::portChanged, this, [this](const PortEvent& event) {
        QStringList fields{event.name, QLatin1String(kPortEvents[event.kind])};
        if (!event.detail.isEmpty())
            fields << event.detail;
        write("port", fields);
    });
    // A poll the amplifier answers is told by its reading line; the unanswered ones are the
    // evidence of a silence and keep theirs.
    connect(&station, &Station::written, this,
            [this, &station](const QByteArray& bytes, Origin origin) {
                if (origin == Origin::Poll && station.replies().state == Amplifier::Answering)
                    return;
                write("sent", {QString::fromLatin1(bytes)});
            });
    connect(
        &station, &Station::readingsChanged, this,
        [this, &station] {
            // What one scan found; the fields it did not find stay empty.
            QStringList fields;
            for (const std::optional<Field>& found : station.readings().scan)
                fields << (found ? found->text : QString());
            write("reading", fields);
        });
    connect(
        &station, &Station::alarmLogged, this,
        [this](const AlarmLine& line) { write("alarm", {line.text}); });
    connect(&station, &Station::bandReported, this, [this](bool high) {
        write("band", {high ? QStringLiteral("high") : QStringLiteral("low")});
    });
    // Commands from afar, carried out or not; the window's are in the sent lines.
    connect(
        &station, &Station::commandHandled, this,
        [this](const CommandRecord& command) {
            if (command.from != Origin::Remote)
                return;
            QStringList fields{QString::fromLatin1(command.text), command.refusal
                                                                      ? QStringLiteral("refused")
                                                                      : QStringLiteral("sent")};
            if (command.refusal)
                fields << QLatin1String(kRefusalNames[int(*command.refusal)]);
            if (command.count > 1) // refusals summed up
                fields << QString::number(command.count);
            write("remote", fields);
        });
    connect(&station, &Station::liveChanged, this, [this, &station] {
        if (const std::optional<Stale> stale = station.staleBecause())
            write("live", {QStringLiteral("no"), QLatin1String(kStaleReasons[int(*stale)])});
        else
            write("live", {QStringLiteral("yes")});
    });
    // A silence begins, and ends when it is over; a port that closes makes it unknown instead.
    connect(&station, &Station::amplifierChanged, this, [this, &station](Amplifier before) {
        const Amplifier now = station.replies().state;
        if (now == Amplifier::Silent ||
            (now == Amplifier::Answering && before == Amplifier::Silent))
            write("amplifier", {now == Amplifier::Silent ? QStringLiteral("silent")
                                                         : QStringLiteral("answering")});
    });
}

} // namespace app
