// A fresh directory for one run, made under the system's temporary
// directory: $TMPDIR where it is set, /tmp otherwise. A machine whose /tmp
// is not writable, or not meant for scratch, says where in TMPDIR.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace jyn::testing {

// Its full path, or empty when none could be made.
inline std::string MakePrivateDirectory(const std::string& prefix) {
    std::error_code failed;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(failed);
    if (failed) return std::string();
    std::string pattern = (temp / (prefix + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace jyn::testing
