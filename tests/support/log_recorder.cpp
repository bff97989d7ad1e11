#include "tests/support/log_recorder.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "interface/log.h"

namespace jyn::testing {

namespace {

std::mutex g_mutex;
std::vector<LogLine> g_lines;

int Record(int level, const char* format, ...) {
    char text[2048];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({level, text});
    return 0;
}

}  // namespace

LogRecorder::LogRecorder() {
    Clear();
    SetLogSink(&Record);
}

LogRecorder::~LogRecorder() { SetLogSink(nullptr); }

std::vector<LogLine> LogRecorder::Lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

std::vector<std::string> LogRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const LogLine& line : Lines()) texts.push_back(line.text);
    return texts;
}

bool LogRecorder::Has(int level, const std::string& text) const {
    for (const LogLine& line : Lines()) {
        if (line.level == level && line.text == text) return true;
    }
    return false;
}

std::size_t LogRecorder::Count(const std::string& text) const {
    std::size_t count = 0;
    for (const LogLine& line : Lines()) count += line.text == text ? 1 : 0;
    return count;
}

void LogRecorder::Clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}

std::string LogRecorder::Dump() const {
    std::string out;
    for (const LogLine& line : Lines()) {
        out += "  [" + std::to_string(line.level) + "] " + line.text + "\n";
    }
    return out;
}

}  // namespace jyn::testing
