// The journal's file, written so that a full disk, a pulled stick or a removed folder neither
// loses lines silently nor leaves a line cut in half. Lines that cannot be written wait in
// memory, in order and up to a bound, and go out as soon as the file takes them again. One
// timer syncs the data and checks the file while all is well, and retries it while it fails,
// so a dead device shows within seconds instead of when the program ends.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>

namespace app {

class JournalFile : public QObject {
    Q_OBJECT
public:
    // Opens (creating or appending to) the file; null and the reason when the path cannot be
    // opened at all.
    static std::unique_ptr<JournalFile> open(const QString& path, QString* error);
    ~JournalFile() override;

    void append(QByteArray line); // one whole line ending in '\n'
    // Closes the file and opens its path again, as a rotation's SIGHUP asks; the file is also
    // opened again by itself within a second of its path naming another file.
    void reopenPath();
    // Every line on the disk, as at a clean stop.
    void flush() { tick(); }

    // From the first failure until every waiting line is written and synced.
    bool failing() const { return failing_; }
    QDateTime failingSince() const { return failingSince_; }
    QString reason() const { return reason_; } // the system's words for the latest failure
    qsizetype waiting() const { return qsizetype(waiting_.size()); }
    quint64 lost() const { return lost_; } // oldest lines dropped beyond the bound
    QString path() const { return path_; }

    // Tests make these short or small.
    void setSyncInterval(std::chrono::milliseconds interval);
    void setRetryInterval(std::chrono::milliseconds interval);
    void setQueueLimit(qsizetype limit);

signals:
    void changed(); // failing began or ended, or lost grew

private:
    explicit JournalFile(const QString& path, int fd);

    bool reopen(bool lookAtPath);
    bool writeOut(bool lookAtPath = false);
    bool writeLine(const QByteArray& line);
    bool sync();
    bool fail(int error);
    void tick();

    QString path_;
    int fd_ = -1;
    bool unsynced_ = false;
    std::deque<QByteArray> waiting_;
    qsizetype limit_ = 10000;
    quint64 lost_ = 0;
    bool failing_ = false;
    QDateTime failingSince_;
    QString reason_;
    std::chrono::milliseconds syncInterval_{1000};
    std::chrono::milliseconds retryInterval_{3000};
    QTimer timer_;
};

} // namespace app
