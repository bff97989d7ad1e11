#include <cstdio>

#include "host/jynmb/commands/commands.h"

namespace jynmb {

bool Args::Flag(const std::string& name) {
    for (auto it = words_.begin(); it != words_.end(); ++it) {
        if (*it == name) {
            words_.erase(it);
            return true;
        }
    }
    return false;
}

bool Args::Option(const std::string& name, std::string& value) {
    const std::string prefix = name + "=";
    for (auto it = words_.begin(); it != words_.end(); ++it) {
        if (it->compare(0, prefix.size(), prefix) == 0) {
            value = it->substr(prefix.size());
            words_.erase(it);
            return true;
        }
        if (*it == name) {
            if (it + 1 == words_.end()) {
                error_ = "option " + name + " needs a value";
                words_.erase(it);
                return false;
            }
            value = *(it + 1);
            words_.erase(it, it + 2);
            return true;
        }
    }
    return false;
}

std::string Args::UnknownOption() const {
    for (const std::string& word : words_) {
        if (word.size() > 1 && word[0] == '-') return word;
    }
    return std::string();
}

std::string Args::Leftover(bool wordsAllowed) const {
    if (!error_.empty()) return error_;
    const std::string unknown = UnknownOption();
    if (!unknown.empty()) return "unknown option '" + unknown + "'";
    if (!wordsAllowed && !words_.empty()) return "unexpected '" + words_.front() + "'";
    return std::string();
}

int UsageError(const char* command, const std::string& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "jynmb %s: %s (see 'jynmb %s --help')\n", command, error.c_str(), command);
    return kExitUsage;
}

}  // namespace jynmb
