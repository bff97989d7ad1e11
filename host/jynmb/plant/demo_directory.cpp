#include "host/jynmb/plant/demo_directory.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

namespace jynmb {

namespace fs = std::filesystem;

namespace {

constexpr int kNameAttempts = 100;

std::string RandomSuffix(std::mt19937_64& random) {
    char text[20];
    std::snprintf(text, sizeof text, "%08llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
    return text;
}

}  // namespace

bool PrivateDirectory::Enter(const std::string& prefix, std::string& error) {
    std::error_code code;
    previous_ = fs::current_path(code);
    const fs::path base = fs::temp_directory_path(code);
    if (code) {
        error = "no temporary directory: " + code.message();
        return false;
    }
    std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < kNameAttempts && path_.empty(); ++attempt) {
        const fs::path candidate = base / (prefix + RandomSuffix(random));
        if (fs::create_directory(candidate, code)) path_ = candidate;
    }
    if (path_.empty()) {
        error = "cannot make a directory in " + base.string() + ": " + code.message();
        return false;
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, code);
    fs::current_path(path_, code);
    if (code) {
        error = "cannot change into " + path_.string() + ": " + code.message();
        return false;
    }
    return true;
}

bool PrivateDirectory::WriteFile(const std::string& name, const std::string& text,
                                 std::string& error) const {
    std::ofstream file(path_ / name, std::ios::binary);
    file << text;
    file.close();
    if (!file) error = "cannot write " + (path_ / name).string();
    return static_cast<bool>(file);
}

PrivateDirectory::~PrivateDirectory() {
    if (path_.empty()) return;
    std::error_code code;
    if (!previous_.empty()) fs::current_path(previous_, code);
    fs::remove_all(path_, code);
}

}  // namespace jynmb
