// LD_PRELOAD shim for the serial monitors that compare_peers.sh measures beside ours.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>

// A pseudo-terminal has no modem lines and no udev entry; some monitors close the port as soon
// as asking for either fails, so on a pseudo-terminal this makes both questions succeed.
//
//   cc -shared -fPIC -O2 -o ptyshim.so ptyshim.c -ldl
static int isModemLineRequest(unsigned long request) {
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);

    const int result = real(fd, request, arg);
    if (result == -1 && (errno == ENOTTY || errno == EINVAL) && isModemLineRequest(request)) {
        // The lines a cable to a powered device would show.
        if (request == TIOCMGET && arg)
            *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        errno = 0;
        return 0;
    }
    return result;
}

// GUdev's types stay opaque here, so the shim builds without its headers.
typedef struct GUdevClient GUdevClient;
typedef struct GUdevDevice GUdevDevice;

GUdevDevice* g_udev_client_query_by_device_file(GUdevClient* client, const char* file) {
    static GUdevDevice* (*real)(GUdevClient*, const char*);
    static GUdevDevice* (*bySysfsPath)(GUdevClient*, const char*);
    if (!real) {
        real = (GUdevDevice * (*)(GUdevClient*, const char*))
            dlsym(RTLD_NEXT, "g_udev_client_query_by_device_file");
        bySysfsPath = (GUdevDevice * (*)(GUdevClient*, const char*))
            dlsym(RTLD_NEXT, "g_udev_client_query_by_sysfs_path");
    }
    GUdevDevice* device = real ? real(client, file) : NULL;
    if (device || !file || strncmp(file, "/dev/pts/", 9) != 0 || !bySysfsPath)
        return device;
    // A pseudo-terminal is no udev device; the terminal multiplexer stands in for it.
    return bySysfsPath(client, "/sys/devices/virtual/tty/ptmx");
}
