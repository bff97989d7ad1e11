// A private temporary directory that becomes the current directory for a
// while: the driver reads its station file from the current directory, and
// the demo must neither find nor leave a stray one anywhere else.
#pragma once

#include <filesystem>
#include <string>

namespace jynmb {

class PrivateDirectory {
public:
    PrivateDirectory() = default;
    // Goes back to the directory it came from and removes everything in it.
    ~PrivateDirectory();
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    // Makes a new directory under the system's temporary directory, readable
    // by its owner only, and changes into it.
    bool Enter(const std::string& prefix, std::string& error);
    const std::filesystem::path& Path() const { return path_; }
    bool WriteFile(const std::string& name, const std::string& text, std::string& error) const;

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

}  // namespace jynmb
