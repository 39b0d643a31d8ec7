// The process's CPU time so far, user and system, in seconds: tests check with it that a
// failing device does not leave the program spinning.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>

inline double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
#endif
