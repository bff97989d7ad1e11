// Port causes on Linux: the device as the driver names it (NUL, a path, or a
// name under /dev/), opened the way the driver opens it: read and write,
// exclusive by flock and TIOCEXCL, with termios line settings.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/jynmb/platform/port_check.h"
#include "interface/baud_rates.h"

namespace jynmb {

namespace {

// The speeds termios has a setting for, up to the largest the host's 16-bit
// field can carry: the driver sets exactly these.
const auto& kBaudRates = jyn::kPosixBaudRates;

std::string DevicePath(const std::string& name) {
    if (name == "NUL") return "/dev/null";
    if (!name.empty() && name[0] == '/') return name;
    return "/dev/" + name;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISREG(mode)) return "a plain file";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a device";
}

// "1234 (jynmb poll --port /tmp/plc1 ...)": the command line, its program
// without the folder.
std::string ProcessName(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t program = line.find('\0');
    const std::size_t slash = line.rfind('/', program);
    if (slash != std::string::npos) line.erase(0, slash + 1);
    for (char& c : line) c = c == '\0' ? ' ' : c;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    constexpr std::size_t kShown = 60;
    if (line.size() > kShown) line = line.substr(0, kShown) + " ...";
    return line.empty() ? pid : pid + " (" + line + ")";
}

// The processes that hold the device's lock, from the kernel's table of
// locks: "1: FLOCK  ADVISORY  WRITE 8200 00:19:3 0 EOF".
std::vector<std::string> LockHolders(const struct stat& device) {
    std::vector<std::string> holders;
    char node[64];
    std::snprintf(node, sizeof node, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                  static_cast<unsigned long long>(device.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        char kind[16], mode[16], access[16], id[64];
        long pid = 0;
        if (std::sscanf(line.c_str(), "%*s %15s %15s %15s %ld %63s", kind, mode, access, &pid,
                        id) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(id, node) == 0 && pid > 0) {
            holders.push_back(ProcessName(std::to_string(pid)));
        }
    }
    return holders;
}

PortCause Held(const std::string& path) {
    struct stat device {};
    std::vector<std::string> holders;
    if (stat(path.c_str(), &device) == 0) holders = LockHolders(device);
    std::string who = "another process (the system does not say which; try fuser -v " + path + ")";
    if (!holders.empty()) {
        who = "process " + holders[0];
        for (std::size_t i = 1; i < holders.size(); ++i) who += ", process " + holders[i];
    }
    return {path + " is held by " + who,
            "stop it first (a running 'jynmb poll', a terminal program, another host instance), "
            "or use another port"};
}

std::string NameOf(const group* entry, gid_t id) {
    return entry != nullptr ? entry->gr_name : std::to_string(id);
}

PortCause Denied(const std::string& path, const struct stat& info) {
    const std::string group = NameOf(getgrgid(info.st_gid), info.st_gid);
    const passwd* owner = getpwuid(info.st_uid);
    const std::string user = owner != nullptr ? owner->pw_name : std::to_string(info.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const std::string cause = "permission denied on " + path + " (owner " + user + ", group " +
                              group + ", mode " + mode + ")";
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        return {cause, "add the user to group " + group + " (usermod -aG " + group +
                           " USER, then log in again)"};
    }
    return {cause, "only " + user + " may open it: run as " + user +
                       ", or have a udev rule give the device to a group of yours"};
}

// The device itself: there, a character device, ours to open, a serial port.
void CheckDevice(const std::string& path, std::vector<PortCause>& causes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        struct stat link {};
        char target[PATH_MAX] = "";
        if (errno == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
            readlink(path.c_str(), target, sizeof target - 1) > 0) {
            causes.push_back({path + " is a link to " + target + ", which is gone",
                              "start the simulator again (jynmb sim --link " + path +
                                  "), or point the link at the port"});
        } else if (errno == ENOENT) {
            causes.push_back({"no such device " + path,
                              "check the port name: serial ports are ttyS0.., USB adapters "
                              "ttyUSB0.. (ls /dev/ttyS* /dev/ttyUSB*)"});
        } else {
            causes.push_back({path + ": " + std::strerror(errno), "check the path"});
        }
        return;
    }
    if (!S_ISCHR(info.st_mode)) {
        causes.push_back({path + " is " + FileKind(info.st_mode) + ", not a character device",
                          "give the serial port's device: ttyS0, ttyUSB0, pts/3, or a link to it"});
        return;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            causes.push_back(Denied(path, info));
        } else if (errno == EBUSY) {
            causes.push_back(Held(path));
        } else {
            causes.push_back({path + " does not open: " + std::strerror(errno),
                              "check the device and its cable or adapter"});
        }
        return;
    }
    if (path != "/dev/null" && flock(fd, LOCK_EX | LOCK_NB) != 0) causes.push_back(Held(path));
    termios tio{};
    if (path != "/dev/null" && tcgetattr(fd, &tio) != 0) {
        causes.push_back({path + " is a character device but no serial port (no line settings)",
                          "give the serial port's device: ttyS0, ttyUSB0, pts/3"});
    }
    close(fd);  // lets go of the lock as well
}

void CheckLine(const jynhost::LineSettings& line, std::vector<PortCause>& causes) {
    if (!DriverSetsRate(line.baudRate)) {
        causes.push_back(
            {"the system has no setting for " + std::to_string(line.baudRate) + " baud",
             "use the link module's rate, one of " + DriverBaudRates()});
    }
    constexpr uint16_t kOneAndAHalf = 1;
    if (line.stopBits == kOneAndAHalf && line.dataBits != 5) {
        causes.push_back({"1.5 stop bits exist only with 5 data bits", "use --stop-bits 1 or 2"});
    }
}

}  // namespace

std::vector<PortCause> DiagnosePort(const std::string& name, const jynhost::LineSettings& line) {
    std::vector<PortCause> causes;
    if (!jynhost::PortNameFits(name)) {
        causes.push_back({"the port name " + Quoted(name) + " has " + std::to_string(name.size()) +
                              " characters, more than the driver's 11",
                          "give it a short name: a link (ln -s " + name +
                              " /tmp/plc1), or its name under /dev/ without /dev/ (ttyUSB0)"});
        return causes;
    }
    if (name == "NUL") return causes;
    CheckDevice(DevicePath(name), causes);
    CheckLine(line, causes);
    return causes;
}

std::vector<unsigned> DriverBaudList() {
    return std::vector<unsigned>(std::begin(kBaudRates), std::end(kBaudRates));
}

}  // namespace jynmb
