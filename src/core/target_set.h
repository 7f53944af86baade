#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "field_parser.h"
#include "walk_options.h"

namespace wendrel::core {

class FileStore;
class FileSystem;

/// The job's targets in processing order, and which of them are skipped when their turn
/// comes. A file is known by what it is (device and inode, symlinks followed), not by how it
/// is spelled, so that no file is rewritten twice and none that is to be left alone is
/// rewritten at all. A symlink that a folder holds is followed only when its owner also owns
/// the file it reaches: whoever can write to a shared folder can plant a link there to a file
/// that is not theirs, and a job run by root would rewrite that file. This is the rule the
/// kernel applies to links in sticky folders (fs.protected_symlinks). A link the user names
/// as a file item is the user's choice and is followed.
class TargetSet {
  public:
    enum class Skip {
        none,          // processed
        excluded,      // the same file as a name of the exclusion field
        content_file,  // the replacement-content file: the job only reads it
        duplicate,     // the same file as an earlier target, which processes it
        foreign_link,  // found in a folder item: a symlink whose owner does not own its file
        binary,        // found in a recursive walk: a NUL in its first bytes (WalkOptions::binary)
    };

    /// Lists the files of `items` (FieldParser::source_items order) and decides every skip.
    /// Folder items reach as far as `walk` says; the files of one folder item are in byte
    /// order of their paths. Identities are taken now, before any file is rewritten: a rewrite
    /// puts a new inode under the path.
    static TargetSet build(FileSystem& fs, FileStore& store, const std::vector<SourceItem>& items,
                           const std::vector<std::string>& except, const std::string& content_file,
                           const WalkOptions& walk = {});

    std::size_t size() const { return paths_.size(); }
    const std::string& operator[](std::size_t i) const { return paths_[i]; }
    const std::vector<std::string>& paths() const { return paths_; }
    Skip skip(std::size_t i) const { return skips_[i]; }
    /// Folder items (as written, without the "*") whose folder could not be listed, each with
    /// the errno of the listing; in a recursive walk, sub-folders too (the item's path, "/",
    /// and the path below it), whose files are left out while the rest is walked.
    const std::vector<std::pair<std::string, int>>& unreadable_folders() const {
        return unreadable_;
    }

  private:
    std::vector<std::string> paths_;
    std::vector<Skip> skips_;  // one per path
    std::vector<std::pair<std::string, int>> unreadable_;
};

}  // namespace wendrel::core
