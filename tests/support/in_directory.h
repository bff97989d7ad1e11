// A fresh directory made current for a test, the old one restored after.
// The driver reads its station file, and writes its trace, relative to the
// host's current directory; ctest runs tests of one program side by side,
// so each test that writes such files takes a directory of its own.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace jyn::testing {

class InDirectory {
public:
    InDirectory() : previous_(std::filesystem::current_path()) {
        // A name no other test process took first: create_directory says
        // false for one that exists (and some platforms' random_device
        // gives every process the same numbers).
        std::random_device random;
        const std::filesystem::path temp = std::filesystem::temp_directory_path();
        bool made = false;
        for (int attempt = 0; attempt < 1000 && !made; ++attempt) {
            dir_ = temp / ("jyn-test-" + std::to_string(random()) + "-" + std::to_string(random()));
            made = std::filesystem::create_directory(dir_);
        }
        // Never another test's directory: the test fails here instead.
        if (!made) throw std::runtime_error("no private directory under " + temp.string());
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

    bool MakeDirectory(const std::string& name) const {
        std::error_code failed;
        return std::filesystem::create_directory(dir_ / name, failed);
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

}  // namespace jyn::testing
