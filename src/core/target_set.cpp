#include "target_set.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <unordered_set>
#include <utility>

#include "file_store.h"
#include "file_system.h"
#include "folder_walker.h"

namespace wendrel::core {
namespace {

using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> identity_of(FileSystem& fs, const std::string& path) {
    struct stat info {};
    if (fs.stat(path, &info) != 0) {
        return std::nullopt;
    }
    return Identity{info.st_dev, info.st_ino};
}

// The path made absolute against `cwd`, with "//", "/./", ".." and a trailing "/" collapsed,
// from the text alone, without asking the file system about any of its folders.
std::string normal_path(const std::string& path, const std::string& cwd) {
    const std::filesystem::path whole =
        path.starts_with('/') || cwd.empty() ? path : cwd + '/' + path;
    std::string normal = whole.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    return normal;
}

// Files given by name. A name whose file exists stands for that file, however a target spells
// or links to it; a name that exists nowhere can only stand for a path, which a target may
// spell another way.
struct NameSet {
    std::unordered_set<std::string> exact;
    std::set<Identity> files;
    std::unordered_set<std::string> missing;  // normal paths of the names that name nothing

    void add(FileSystem& fs, const std::string& name, const std::string& cwd) {
        exact.insert(name);
        if (const auto id = identity_of(fs, name)) {
            files.insert(*id);
        } else {
            missing.insert(normal_path(name, cwd));
        }
    }
    bool names(const std::string& path, const std::optional<Identity>& id,
               const std::string& cwd) const {
        return exact.contains(path) || (id && files.contains(*id)) ||
               (!missing.empty() && missing.contains(normal_path(path, cwd)));
    }
};

// Only the last name of `path` is looked at: the folders before it are the folder item as the
// user wrote it. A file that cannot be stat'ed is left to fail its load.
bool is_foreign_link(FileSystem& fs, const std::string& path) {
    struct stat link {};
    struct stat file {};
    return fs.fstatat(AT_FDCWD, path, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode) &&
           fs.stat(path, &file) == 0 && link.st_uid != file.st_uid;
}

// How a path became a target.
struct Origin {
    bool in_folder = false;  // found in a folder rather than named
    bool binary = false;     // found binary by a recursive walk
};

// The direct files of `folder` that `walk`'s globs take (their relative path is their name).
int list_direct(FileStore& store, const std::string& folder, const WalkOptions& walk,
                std::vector<std::string>& files) {
    if (const int error = store.list_folder(folder, files)) {
        return error;
    }
    std::erase_if(files, [&walk](const std::string& path) {
        return !walk.takes_file(std::string_view(path).substr(path.rfind('/') + 1));
    });
    return 0;
}

}  // namespace

TargetSet TargetSet::build(FileSystem& fs, FileStore& store, const std::vector<SourceItem>& items,
                           const std::vector<std::string>& except, const std::string& content_file,
                           const WalkOptions& walk) {
    std::string cwd;
    if (fs.realpath(".", cwd) != 0) {
        cwd.clear();  // relative names are then compared as relative paths
    }
    NameSet left_out;
    for (const auto& name : except) {
        left_out.add(fs, name, cwd);
    }
    NameSet content;
    if (!content_file.empty()) {  // entries given directly come from no file
        content.add(fs, content_file, cwd);
    }

    TargetSet set;
    std::vector<Origin> origins;  // one per path
    for (const auto& item : items) {
        if (!item.folder) {
            set.paths_.push_back(item.path);
            origins.push_back({});
            continue;
        }
        // A folder that cannot be listed adds nothing: no file outside it may become a target.
        if (!walk.recursive) {
            std::vector<std::string> files;
            if (const int error = list_direct(store, item.path, walk, files)) {
                set.unreadable_.emplace_back(item.path, error);
                continue;
            }
            set.paths_.insert(set.paths_.end(), files.begin(), files.end());
            origins.resize(set.paths_.size(), {true, false});
            continue;
        }
        FolderWalker::Result found;
        if (const int error = FolderWalker(fs, walk).walk(item.path, found)) {
            set.unreadable_.emplace_back(item.path, error);
            continue;
        }
        set.unreadable_.insert(set.unreadable_.end(), found.unreadable.begin(),
                               found.unreadable.end());
        for (auto& file : found.files) {
            set.paths_.push_back(std::move(file.path));
            origins.push_back({true, file.binary});
        }
    }

    // A file that cannot be stat'ed has no identity and is never a duplicate: its load fails
    // and is reported on its own.
    std::map<Identity, std::string> processed;  // and the first path that reached each
    // A skipped link claims no identity, so the file it reaches is still processed when a
    // target names it.
    const auto decide = [&](const std::string& path, Origin origin) {
        const auto id = identity_of(fs, path);
        if (left_out.names(path, id, cwd)) {
            return Skip::excluded;
        }
        if (content.names(path, id, cwd)) {
            return Skip::content_file;
        }
        if (origin.in_folder && is_foreign_link(fs, path)) {
            return Skip::foreign_link;
        }
        // Like a skipped link, it claims no identity: a target naming the file still takes it.
        if (origin.binary) {
            return Skip::binary;
        }
        if (!id) {
            return Skip::none;
        }
        const auto [first, added] = processed.emplace(*id, path);
        // Asked again of both names at once: an inode number freed by another program's
        // rewrite of the first file may have been given to a new file under this name.
        if (!added && identity_of(fs, first->second) == identity_of(fs, path)) {
            return Skip::duplicate;
        }
        first->second = path;
        return Skip::none;
    };
    set.skips_.reserve(set.paths_.size());
    for (std::size_t i = 0; i < set.paths_.size(); ++i) {
        set.skips_.push_back(decide(set.paths_[i], origins[i]));
    }
    return set;
}

}  // namespace wendrel::core
