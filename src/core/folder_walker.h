#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "walk_options.h"

namespace wendrel::core {

class FileSystem;

/// Walks a folder and all its sub-folders under WalkOptions, listing sub-folders on several
/// threads at once: a tree on a slow or network disk is mostly waiting for listings. Each
/// folder is opened relative to its parent's descriptor, so no path is looked up twice and
/// paths longer than the system allows are still reached; the type a listing gives saves a stat
/// per entry. The result does not depend on the order the threads found things in.
class FolderWalker {
  public:
    static constexpr std::size_t kDefaultThreads = 4;

    struct File {
        std::string path;     // the folder as given, "/", and the path relative to it
        bool binary = false;  // its first 4096 bytes hold a NUL (never set with options.binary)
    };
    struct Result {
        std::vector<File> files;  // in byte order of path
        /// Sub-folders that could not be opened or listed (full path, errno), in byte order.
        /// Nothing of what they hold is in `files`.
        std::vector<std::pair<std::string, int>> unreadable;
    };

    FolderWalker(FileSystem& fs, const WalkOptions& options, std::size_t threads = kDefaultThreads)
        : fs_(fs), options_(options), threads_(threads == 0 ? 1 : threads) {}

    /// Walks `folder` (a symlink given here is followed: the user named it). 0, or the errno
    /// with which `folder` itself could not be opened or listed, and then `result` is empty.
    /// Symlinked sub-folders are never followed; a symlink to a regular file is a file.
    int walk(const std::string& folder, Result& result);

  private:
    FileSystem& fs_;
    const WalkOptions& options_;
    std::size_t threads_;
};

}  // namespace wendrel::core
