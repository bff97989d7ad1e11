// Records every message the driver sends to the host's err, formatted, with
// its level. Only one recorder is active at a time.
#pragma once

#include <string>
#include <vector>

namespace jyn::testing {

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine& other) const {
        return level == other.level && text == other.text;
    }
};

class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::vector<LogLine> Lines() const;
    std::vector<std::string> Texts() const;
    bool Has(int level, const std::string& text) const;
    std::size_t Count(const std::string& text) const;
    void Clear();
    std::string Dump() const;  // for failure messages
};

}  // namespace jyn::testing
