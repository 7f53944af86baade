#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// How far a folder item reaches. The default reaches the folder's direct regular files only.
///
/// Globs are fnmatch(3) patterns matched against a path relative to the folder item. A glob
/// without "/" is matched against the last name alone, at any depth ("*.c", "build"); a glob
/// with "/" is matched against the whole relative path with FNM_PATHNAME, so that "*" stops at
/// a "/" ("src/*.c" takes src/a.c, not src/x/a.c). A leading "." is an ordinary character:
/// hidden files and folders match like any other.
struct WalkOptions {
    /// Every sub-folder is walked too, except the folders of version control (.git, .hg, .svn,
    /// .bzr, _darcs, CVS), symlinked folders (never followed) and, without `cross_fs`, folders
    /// on another file system than the folder item.
    bool recursive = false;
    /// When not empty, a file is taken only if its relative path matches one of these.
    std::vector<std::string> include = {};
    /// A file or folder whose relative path matches one of these is left out; a folder left out
    /// is not entered at all.
    std::vector<std::string> exclude = {};
    /// In a recursive walk: enter folders on other file systems (mounts) as well.
    bool cross_fs = false;
    /// In a recursive walk: take files whose first 4096 bytes hold a NUL byte as well. Without
    /// it they are skipped targets: a tree holds images and object files that text rules were
    /// never meant for.
    bool binary = false;

    /// True when a file at `relative` (its path relative to the folder item) is taken.
    bool takes_file(std::string_view relative) const;
    /// True when a folder at `relative` is entered (the rules of version control aside).
    bool enters_folder(std::string_view relative) const;
    /// True for the names of the folders version control keeps its own data in.
    static bool is_version_control(std::string_view name);
    /// True when `glob` matches `relative` under the rule above.
    static bool glob_matches(const std::string& glob, std::string_view relative);
};

}  // namespace wendrel::core
