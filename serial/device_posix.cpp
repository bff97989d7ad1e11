// Serial devices on POSIX (Linux): termios in raw mode, reads bounded by one
// total time-out measured on the monotonic clock, exclusive opens with flock
// and TIOCEXCL. Port names: "NUL" is /dev/null, a name that begins with '/'
// is a path, any other name is taken under /dev/ (ttyUSB0, pts/3).
#include "serial/device_posix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include "interface/baud_rates.h"
#include "serial/device.h"

namespace jyn::device {

namespace {

using Clock = std::chrono::steady_clock;

// Writes have no time-out of their own on the line; this guard only keeps a
// port whose output is held off (a handshake line that never comes) from
// blocking the host forever. The write then reports what went out.
constexpr uint32_t kWriteGuardMs = 5000;

// A reply comes as a burst and the driver reads it one byte a call; asking
// the kernel for one byte at a time would cost a system call per byte. A
// read takes whatever is waiting into this buffer and the following reads
// are served from it. For the driver those bytes are still input waiting on
// the port: ClearErrors counts them and the purge reads them like the rest.
constexpr uint32_t kReadAheadSize = 512;

struct ReadAhead {
    unsigned char bytes[kReadAheadSize];
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t Size() const { return end - start; }
};

struct PosixPort {
    int fd = -1;  // -1 once a close found the descriptor already gone
    bool isTty = false;
    // The terminal settings the device had before the driver set its own;
    // put back on close, so that a terminal the user named as the port is
    // not left raw and without echo.
    bool haveOriginal = false;
    termios original{};
    Timeouts timeouts;
    ReadAhead ahead;
};

static_assert(sizeof(termios) <= sizeof(LineSettings::native), "termios must fit");

PosixPort* Port(Handle handle) { return static_cast<PosixPort*>(handle); }

std::string DevicePath(const char* name) {
    if (std::strcmp(name, "NUL") == 0) return "/dev/null";
    if (name[0] == '/') return name;
    return std::string("/dev/") + name;
}

struct BaudCode {
    uint32_t rate;
    speed_t code;
};

#define JYN_BAUD_CODE(rate) {rate, B##rate},
constexpr BaudCode kBaudCodes[] = {JYN_POSIX_BAUD_RATES(JYN_BAUD_CODE)};
#undef JYN_BAUD_CODE

bool SpeedCode(uint32_t rate, speed_t& code) {
    for (const BaudCode& entry : kBaudCodes) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

uint32_t SpeedRate(speed_t code) {
    for (const BaudCode& entry : kBaudCodes) {
        if (entry.code == code) return entry.rate;
    }
    return 0;
}

bool CharacterSize(uint8_t bits, tcflag_t& flag) {
    switch (bits) {
        case 5: flag = CS5; return true;
        case 6: flag = CS6; return true;
        case 7: flag = CS7; return true;
        case 8: flag = CS8; return true;
        default: return false;
    }
}

bool ParityFlags(uint8_t parity, tcflag_t& flags) {
    switch (parity) {
        case 0: flags = 0; return true;
        case 1: flags = PARENB | PARODD; return true;
        case 2: flags = PARENB; return true;
        case 3: flags = PARENB | PARODD | CMSPAR; return true;  // mark
        case 4: flags = PARENB | CMSPAR; return true;           // space
        default: return false;
    }
}

// One and a half stop bits exist only with 5-bit characters, where the UART
// sends them for CSTOPB.
bool StopFlags(uint8_t stopBits, uint8_t byteSize, tcflag_t& flags) {
    switch (stopBits) {
        case 0: flags = 0; return true;
        case 1: flags = CSTOPB; return byteSize == 5;
        case 2: flags = CSTOPB; return true;
        default: return false;
    }
}

void MakeRaw(termios& tio) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | IGNPAR | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

// A pseudo-terminal has no modem lines and no RS-485 mode: those calls fail
// there, and that is not an error of the port.
void SetModemLine(int fd, int line, bool on) { ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line); }

void SetRs485(int fd, bool toggle) {
    serial_rs485 rs485{};
    if (ioctl(fd, TIOCGRS485, &rs485) != 0) return;
    const bool enabled = (rs485.flags & SER_RS485_ENABLED) != 0;
    if (toggle == enabled) return;
    if (toggle) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
    } else {
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
    }
    ioctl(fd, TIOCSRS485, &rs485);
}

void ApplyControlLines(int fd, const LineSettings& settings) {
    // Linux has no DTR handshake; DTR is held on so the far end sees us ready.
    SetModemLine(fd, TIOCM_DTR, settings.dtrControl != kLineDisable);
    SetRs485(fd, settings.rtsControl == kLineToggle);
    if (settings.rtsControl == kLineEnable) SetModemLine(fd, TIOCM_RTS, true);
    if (settings.rtsControl == kLineDisable) SetModemLine(fd, TIOCM_RTS, false);
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    // Round up so that poll never returns just before the deadline.
    const auto ms = (left.count() + 999) / 1000;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Waits until the descriptor is ready for `events` or the deadline passes.
// False on an error of the device (hang-up included).
bool WaitReady(int fd, short events, Clock::time_point deadline, bool& timedOut) {
    timedOut = false;
    for (;;) {
        const int ms = RemainingMs(deadline);
        if (ms == 0) {
            timedOut = true;
            return true;
        }
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (ready == 0) continue;  // the deadline is checked at the top
        if (entry.revents & (POLLERR | POLLNVAL)) return false;
        if (entry.revents & events) return true;
        if (entry.revents & POLLHUP) return false;
    }
}

uint32_t TakeAhead(ReadAhead& ahead, unsigned char* to, uint32_t count) {
    const uint32_t n = std::min(count, ahead.Size());
    std::memcpy(to, ahead.bytes + ahead.start, n);
    ahead.start += n;
    if (ahead.start == ahead.end) ahead.start = ahead.end = 0;
    return n;
}

// One read of the device, made only when the read-ahead buffer is empty. A
// read as large as the buffer (the purge's) goes straight to the caller.
ssize_t ReadDevice(PosixPort& port, unsigned char* to, uint32_t count) {
    if (count >= kReadAheadSize) return ::read(port.fd, to, count);
    const ssize_t n = ::read(port.fd, port.ahead.bytes, kReadAheadSize);
    if (n <= 0) return n;
    port.ahead.start = 0;
    port.ahead.end = static_cast<uint32_t>(n);
    return static_cast<ssize_t>(TakeAhead(port.ahead, to, count));
}

}  // namespace

bool Open(const char* name, Handle& out) {
    out = nullptr;
    const std::string path = DevicePath(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;

    struct stat info {};
    const bool isNull = path == "/dev/null";
    // Only character devices are ports: never write frames into a plain file.
    bool ok = fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
    // The null device is shared by nature; every real line is ours alone.
    if (ok && !isNull) ok = flock(fd, LOCK_EX | LOCK_NB) == 0;
    auto* port = ok ? new (std::nothrow) PosixPort : nullptr;
    if (port == nullptr) {
        ::close(fd);
        return false;
    }
    port->fd = fd;
    port->isTty = isatty(fd) != 0;
    if (port->isTty) {
        ioctl(fd, TIOCEXCL);
        port->haveOriginal = tcgetattr(fd, &port->original) == 0;
    }
    out = port;
    return true;
}

// A failed close keeps the handle with the host (the port stays set and the
// host may read, reopen or end with it), so the record must outlive it.
// Linux releases the descriptor even when close reports an error; only a
// descriptor that was already bad (closed behind the driver's back) is a
// failure. Its number may be handed to another file of the host at any time,
// so the record forgets it: later calls fail instead of touching that file,
// and the next close, with nothing left to give back, frees the record.
bool Close(Handle handle) {
    PosixPort* port = Port(handle);
    if (port == nullptr) return false;
    if (port->fd < 0) {
        delete port;
        return true;
    }
    if (port->isTty) {
        // TCSANOW: output held off by flow control must not block the close.
        if (port->haveOriginal) tcsetattr(port->fd, TCSANOW, &port->original);
        ioctl(port->fd, TIOCNXCL);
    }
    if (::close(port->fd) != 0 && errno == EBADF) {
        port->fd = -1;
        port->ahead = ReadAhead{};
        return false;
    }
    delete port;
    return true;
}

// Close keeps the record of a descriptor that was closed behind its back,
// so that the host may close again; a record nobody will close again goes,
// and its descriptor number, which may be another file's now, is left alone.
void Abandon(Handle handle) { delete Port(handle); }

bool GetLineSettings(Handle handle, LineSettings& settings) {
    PosixPort* port = Port(handle);
    termios tio{};
    if (port == nullptr || tcgetattr(port->fd, &tio) != 0) return false;
    settings.baudRate = SpeedRate(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
        case CS5: settings.byteSize = 5; break;
        case CS6: settings.byteSize = 6; break;
        case CS7: settings.byteSize = 7; break;
        default: settings.byteSize = 8; break;
    }
    settings.parity = 0;
    if (tio.c_cflag & PARENB) {
        const bool odd = (tio.c_cflag & PARODD) != 0;
        if (tio.c_cflag & CMSPAR) {
            settings.parity = odd ? 3 : 4;
        } else {
            settings.parity = odd ? 1 : 2;
        }
    }
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    settings.parityCheck = (tio.c_iflag & INPCK) != 0;
    settings.outX = (tio.c_iflag & IXON) != 0;
    settings.inX = (tio.c_iflag & IXOFF) != 0;
    settings.rtsControl = (tio.c_cflag & CRTSCTS) ? kLineHandshake : kLineDisable;
    std::memcpy(settings.native, &tio, sizeof tio);
    return true;
}

bool ToTermios(const LineSettings& settings, termios& tio) {
    std::memcpy(&tio, settings.native, sizeof tio);
    speed_t speed = B0;
    tcflag_t size = 0;
    tcflag_t parity = 0;
    tcflag_t stop = 0;
    if (!SpeedCode(settings.baudRate, speed) || !CharacterSize(settings.byteSize, size) ||
        !ParityFlags(settings.parity, parity) ||
        !StopFlags(settings.stopBits, settings.byteSize, stop)) {
        return false;
    }
    MakeRaw(tio);
    tio.c_cflag |= size | parity | stop;
    if (settings.parityCheck && parity != 0) tio.c_iflag |= INPCK;
    if (settings.outX) tio.c_iflag |= IXON;
    if (settings.inX) tio.c_iflag |= IXOFF;
    if (settings.rtsControl == kLineHandshake) tio.c_cflag |= CRTSCTS;
    return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}

bool SetLineSettings(Handle handle, const LineSettings& settings) {
    PosixPort* port = Port(handle);
    termios tio{};
    if (port == nullptr || !ToTermios(settings, tio)) return false;
    if (tcsetattr(port->fd, TCSANOW, &tio) != 0) return false;
    ApplyControlLines(port->fd, settings);
    return true;
}

bool GetTimeouts(Handle handle, Timeouts& timeouts) {
    PosixPort* port = Port(handle);
    if (port == nullptr) return false;
    timeouts = port->timeouts;
    return true;
}

bool SetTimeouts(Handle handle, const Timeouts& timeouts) {
    PosixPort* port = Port(handle);
    if (port == nullptr) return false;
    port->timeouts = timeouts;
    return true;
}

// The kernel's tty buffers have a fixed size.
bool SetupQueues(Handle handle, uint32_t, uint32_t) { return Port(handle) != nullptr; }

bool ClearErrors(Handle handle, uint32_t& queuedInput) {
    queuedInput = 0;
    PosixPort* port = Port(handle);
    int queued = 0;
    if (port == nullptr || ioctl(port->fd, FIONREAD, &queued) != 0) return false;
    queuedInput = (queued > 0 ? static_cast<uint32_t>(queued) : 0) + port->ahead.Size();
    return true;
}

bool Read(Handle handle, void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    PosixPort* port = Port(handle);
    if (port == nullptr) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(port->timeouts.readTotalConstant);
    got = TakeAhead(port->ahead, bytes, count);
    while (got < count) {
        const ssize_t n = ReadDevice(*port, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // A tty in raw mode answers 0 when nothing is waiting; any other
        // device (the null device) has reached its end and gives no more.
        if (n == 0 && !port->isTty) return true;
        bool timedOut = false;
        if (!WaitReady(port->fd, POLLIN, deadline, timedOut)) return false;
        if (timedOut) return true;
    }
    return true;
}

namespace {

constexpr uint64_t kFirstSendStepMicros = 50;
constexpr uint64_t kLongestSendStepMicros = 20000;

uint64_t MicrosSince(Clock::time_point epoch) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch).count());
}

// The port's own output queue. A pseudo-terminal hands bytes straight to
// its other end and always reports an empty queue.
class PortQueue : public SendQueue {
public:
    explicit PortQueue(int fd) : fd_(fd), epoch_(Clock::now()) {}
    int Queued() override {
        int queued = 0;
        return ioctl(fd_, TIOCOUTQ, &queued) == 0 ? queued : -1;
    }
    uint64_t NowMicros() override { return MicrosSince(epoch_); }
    void SleepMicros(uint64_t micros) override {
        const timespec pause{static_cast<time_t>(micros / 1000000),
                             static_cast<long>((micros % 1000000) * 1000)};
        nanosleep(&pause, nullptr);
    }

private:
    int fd_;
    Clock::time_point epoch_;
};

// Start, data, parity and stop bits: 11 is the longest character there is.
uint64_t CharMicros(int fd) {
    termios tio{};
    const uint32_t rate = tcgetattr(fd, &tio) == 0 ? SpeedRate(cfgetospeed(&tio)) : 0;
    return rate != 0 ? 11000000u / rate : 0;
}

}  // namespace

bool WaitUntilSent(SendQueue& queue, uint64_t charMicros, uint64_t deadlineMicros) {
    uint64_t step = kFirstSendStepMicros;
    for (;;) {
        const int queued = queue.Queued();
        if (queued <= 0) return true;
        const uint64_t now = queue.NowMicros();
        if (now >= deadlineMicros) return false;
        const uint64_t expected = static_cast<uint64_t>(queued) * charMicros;
        const uint64_t pause =
            std::min({step, std::max(expected, kFirstSendStepMicros), deadlineMicros - now});
        queue.SleepMicros(pause);
        step = std::min(step * 2, kLongestSendStepMicros);
    }
}

bool Write(Handle handle, const void* buffer, uint32_t count, uint32_t& written) {
    written = 0;
    PosixPort* port = Port(handle);
    if (port == nullptr) return false;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const uint32_t guard =
        port->timeouts.writeTotalConstant != 0 ? port->timeouts.writeTotalConstant : kWriteGuardMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(guard);
    while (written < count) {
        const ssize_t n = ::write(port->fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        bool timedOut = false;
        if (!WaitReady(port->fd, POLLOUT, deadline, timedOut)) return false;
        if (timedOut) return true;
    }
    if (port->isTty) {
        PortQueue queue(port->fd);
        const uint64_t left = static_cast<uint64_t>(RemainingMs(deadline)) * 1000;
        WaitUntilSent(queue, CharMicros(port->fd), queue.NowMicros() + left);
    }
    return true;
}

unsigned HandleNumber(Handle handle) {
    PosixPort* port = Port(handle);
    return port != nullptr ? static_cast<unsigned>(port->fd) : 0u;
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace jyn::device
