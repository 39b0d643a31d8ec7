#include "journal_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

int openForAppend(const QString& path) {
    int fd = -1;
    do
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                    0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Should the cut fail too, the device is beyond help, and the write's own reason is the one to
// report.
void cutBack(int fd, qsizetype bytes) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    [[maybe_unused]] const int ignored = end >= bytes ? ::ftruncate(fd, off_t(end - bytes)) : -1;
}

} // namespace

std::unique_ptr<JournalFile> JournalFile::open(const QString& path, QString* error) {
    const int fd = openForAppend(path);
    if (fd < 0) {
        if (error)
            *error = qt_error_string(errno);
        return nullptr;
    }
    return std::unique_ptr<JournalFile>(new JournalFile(path, fd));
}

JournalFile::JournalFile(const QString& path, int fd) : path_(path), fd_(fd) {
    connect(&timer_, &QTimer::timeout, this, &JournalFile::tick);
    timer_.start(syncInterval_);
}

JournalFile::~JournalFile() {
    // One last try, so that lines held through a short failure are not lost at exit; whoever
    // follows the signal may already be gone.
    blockSignals(true);
    if (writeOut())
        sync();
    if (fd_ >= 0)
        ::close(fd_);
}

void JournalFile::append(QByteArray line) {
    waiting_.push_back(std::move(line));
    while (qsizetype(waiting_.size()) > limit_) {
        waiting_.pop_front();
        ++lost_;
        emit changed();
    }
    // A failing file is tried on the timer only: a dying device can take long to refuse.
    if (!failing_)
        writeOut();
}

void JournalFile::setSyncInterval(std::chrono::milliseconds interval) {
    syncInterval_ = interval;
    if (!failing_)
        timer_.start(interval);
}

void JournalFile::setRetryInterval(std::chrono::milliseconds interval) {
    retryInterval_ = interval;
    if (failing_)
        timer_.start(interval);
}

void JournalFile::setQueueLimit(qsizetype limit) {
    limit_ = limit;
}

// A file whose folder was removed goes on taking writes that nobody will ever read, and one
// renamed by a rotation takes them under its old name, so the path is followed instead of the
// descriptor: at every write whether the file is still linked, and once a second (lookAtPath)
// whether the path still names it.
bool JournalFile::reopen(bool lookAtPath) {
    struct stat status {
    }, named{};
    if (fd_ >= 0 && ::fstat(fd_, &status) == 0 && status.st_nlink > 0 &&
        (!lookAtPath || (::stat(QFile::encodeName(path_).constData(), &named) == 0 &&
                         named.st_dev == status.st_dev && named.st_ino == status.st_ino)))
        return true;
    if (fd_ >= 0) {
        (void)::fdatasync(fd_); // what went to the old file stays there
        ::close(fd_);
    }
    fd_ = openForAppend(path_);
    return fd_ >= 0 || fail(errno);
}

void JournalFile::reopenPath() {
    if (fd_ >= 0) {
        (void)::fdatasync(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    if (!failing_)
        writeOut();
}

bool JournalFile::writeOut(bool lookAtPath) {
    if (!reopen(lookAtPath))
        return false;
    while (!waiting_.empty()) {
        if (!writeLine(waiting_.front()))
            return false;
        waiting_.pop_front();
        unsynced_ = true;
    }
    return true;
}

// Part of a line would leave the file unreadable as CSV: it is cut off again, and the whole
// line waits with the rest.
bool JournalFile::writeLine(const QByteArray& line) {
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            if (done > 0)
                cutBack(fd_, done);
            return fail(error);
        }
        done += n;
    }
    return true;
}

bool JournalFile::sync() {
    if (!unsynced_)
        return true;
    // Pipes and terminals cannot be synced, and need not be.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        return fail(errno);
    unsynced_ = false;
    return true;
}

// The descriptor is given up: on a pulled stick it never works again, while reopening the path
// finds the stick mounted again, the folder made again or the space freed alike.
bool JournalFile::fail(int error) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    reason_ = qt_error_string(error);
    if (!failing_) {
        failing_ = true;
        failingSince_ = QDateTime::currentDateTimeUtc();
        timer_.start(retryInterval_);
        emit changed();
    }
    return false;
}

void JournalFile::tick() {
    if (!writeOut(true) || !sync() || !failing_)
        return;
    failing_ = false;
    timer_.start(syncInterval_);
    emit changed();
}

} // namespace app
