#include "core/file_store.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <climits>
#include <random>
#include <tuple>

#include "core/failure_reason.h"
#include "job_harness.h"
#include "reference_model.h"

namespace wendrel::test {

using namespace std::string_literals;

class FileStoreTest : public ::testing::Test, public JobHarness {};

int lock_as_another_job(const std::string& path) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    check(::fcntl(fd, F_OFD_SETLK, &whole), "fcntl");
    return fd;
}

// Each row fails one step of loading or writing back t, or lets another program change, replace or
// lock t first: t keeps its bytes (or theirs), mode and attribute, or a retry rewrites it.
TEST_F(FileStoreTest, FaultLeavesTheTargetAsItWas) {
    enum class Other { none, retried, writes, grows, shrinks, renames, locks };
    using enum Other;
    using F = FsCall;
    // name, call, which of its kind, errno, what happens first
    // clang-format off
    const std::tuple<const char*, FsCall, int, int, Other> rows[] = {
        {"ReadIoError", F::read, 1, EIO, none},       {"GrowsWhileRead", F::read, 1, 0, grows},
        {"ShrinksWhileRead", F::read, 1, 0, shrinks}, {"ReadEintr", F::read, 1, EINTR, retried},
        {"WriteEintr", F::write, 1, EINTR, retried},  {"Folder", F::open_folder, 1, EACCES, none},
        {"NotWritable", F::access, 1, EACCES, none},  {"Create", F::create, 1, EACCES, none},
        {"WriteNoSpace", F::write, 1, ENOSPC, none},  {"LaterWrite", F::write, 2, EIO, none},
        {"Fchown", F::fchown, 1, EPERM, none},        {"Fchmod", F::fchmod, 1, EPERM, none},
        {"SetXattr", F::set_xattr, 1, EPERM, none},   {"Fsync", F::fsync, 1, EIO, none},
        {"Link", F::link, 1, EIO, none},              {"Close", F::close, 1, EIO, none},
        {"Recheck", F::fstatat, 1, EIO, none},        {"Exchange", F::exchange, 1, EIO, none},
        {"Displaced", F::fstatat, 2, EIO, none},      {"ChangedMeanwhile", F::fsync, 1, 0, writes},
        {"Replaced", F::exchange, 1, 0, renames},     {"Locked", F::lock, 1, 0, locks},
        {"NoUnnamedFile", F::create, 1, EOPNOTSUPP, retried},
        {"NoExchange", F::exchange, 1, EINVAL, retried}};
    // clang-format on
    const std::string original = "cat\0\xfe\r\nx\rcat\r\n"s, theirs = "cat\0\xfe\r\nx\rdog\r\n"s;
    const std::string origin = "kept\0!"s;  // an extended attribute that goes with the content
    const timespec ours[2] = {{1000000000, 100}, {1000000000, 100}};
    const timespec times[2] = {{1000000000, 200}, {1000000000, 200}};
    fs.chunk = 5;  // every read and write is short
    // One entry: t is planned while read and copied from itself; two: held and rewritten.
    for (const char* records : {"cat|mouse|\r\n", "cat|mouse|\r\nzzz|q|\r\n"}) {
        for (const auto& [name, call, nth, error, other] : rows) {
            SCOPED_TRACE(std::string(name) + " with " + records);
            const std::string t = dir.write("t", original, 0640), u = dir.write("u", "cat");
            const bool xattrs = ::setxattr(t.c_str(), "user.origin", origin.data(), 6, 0) == 0 &&
                                ::setxattr(u.c_str(), "user.origin", origin.data(), 6, 0) == 0;
            if ((call == F::fchown && !fs.running_as_root()) || (call == F::set_xattr && !xattrs)) {
                continue;  // only root hands the owner on; only some file systems keep "user."
            }
            check(::utimensat(AT_FDCWD, t.c_str(), ours, 0), "utimensat");
            start(u + ";" + t + ";", records);
            int locker = -1;
            std::string now = original;
            fs.fail(call, nth, error, [&, other = other] {
                if (other == renames) {
                    const std::string mine = lists.write("theirs", now = theirs, 0640);
                    check(::utimensat(AT_FDCWD, mine.c_str(), ours, 0), "utimensat");
                    check(::rename(mine.c_str(), t.c_str()), "rename");
                } else if (other == locks) {
                    locker = lock_as_another_job(t);
                } else if (other > retried) {
                    now = other == grows ? theirs + "more" : other == shrinks ? "cat" : theirs;
                    write_all(t, now);
                    check(::utimensat(AT_FDCWD, t.c_str(), times, 0), "utimensat");
                }
            });
            const bool rewritten = other == retried;
            job.tick_timer1();  // loads t
            while (job.timer2_on()) {
                job.tick_timer2();  // applies the entries and writes t back
            }
            EXPECT_TRUE(fs.hit) << "t's load or write-back never made the call";
            run_ticks(job);
            ::close(locker);
            EXPECT_EQ(content(t), rewritten ? "mouse\0\xfe\r\nx\rmouse\r\n"s : now);
            EXPECT_EQ(mode_of(t), 0640u);
            EXPECT_EQ(obs.status, job_lines({rewritten ? done(t) : failed(t), done(u), kAllDone}));
            const int cause = other == locks         ? core::failure::kLockedByOtherJob
                              : other > retried      ? ESTALE
                              : call == F::set_xattr ? core::failure::kAttributesNotKept
                                                     : error;
            EXPECT_EQ(obs.reasons, rewritten ? Lines{} : Lines{core::reason_line(cause)});
            EXPECT_EQ(content(u), "mouse");
            EXPECT_EQ(dir.names(), (Lines{"t", "u"}));
            for (const auto& path : (xattrs && other != renames) ? Lines{t, u} : Lines{}) {
                char value[16];  // theirs, renamed in, has none
                const ssize_t size = ::getxattr(path.c_str(), "user.origin", value, sizeof value);
                EXPECT_EQ(std::string(value, std::max<ssize_t>(size, 0)), origin) << path;
            }
        }
    }
}

// Every kind of target: files of several modes, a read-only one, a chain of links written
// through, and a missing name, dangling link, loop of links, folder and FIFO, which fail.
TEST_F(FileStoreTest, EveryKindOfTargetGetsItsOwnOutcome) {
    const std::pair<std::string, mode_t> files[] = {{"600", 0600}, {"640", 0640}, {"755", 0755},
                                                    {"604", 0604}, {"444", 0444}, {"7755", 07755}};
    std::string source;
    for (const auto& [name, mode] : files) {
        source += dir.write(name, "cat cat", mode) + ";";
    }
    TempDir other;
    const std::string real = other.write("real", "cat cat", 0640), link = dir / "link";
    const std::string dangling = dir / "dangling", loop = dir / "loop";
    check(::symlink(real.c_str(), (other / "middle").c_str()), "symlink");
    check(::symlink((other / "middle").c_str(), link.c_str()), "symlink");
    check(::symlink((dir / "nothing").c_str(), dangling.c_str()), "symlink");
    check(::symlink(loop.c_str(), loop.c_str()), "symlink");
    const std::string folder = dir.make_dir("f"), fifo = dir.make_fifo("fifo"), no = dir / "no";
    EXPECT_TRUE(finishes_without_blocking(fifo, [&] {
        run(source + link + ";" + dangling + ";" + loop + ";" + no + ";" + folder + ";" + fifo,
            "cat|dog|\r\n");
    }));
    EXPECT_EQ(obs.status,
              job_lines({failed(fifo), failed(folder), failed(no), failed(loop), failed(dangling),
                         done(link), done(dir / "7755"), failed(dir / "444"), done(dir / "604"),
                         done(dir / "755"), done(dir / "640"), done(dir / "600"), kAllDone}));
    EXPECT_EQ(job.progress_max(), 7 * 7 + 100);  // the loadable files only
    for (const auto& [name, mode] : files) {
        EXPECT_EQ(content(dir / name), mode == 0444 ? "cat cat" : "dog dog") << name;
        EXPECT_EQ(mode_of(dir / name), mode);
    }
    EXPECT_EQ(std::filesystem::read_symlink(link), other / "middle");
    EXPECT_EQ(content(real), "dog dog");
    EXPECT_EQ(other.names(), (Lines{"middle", "real"}));
    EXPECT_EQ(dir.names(), (Lines{"444", "600", "604", "640", "755", "7755", "dangling", "f",
                                  "fifo", "link", "loop"}));
}

// A folder item never takes a write-back's new file, live (locked) or left by a killed job (the
// next job removes it), but takes the user's files whose names only look like one.
TEST_F(FileStoreTest, FolderListingLeavesOutNewFilesOfWriteBacks) {
    Lines kept = {".wendrel-0123ABCD",  ".wendrel-0123abc",     ".wendrel-0123abc_",
                  ".wendrel-0123abcde", "notes.wendrel-backup", "t"};  // in byte order
    for (const std::string& name : kept) {
        dir.write(name, "cat");
    }
    dir.write(".wendrel-0123abcy", "left by a killed job");
    const int live = lock_as_another_job(dir.write(".wendrel-0123abcz", "another job's"));
    std::vector<std::string> listed;
    fs.fail(FsCall::exchange, 1, 0, [&] {  // the new t is named, not yet in its place
        EXPECT_EQ(core::FileStore(fs).list_folder(dir.path(), listed), 0);
        core::FileStore(fs).clear_leftovers({dir / "t"});  // as another job starting now
        EXPECT_EQ(dir.names().size(), kept.size() + 2);
    });
    run(dir / "t;", "cat|dog|\r\n");
    ::close(live);
    Lines names = kept;  // the killed job's file is gone, the live job's kept
    names.insert(names.begin() + 4, ".wendrel-0123abcz");
    EXPECT_EQ(dir.names(), names);
    for (std::string& name : kept) {
        name = dir / name;
    }
    EXPECT_EQ(listed, kept);
}

// Rewritten only when its content changes, exactly, in memory or streamed, under the longest names.
TEST_F(FileStoreTest, RewriteIsExactAndOnlyOfAChangedFile) {
    std::string deep;                              // folders within folders, relative to dir
    const std::size_t folder_size = PATH_MAX - 8;  // with "/t" and the NUL: PATH_MAX - 5
    while (dir.path().size() + deep.size() < folder_size) {
        const std::size_t room = folder_size - dir.path().size() - deep.size() - 1;
        deep += "/" + std::string(std::min<std::size_t>(room, NAME_MAX), 'd');
        dir.make_dir(deep.substr(1));
    }
    dir.make_dir("n");
    dir.make_dir("p");
    std::mt19937 rng(11);
    const auto text = [&](std::size_t size, std::size_t spacing) {  // "cat" every `spacing` bytes
        std::string out(size, ' ');
        for (char& c : out) {
            c = "abcd \r\n"[rng() % 7];
        }
        for (std::size_t at = rng() % spacing; at + 3 < size; at += spacing + 3) {
            out.replace(at, 3, "cat");
        }
        return out;
    };
    const std::string dense = text(20'000, 3), sparse = text(60'000, 400);
    const std::string large = text(3'000'000, 777'777), one = "cat|mouse|\r\n";
    const std::string two = "ab|ba|\r\n" + one, small = "Cat cow";
    const core::MatchOptions exact, fold{false, false};
    // path within dir, content, records, options, whether the content changes
    // clang-format off
    const std::tuple<std::string, std::string, std::string, core::MatchOptions, bool> rows[] = {
        {"p/t", small, "Cat|Cat|\r\n", exact, false}, {"p/t", small, "cat|Cat|\r\n", fold, false},
        {"p/t", small, "Cat|dog|\r\ndog|Cat|\r\n", exact, false},
        {"p/t", small, "cat|cat|\r\n", fold, true},
        {"p/t", small, "Cat|dog|\r\ncow|Cat|\r\n", exact, true},
        {"p/t", dense, one, exact, true},   {"p/t", dense, two, exact, true},
        {"p/t", sparse, one, exact, true},  {"p/t", sparse, two, exact, true},
        {"p/t", large, one, exact, true},   {"p/t", large, two, exact, true},
        {"n/" + std::string(NAME_MAX, 'n'), small, "Cat|dog|\r\n", exact, true},
        {deep.substr(1) + "/t", small, "Cat|dog|\r\n", exact, true}};
    // clang-format on
    const std::string twin = lists / "twin";
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    fs.chunk = 4099;
    for (const auto& [path, original, records, options, changes] : rows) {
        SCOPED_TRACE(records + path.substr(0, 3) + std::to_string(original.size()));
        const std::string t = dir / path, folder = path.substr(0, path.rfind('/'));
        std::filesystem::remove(twin);
        write_all(t, original);
        check(::chmod(t.c_str(), 0640) | ::link(t.c_str(), twin.c_str()) |
                  ::utimensat(AT_FDCWD, t.c_str(), times, 0),
              "chmod, link, utimensat");
        const ino_t inode = inode_of(t);
        run(t + ";", records, "", options);
        std::string expected = original;
        for (const core::Entry& entry : model_read_records(records)) {
            expected = model_entry_pass(expected, entry, options).content;
        }
        EXPECT_EQ(obs.status, job_lines({done(t), kAllDone}));
        EXPECT_TRUE(content(t) == expected);
        EXPECT_EQ(inode_of(t) == inode, !changes);
        EXPECT_EQ(stat_of(t).st_mtim.tv_sec == 1000000000, !changes);
        EXPECT_TRUE(content(twin) == original);
        EXPECT_EQ(dir.names(folder), Lines{path.substr(folder.size() + 1)});
    }
}

}  // namespace wendrel::test
