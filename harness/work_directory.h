// A fresh directory of this process's own (mkdtemp: mode 0700, a name no
// one else holds), made under the system's temporary directory: $TMPDIR
// where it is set, /tmp otherwise. A machine whose /tmp is not writable, or
// not meant for scratch, says where in TMPDIR. The driver reads its station
// files from the current directory, so a run that writes them works in one.
// Header only: the tests, which build where the simulator does not, share it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace jynharness {

// Its full path, or empty when none could be made. `base` empty: the
// system's temporary directory.
inline std::string MakePrivateDirectory(const std::string& prefix, std::string base = {}) {
    std::error_code failed;
    if (base.empty()) base = std::filesystem::temp_directory_path(failed).string();
    if (failed) return std::string();
    std::string pattern = (std::filesystem::path(base) / (prefix + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// Enters a private directory for its lifetime; at the end goes back to
// where the process was and removes the directory with all in it.
class WorkDirectory {
public:
    explicit WorkDirectory(const std::string& prefix, const std::string& base = {}) {
        std::error_code failed;
        const std::filesystem::path here = std::filesystem::current_path(failed);
        const std::string made = MakePrivateDirectory(prefix, base);
        if (made.empty()) return;
        if (failed || chdir(made.c_str()) != 0) {
            std::filesystem::remove_all(made, failed);
            return;
        }
        path_ = made;
        back_ = here.string();
    }
    ~WorkDirectory() {
        if (path_.empty()) return;
        std::error_code ignored;
        // Out of the directory before it goes; nowhere better to go when
        // the old one has gone meanwhile.
        [[maybe_unused]] const int left = chdir(back_.c_str()) == 0 ? 0 : chdir("/");
        std::filesystem::remove_all(path_, ignored);
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string back_;
};

}  // namespace jynharness
