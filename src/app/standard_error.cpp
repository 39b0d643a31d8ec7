#include "standard_error.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

namespace app {

namespace {

const char* tag = "wattmeter";

// Whether standard error is the stream that systemd handed us for its journal: JOURNAL_STREAM
// holds that stream's device and inode, which a redirect of ours would change.
bool toTheJournal() {
    static const bool journal = [] {
        const char* stream = std::getenv("JOURNAL_STREAM");
        unsigned long long device = 0, inode = 0;
        struct stat status {};
        return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
               ::fstat(2, &status) == 0 && status.st_dev == device && status.st_ino == inode;
    }();
    return journal;
}

} // namespace

void setProgramTag(const char* name) {
    tag = name;
}

void say(Severity severity, const QString& line) {
    static const char* const kPriorities[] = {"<3>", "<4>", "<6>"};
    const QByteArray text =
        (toTheJournal() ? QByteArray(kPriorities[int(severity)]) : QByteArray()) + tag + ": " +
        line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace app
