// The journal's file that cannot write: it says so, and keeps every line, in order and whole.
#include "app/journal_file.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

QByteArray lines(int from, int to) {
    QByteArray out;
    for (int i = from; i < to; ++i)
        out += QByteArray::number(1000 + i) + ",reading" + QByteArray(47, ',') + '\n';
    return out;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "missing";
}

std::unique_ptr<app::JournalFile> open(const QString& path, std::chrono::milliseconds sync) {
    auto file = app::JournalFile::open(path, nullptr);
    file->setSyncInterval(sync);
    file->setRetryInterval(std::chrono::milliseconds(10));
    return file;
}

} // namespace

class tst_journal_file : public QObject {
    Q_OBJECT
private slots:
    void fullFilesystemLosesNothing_data();
    void fullFilesystemLosesNothing();
    void folderRemovedAndMadeAgain();
};

void tst_journal_file::fullFilesystemLosesNothing_data() {
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("a small filesystem fills up, then grows") << true;
    QTest::newRow("the file size limit cuts the first line, then is raised") << false;
}

void tst_journal_file::fullFilesystemLosesNothing() {
    QFETCH(bool, tmpfs);
    QTemporaryDir dir;
    const QString path = dir.path() + "/journal.csv";
    const QByteArray at = QFile::encodeName(dir.path());
    rlimit size{};
    ::getrlimit(RLIMIT_FSIZE, &size);
    if (tmpfs && ::mount("none", at, "tmpfs", 0, "size=4k") != 0)
        QSKIP("no private mount namespace here (unshare -rm)");
    const auto restore =
        qScopeGuard([&] { tmpfs ? ::umount(at) : ::setrlimit(RLIMIT_FSIZE, &size); });
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{30, size.rlim_max}; // within the first line
    QVERIFY(tmpfs || ::setrlimit(RLIMIT_FSIZE, &small) == 0);
    auto file = open(path, std::chrono::hours(1)); // retried all the same
    QSignalSpy changed(file.get(), &app::JournalFile::changed);
    file->setQueueLimit(20);
    for (int i = 0; i < 100; ++i)
        file->append(lines(i, i + 1));
    QCOMPARE(file->reason(), qt_error_string(tmpfs ? ENOSPC : EFBIG));
    const int written = int(contents(path).count('\n'));
    QCOMPARE(contents(path), lines(0, written)); // the line cut short is gone
    QCOMPARE(file->lost(), quint64(80 - written));
    QVERIFY(tmpfs ? ::mount("none", at, "tmpfs", MS_REMOUNT, "size=8k") == 0
                  : ::setrlimit(RLIMIT_FSIZE, &size) == 0);
    QTRY_VERIFY(!file->failing());
    QCOMPARE(contents(path), lines(0, written) + lines(80, 100));
    QCOMPARE(changed.count(), 1 + int(file->lost()) + 1); // failing, each line lost, written
}

void tst_journal_file::folderRemovedAndMadeAgain() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/journal.csv";
    auto file = open(path, std::chrono::milliseconds(10));
    file->append("1\n");
    QVERIFY(dir.remove());
    QTRY_VERIFY(file->failing()); // with no line to write
    QCOMPARE(file->reason(), qt_error_string(ENOENT));
    file->append("2\n");
    QVERIFY(QDir().mkpath(dir.path()));
    QTRY_COMPARE(contents(path), "2\n");
    QVERIFY(dir.remove() && !file->failing());
    file->append("3\n"); // before it goes to a file nobody will read
    QVERIFY(file->failing() && QDir().mkpath(dir.path()));
    QTRY_COMPARE(contents(path), "3\n");
}

QTEST_GUILESS_MAIN(tst_journal_file)
#include "tst_journal_file.moc"
