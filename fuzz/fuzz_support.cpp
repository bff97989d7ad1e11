#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "harness/work_directory.h"
#include "interface/log.h"

namespace jynfuzz {

namespace {

std::size_t g_messages = 0;
std::string g_folder;
std::vector<std::string> g_files;

int FormattingSink(int level, const char* format, ...) {
    Check(level == 8 || level == 32, "a message with a level the host does not know");
    char text[2048];
    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Check(length >= 0, "a message that does not format");
    Check(std::strncmp(text, "JYNMB> ", 7) == 0 || std::strncmp(text, "JYNMB: ", 7) == 0,
          "a message without the driver's prefix");
    ++g_messages;
    return 0;
}

void RemoveFolder() {
    for (const std::string& file : g_files) std::remove((g_folder + "/" + file).c_str());
    if (!g_folder.empty()) rmdir(g_folder.c_str());
}

// Memory-backed when the machine has it: the station file fuzzer writes a
// file per input, and a journalled disk makes that the whole cost.
std::string TemporaryBase() {
    if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

}  // namespace

void InstallLogSink() { jyn::SetLogSink(&FormattingSink); }
std::size_t MessagesLogged() { return g_messages; }

void EnterPrivateFolder(const std::vector<std::string>& files) {
    g_folder = jynharness::MakePrivateDirectory("jyn-fuzz", TemporaryBase());
    Check(!g_folder.empty(), "no private folder");
    g_files = files;
    Check(chdir(g_folder.c_str()) == 0, "cannot enter the private folder");
    std::atexit(&RemoveFolder);
}

}  // namespace jynfuzz
