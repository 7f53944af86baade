#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "folder_syncer.h"
#include "match_options.h"
#include "new_content.h"

namespace wendrel::core {

class FileSystem;
struct StreamResult;

/// A target's content as loaded, with what is needed to write it back safely.
struct LoadedFile {
    std::string content;
    struct stat info {};  // of the file as it was loaded (after following symlinks)
};

/// Loading and safe write-back of target files, and folder listing, over a FileSystem.
/// Every function returns 0 or the first errno met, and never blocks on special files.
class FileStore {
  public:
    explicit FileStore(FileSystem& fs) : fs_(fs), folder_syncer_(fs) {}

    /// Byte length of a regular file (symlinks followed) that can be opened for reading.
    std::optional<std::uint64_t> loadable_size(const std::string& path);

    /// Reads a whole regular file. Folders, FIFOs, devices and sockets are refused unopened
    /// or unread, so a load never blocks.
    int load(const std::string& path, LoadedFile& file);

    /// Runs one entry over a regular file while reading it once, without holding it in
    /// memory or writing anything (EntryPass::stream): `found` tells what a rewrite would do.
    /// Refuses what load() refuses; `info` describes the file as read.
    int scan(const std::string& path, const Entry& entry, MatchOptions options, StreamResult& found,
             struct stat& info);

    /// Replaces the file's content atomically: a new file beside the final target of any
    /// symlink chain is written, synced and renamed over it, then the folder is synced.
    /// A file that already holds the new content is left untouched.
    /// Refuses (and changes nothing) when the file is not writable or no longer the one that
    /// was loaded (`loaded` is LoadedFile::info). A FileRewrite is made from the file itself,
    /// read once more while the new file is written.
    int write_back(const std::string& path, const NewContent& content, const struct stat& loaded);

    /// Full paths of the regular files of a folder (hidden ones too; symlinks to regular
    /// files count), sorted by name in byte order. Sub-folders and special files are left out.
    /// Files named like our write-backs' new files (half-written, or left by a crash) are
    /// left out: no job ever works on another's file before it is in place.
    int list_folder(const std::string& folder, std::vector<std::string>& paths);

    /// True for a name of the form every write-back gives its new file until it is renamed.
    static bool is_temp_name(std::string_view name);

  private:
    /// The new content given as pieces to be written one after the other.
    int write_pieces_back(const std::string& path, std::span<const std::string_view> content,
                          const struct stat& loaded);
    /// The file itself with one entry applied while it is copied.
    int rewrite_from_file(const std::string& path, const FileRewrite& rewrite,
                          const struct stat& loaded);
    /// True when the file at `path` holds exactly the pieces of `content`, `size` bytes.
    bool holds(const std::string& path, std::span<const std::string_view> content,
               std::size_t size);
    /// The final path of `path` (symlinks followed) and its stat, unless it is no longer the
    /// regular file that was loaded.
    int find_unchanged(const std::string& path, const struct stat& loaded, std::string& final_path,
                       struct stat& now);
    /// Puts a new file with the content `write_content` writes in place of `final_path`.
    int replace(const std::string& final_path, const struct stat& loaded, const struct stat& now,
                const std::function<int(int fd)>& write_content);
    /// Makes, writes and syncs a new file named `temp_name` in the open folder `folder`.
    int write_temp_beside(int folder, const std::function<int(int fd)>& write_content,
                          const struct stat& original, std::string& temp_name);

    FileSystem& fs_;
    FolderSyncer folder_syncer_;
};

}  // namespace wendrel::core
