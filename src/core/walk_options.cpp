#include "walk_options.h"

#include <fnmatch.h>

#include <algorithm>
#include <array>

namespace wendrel::core {
namespace {

bool any_matches(const std::vector<std::string>& globs, std::string_view relative) {
    return std::ranges::any_of(globs, [relative](const std::string& glob) {
        return WalkOptions::glob_matches(glob, relative);
    });
}

}  // namespace

bool WalkOptions::glob_matches(const std::string& glob, std::string_view relative) {
    if (glob.find('/') == std::string::npos) {
        const std::size_t slash = relative.rfind('/');
        const std::string name(slash == std::string_view::npos ? relative
                                                               : relative.substr(slash + 1));
        return ::fnmatch(glob.c_str(), name.c_str(), 0) == 0;
    }
    return ::fnmatch(glob.c_str(), std::string(relative).c_str(), FNM_PATHNAME) == 0;
}

bool WalkOptions::takes_file(std::string_view relative) const {
    return !any_matches(exclude, relative) && (include.empty() || any_matches(include, relative));
}

bool WalkOptions::enters_folder(std::string_view relative) const {
    return !any_matches(exclude, relative);
}

bool WalkOptions::is_version_control(std::string_view name) {
    static constexpr std::array<std::string_view, 6> kNames = {".git", ".hg",    ".svn",
                                                               ".bzr", "_darcs", "CVS"};
    return std::ranges::find(kNames, name) != kNames.end();
}

}  // namespace wendrel::core
