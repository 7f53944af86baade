#include "core/folder_walker.h"

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <set>

#include "core/file_store.h"
#include "core/posix_file_system.h"
#include "faulty_file_system.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using core::FolderWalker;
using core::WalkOptions;

// A walk's result relative to the walked folder: "path" per file ("path!" when binary), then
// "?path errno" per sub-folder that could not be listed.
Lines relative(const FolderWalker::Result& result, const std::string& top) {
    Lines out;
    for (const auto& file : result.files) {
        out.push_back(file.path.substr(top.size() + 1) + (file.binary ? "!" : ""));
    }
    for (const auto& [folder, error] : result.unreadable) {
        out.push_back("?" + folder.substr(top.size() + 1) + " " + std::to_string(error));
    }
    return out;
}

// Every file of the tree below, as a plain recursive walk takes it.
const Lines kAll = {".hidden",     "a.txt",    "b-x.txt",  "b/c.txt",  "b/d/e.c",     "blob.bin!",
                    "build/out.c", "late.txt", "linkfile", "locked/y", "src/gen/x.c", "src/main.c"};

enum class Setup { none, lock, mount };

struct WalkRow {
    const char* name;
    WalkOptions options;
    Lines expected;  // as relative() gives it
    Setup setup = Setup::none;
    friend void PrintTo(const WalkRow& row, std::ostream* out) { *out << row.name; }
};

// The globs' and binary rules' other cases are the reference walk's, below.
// clang-format off
const WalkRow kRows[] = {
    {"EveryFileInPathOrder", {.recursive = true}, kAll},
    {"HiddenNamesAreOrdinary", {.recursive = true, .include = {"*hidden", "*/*/?.c"}},
     {".hidden", "b/d/e.c", "src/gen/x.c"}},
    {"UnlistableSubFolder", {.recursive = true},
     {".hidden", "a.txt", "b-x.txt", "b/c.txt", "b/d/e.c", "blob.bin!", "build/out.c", "late.txt", "linkfile",
      "src/gen/x.c", "src/main.c", "?locked 13"}, Setup::lock},
    {"OtherFileSystemNotEntered", {.recursive = true}, kAll, Setup::mount},
    {"OtherFileSystemEntered", {.recursive = true, .cross_fs = true},
     {".hidden", "a.txt", "b-x.txt", "b/c.txt", "b/d/e.c", "blob.bin!", "build/out.c", "late.txt", "linkfile",
      "locked/y", "mnt/m.txt", "src/gen/x.c", "src/main.c"}, Setup::mount},
};
// clang-format on

class FolderWalkerTest : public ::testing::TestWithParam<WalkRow> {
  protected:
    void SetUp() override {
        for (const char* folder :
             {"b", "b/d", ".git", ".svn", "src", "src/gen", "build", "locked", "mnt", "empty"}) {
            dir.make_dir(folder);
        }
        for (const char* file :
             {"a.txt", "b/c.txt", "b/d/e.c", "b-x.txt", ".hidden", ".git/config", ".svn/entries",
              "src/main.c", "src/gen/x.c", "build/out.c", "locked/y", ".wendrel-0a1b2c3d"}) {
            dir.write(file, "text");
        }
        // Only the first 4096 bytes are looked at for a NUL.
        dir.write("blob.bin", std::string(4095, 'x') + std::string(1, '\0'));
        dir.write("late.txt", std::string(4096, 'x') + std::string(1, '\0'));
        check(::symlink("b", (dir / "linkdir").c_str()), "symlink");
        check(::symlink("a.txt", (dir / "linkfile").c_str()), "symlink");
        check(::symlink("nowhere", (dir / "dangling").c_str()), "symlink");
        // A special file below the top: never a target, and never opened (it would block).
        check(::mkfifo((dir / "b/d/pipe").c_str(), 0644), "mkfifo");
    }
    void TearDown() override {
        ::chmod((dir / "locked").c_str(), 0755);
        if (mounted) {
            ::umount2((dir / "mnt").c_str(), MNT_DETACH);
        }
    }

    TempDir dir;
    FaultyFileSystem fs{core::PosixFileSystem::instance()};
    bool mounted = false;
};

TEST_P(FolderWalkerTest, TakesWhatTheOptionsReachInPathOrder) {
    const WalkRow& row = GetParam();
    if (row.setup == Setup::lock) {
        if (::geteuid() == 0) {
            GTEST_SKIP() << "root lists a folder of mode 000 (the fault rows cover it)";
        }
        check(::chmod((dir / "locked").c_str(), 0), "chmod");
    }
    if (row.setup == Setup::mount) {
        if (::mount("wendrel-test", (dir / "mnt").c_str(), "tmpfs", 0, "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted = true;
        dir.write("mnt/m.txt", "text");
    }
    FolderWalker::Result result;
    ASSERT_EQ(FolderWalker(fs, row.options).walk(dir.path(), result), 0);
    EXPECT_EQ(relative(result, dir.path()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderWalkerTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Whichever sub-folder fails, it alone is reported with its errno and everything else is
// walked; the folder itself failing gives its errno and nothing.
TEST_F(FolderWalkerTest, AFailedListingLosesOnlyItsOwnFolder) {
    const WalkOptions options{.recursive = true};
    for (const auto call : {FsCall::list, FsCall::open_folder}) {
        for (int nth = 2; nth <= 6; ++nth) {
            SCOPED_TRACE(std::to_string(static_cast<int>(call)) + " #" + std::to_string(nth));
            fs.fail(call, nth, EIO);
            FolderWalker::Result result;
            ASSERT_EQ(FolderWalker(fs, options).walk(dir.path(), result), 0);
            ASSERT_TRUE(fs.hit);
            ASSERT_EQ(result.unreadable.size(), 1u);
            const std::string lost = result.unreadable[0].first.substr(dir.path().size() + 1);
            Lines expected;
            std::ranges::copy_if(kAll, std::back_inserter(expected), [&](const std::string& file) {
                return !file.starts_with(lost + "/");
            });
            expected.push_back("?" + lost + " " + std::to_string(EIO));
            EXPECT_EQ(relative(result, dir.path()), expected);
        }
    }
    fs.fail(FsCall::list, 1, EACCES);
    FolderWalker::Result result;
    EXPECT_EQ(FolderWalker(fs, options).walk(dir.path(), result), EACCES);
    EXPECT_TRUE(result.files.empty() && result.unreadable.empty());
}

// The same rules written plainly on one thread, from the standard library's walk.
Lines reference_walk(const std::string& top, const WalkOptions& options) {
    const auto matches = [](const std::vector<std::string>& globs, const std::string& path) {
        const std::string name = fs::path(path).filename().string();
        return std::ranges::any_of(globs, [&](const std::string& glob) {
            return glob.find('/') == std::string::npos
                       ? ::fnmatch(glob.c_str(), name.c_str(), 0) == 0
                       : ::fnmatch(glob.c_str(), path.c_str(), FNM_PATHNAME) == 0;
        });
    };
    const std::set<std::string> vcs = {".git", ".hg", ".svn", ".bzr", "_darcs", "CVS"};
    Lines out;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string path = it->path().string().substr(top.size() + 1);
        const std::string name = it->path().filename().string();
        if (it->is_directory() && !it->is_symlink()) {
            if (vcs.contains(name) || matches(options.exclude, path)) {
                it.disable_recursion_pending();
            }
        } else if (it->is_regular_file() && !core::FileStore::is_temp_name(name) &&
                   !matches(options.exclude, path) &&
                   (options.include.empty() || matches(options.include, path))) {
            const std::string head = read_all(it->path()).value_or("").substr(0, 4096);
            out.push_back(path +
                          (!options.binary && head.find('\0') != std::string::npos ? "!" : ""));
        }
    }
    std::ranges::sort(out);
    return out;
}

// Random trees: nesting, names that sort around "/", symlinks to files, folders and nothing,
// empty folders, folders of version control, files of the temporary form, binary files.
TEST(FolderWalkerProperty, MatchesAOneThreadReference) {
    const Lines names = {"a", "b", "a-b", "a.c", ".h", "x y", "CVS", ".git", "src", "z.c"};
    const std::vector<WalkOptions> options = {
        {.recursive = true},
        {.recursive = true, .binary = true},
        {.recursive = true, .include = {"*.c", "a*"}, .exclude = {"src"}},
        {.recursive = true, .include = {"a/*", "*/b"}, .exclude = {"*/a-b", ".*"}},
    };
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };
        TempDir dir;
        Lines folders = {""}, files;
        for (int i = 0; i < 400; ++i) {
            const std::string parent = folders[pick(folders.size())];
            const std::string path = (parent.empty() ? "" : parent + "/") +
                                     names[pick(names.size())] +
                                     (pick(3) == 0 ? "" : std::to_string(pick(40)));
            if (fs::symlink_status(dir / path).type() != fs::file_type::not_found ||
                std::ranges::count(path, '/') > 5) {
                continue;
            }
            const std::size_t kind = pick(20);
            if (kind < 5) {
                dir.make_dir(path);
                folders.push_back(path);
            } else if (kind < 8 && !files.empty()) {
                fs::create_symlink(dir / (kind == 5   ? folders[pick(folders.size())]
                                          : kind == 6 ? files[pick(files.size())]
                                                      : "gone"),
                                   dir / path);
            } else if (kind == 8) {
                dir.write((parent.empty() ? "" : parent + "/") + ".wendrel-" + std::string(8, 'q'),
                          "text");
            } else {
                dir.write(path, kind == 9 ? std::string("a\0b", 3) : "text");
                files.push_back(path);
            }
        }
        ASSERT_GT(reference_walk(dir.path(), options[0]).size(), 100u);  // a tree worth walking
        for (const auto& option : options) {
            const Lines expected = reference_walk(dir.path(), option);
            for (std::size_t threads : {1, 4}) {
                FaultyFileSystem fs(core::PosixFileSystem::instance());
                FolderWalker::Result result;
                ASSERT_EQ(FolderWalker(fs, option, threads).walk(dir.path(), result), 0);
                EXPECT_EQ(relative(result, dir.path()), expected) << threads << " threads";
            }
        }
    }
}

}  // namespace
}  // namespace wendrel::test
