// A fresh directory made current for a test, the old one restored after.
// The driver reads its station file, and writes its trace, relative to the
// host's current directory; ctest runs tests of one program side by side,
// so each test that writes such files takes a directory of its own.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace jyn::testing {

class InDirectory {
public:
    InDirectory() : previous_(std::filesystem::current_path()) {
        std::random_device random;
        dir_ = std::filesystem::temp_directory_path() /
               ("jyn-test-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    ~InDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(dir_, ignored);
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

    bool Write(const std::string& name, const std::string& content) const {
        std::ofstream out(dir_ / name, std::ios::binary);
        out << content;
        return static_cast<bool>(out);
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

}  // namespace jyn::testing
