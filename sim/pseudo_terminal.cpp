#include "sim/pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::open(std::string& error) {
    close();
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        close();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return fail("posix_openpt");
    if (::grantpt(master_) != 0)
        return fail("grantpt");
    if (::unlockpt(master_) != 0)
        return fail("unlockpt");
    const char* name = ::ptsname(master_);
    if (!name)
        return fail("ptsname");
    device_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return fail(name);
    // grantpt leaves the tty group able to write to it; the amplifier line is ours alone.
    if (::fchmod(slave_, S_IRUSR | S_IWUSR) != 0)
        return fail("fchmod");
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    if (::fcntl(master_, F_SETFL, O_NONBLOCK) != 0 || ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0)
        return fail("fcntl");
    return true;
}

void PseudoTerminal::close() {
    // The slave first: closing the master last is what hangs up the program's side.
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
    device_.clear();
}

} // namespace sim
