// Test shim, preloaded into a host process (LD_PRELOAD): a Linux
// pseudo-terminal forces 8 data bits and no parity whatever the host asks,
// so the simulator on its other end cannot see them. Around tcsetattr this
// writes what the host asked for, "/dev/pts/3 19200,7E2", into the file
// JYN_HOST_FORMAT_FILE names, where the simulator reads it (--host-format).
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

using TcSetAttr = int (*)(int, int, const termios*);

struct Speed {
    speed_t code;
    unsigned baud;
};
const Speed kSpeeds[] = {{B50, 50},        {B75, 75},       {B110, 110},     {B134, 134},
                         {B150, 150},      {B200, 200},     {B300, 300},     {B600, 600},
                         {B1200, 1200},    {B1800, 1800},   {B2400, 2400},   {B4800, 4800},
                         {B9600, 9600},    {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
                         {B115200, 115200}};

unsigned BaudOf(speed_t code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.code == code) return speed.baud;
    }
    return 0;
}

char ParityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) return 'N';
    if ((cflag & CMSPAR) != 0) return (cflag & PARODD) != 0 ? 'M' : 'S';
    return (cflag & PARODD) != 0 ? 'O' : 'E';
}

int DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

// Written beside and renamed over: the simulator reads one whole line.
void Record(int fd, const termios& tio) {
    const char* path = getenv("JYN_HOST_FORMAT_FILE");
    char name[256];
    if (path == nullptr || ttyname_r(fd, name, sizeof name) != 0) return;
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.%ld", path, static_cast<long>(getpid()));
    FILE* file = fopen(temporary, "w");
    if (file == nullptr) return;
    fprintf(file, "%s %u,%d%c%d\n", name, BaudOf(cfgetospeed(&tio)), DataBitsOf(tio.c_cflag),
            ParityOf(tio.c_cflag), (tio.c_cflag & CSTOPB) != 0 ? 2 : 1);
    if (fclose(file) == 0) rename(temporary, path);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int tcsetattr(int fd, int actions,
                                                                const termios* tio) {
    static const auto real = reinterpret_cast<TcSetAttr>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (real == nullptr) return -1;
    const int result = real(fd, actions, tio);
    if (result == 0 && tio != nullptr) Record(fd, *tio);
    return result;
}
