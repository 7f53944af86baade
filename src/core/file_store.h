#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "file_descriptor.h"
#include "folder_syncer.h"
#include "match_options.h"
#include "new_content.h"

namespace wendrel::core {

class EncodedRules;
class FileSystem;
class JournalWriter;

/// A target's content as loaded, with what is needed to write it back safely.
struct LoadedFile {
    std::string content;
    struct stat info {};  // of the file as it was loaded (after following symlinks), ctime too
    /// For a rewrite: the file itself, open and locked against other jobs from before it is
    /// read until its write-back has ended, so the file written is the file read.
    FileDescriptor held;
};

/// Loading and safe write-back of target files, and folder listing, over a FileSystem.
/// Every function returns 0 or the first errno met, and never blocks on special files.
class FileStore {
  public:
    explicit FileStore(FileSystem& fs) : fs_(fs), folder_syncer_(fs) {}

    /// A file loaded for `rewrite` is opened for writing too and locked (an exclusive
    /// open-file-description lock, which needs a descriptor open for writing) before it is
    /// read: one locked by another job is refused unread with EAGAIN. A file this process may
    /// not open for writing is read unlocked: its write-back is refused all the same.
    enum class Purpose { read, rewrite };

    /// Byte length of a regular file (symlinks followed) that can be opened for reading.
    std::optional<std::uint64_t> loadable_size(const std::string& path);

    /// Reads a whole regular file. Folders, FIFOs, devices and sockets are refused unopened
    /// or unread, so a load never blocks.
    int load(const std::string& path, LoadedFile& file, Purpose purpose = Purpose::read);

    /// 0 when a write-back of `path` would be let through (the file's mode, and this user's
    /// access to it and to its folder), else why not: what a dry run tells of a file it would
    /// change.
    int check_writable(const std::string& path);

    /// Opens and locks a regular file for rewriting, as load() does, without reading it.
    int hold(const std::string& path, LoadedFile& file);

    /// Every later write-back keeps the file it replaces in `journal` first (null: none).
    void set_journal(JournalWriter* journal) { journal_ = journal; }

    /// What one look at a target found, before any write.
    struct Found {
        std::vector<bool> skip;  // per entry: it cannot make a replacement in the file
        ChainResult counted;     // with `count`: what the entries make of the file
        std::shared_ptr<const JobRules> rules;  // the form of the entries the file needs
        TextEncoding encoding;                  // the file is read in
        std::uint64_t text_size = 0;            // of what the entries are matched against

        /// Whether some entry may make a replacement.
        bool any() const { return std::ranges::find(skip, false) != skip.end(); }
    };
    /// Reads a regular file once through the job's prefilter (EntryPrefilter), finding its
    /// encoding as `rules` ask, and, with `count` and when some entry may apply, once more
    /// through its entries (EntryChain) without writing anything, never holding the file in
    /// memory. A file whose text is not its bytes (or that needs other entries than the first
    /// look had) is read once more through the prefilter, as its text. Refuses what load()
    /// refuses. Without `count`, holds the file as a load for rewriting does (`file` gets its
    /// info and descriptor, and no content); with it (a dry run's look, which writes nothing),
    /// reads it unlocked, as a load for reading does. Once `cancel` is set, gives up with
    /// ECANCELED.
    int scan(const std::string& path, const EncodedRules& rules, bool count, Found& found,
             LoadedFile& file, const std::atomic<bool>* cancel = nullptr);

    /// Replaces the file's content atomically: an unnamed new file beside the final target of
    /// any symlink chain is written and synced, named, and exchanged with the target, then the
    /// folder is synced. A file that already holds the new content is left untouched.
    /// Refuses (and changes nothing) when the file is not writable or no longer the one that
    /// was loaded (`loaded` is LoadedFile::info, `held` its descriptor, or -1 to open and lock
    /// the file here). A FileRewrite is made from the file itself, read again through `held`
    /// (decoded and encoded back in the file's own encoding, its byte order mark kept), and is
    /// not put in place when it is the file as it was.
    int write_back(const std::string& path, const NewContent& content, const struct stat& loaded,
                   int held = -1);

    /// Full paths of the regular files of a folder (hidden ones too; symlinks to regular
    /// files count), sorted by name in byte order. Sub-folders and special files are left out.
    /// Files named like our write-backs' new files (half-written, or left by a crash) are
    /// left out: no job ever works on another's file before it is in place.
    int list_folder(const std::string& folder, std::vector<std::string>& paths);

    /// Removes, from the folders the targets' final files are in, the files of the temporary
    /// form that no live job holds: what a job killed between naming its new file and putting
    /// it in place (or removing the old one) left behind.
    void clear_leftovers(const std::vector<std::string>& targets);

    /// True for a name of the form every write-back gives its new file until it is renamed.
    static bool is_temp_name(std::string_view name);

    /// The file's own part of check_writable().
    int may_replace(const std::string& final_path, mode_t mode);

    /// Where a write-back's bytes go: the new file, and the hash the journal records of it.
    struct Sink;

  private:
    /// Opens a regular file for `purpose`, locked for a rewrite (see Purpose).
    int open_target(const std::string& path, Purpose purpose, struct stat& info,
                    FileDescriptor& file);
    /// True when the open file `fd` holds exactly the pieces of `content`, `size` bytes.
    bool holds(int fd, std::span<const std::string_view> content, std::size_t size);
    /// The final path of `path` (symlinks followed) and its stat, unless it is no longer the
    /// regular file that was loaded.
    int find_unchanged(const std::string& path, const struct stat& loaded, std::string& final_path,
                       struct stat& now);
    /// Puts a new file with the content `write_content` writes in place of `final_path`.
    using ContentWriter = std::function<int(Sink& out)>;
    int replace(const std::string& final_path, const struct stat& loaded, const struct stat& now,
                int held, const ContentWriter& write_content);
    /// Makes, writes and syncs a new file in the open folder `folder` and names it `temp_name`
    /// (`made` is its stat), with the mode, owner (as root) and extended attributes of the file
    /// read (`original`, held open as `held`). It has no name while it is written, where the
    /// file system allows.
    int write_new_file(int folder, const ContentWriter& write_content, const struct stat& original,
                       int held, std::string& temp_name, struct stat& made, FileDescriptor& made_fd,
                       std::uint64_t& hash);
    /// Gives the complete unnamed file `fd` a new name of the temporary form.
    int name_unnamed(int folder, int fd, std::string& temp_name);
    /// Swaps the new file `temp` with `name` and keeps the swap only if what it displaced is
    /// the file read (`held`); otherwise the displaced file goes back. Leaves no `temp`.
    /// With a journal, the file read is kept there (as `final_path`, replaced by `made` with
    /// content `hash`) just before the swap.
    int put_in_place(int folder, const std::string& temp, const std::string& name,
                     const struct stat& loaded, int held, const std::string& final_path,
                     const struct stat& made, int made_fd, std::uint64_t hash);
    /// Where names cannot be exchanged: renames `temp` over `name` if it is still the file read.
    int rename_in(int folder, const std::string& temp, const std::string& name,
                  const struct stat& loaded);
    /// Keeps the file read in the journal, if any: true when kept, with its `slot`.
    bool keep_old(int held, const std::string& final_path, const struct stat& read_now,
                  const struct stat& made, std::uint64_t hash, std::size_t& slot,
                  std::uint64_t& line);

    FileSystem& fs_;
    FolderSyncer folder_syncer_;
    JournalWriter* journal_ = nullptr;
};

}  // namespace wendrel::core
