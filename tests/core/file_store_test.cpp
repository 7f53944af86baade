#include "core/file_store.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include "job_harness.h"
#include "reference_model.h"

namespace wendrel::test {

// Loads, folder listings and write-backs, seen through the job that relies on them.
class FileStoreTest : public ::testing::Test, public JobHarness {};

// Each row fails one step of a write-back, or lets another program act just before it: write
// into the target (same size, same second, only the nanoseconds differ), rename its own file
// of the same size and times over it, or lock it as another job does. The target keeps its
// content (or theirs) and mode, or where the file system lacks a feature the write-back takes
// the older way and succeeds; no new file is left beside it, and the job reports the outcome
// and goes on with the next file.
TEST_F(FileStoreTest, WriteBackFaultLeavesTheTargetAsItWas) {
    enum class Other { none, writes, renames, locks };
    enum class Ends { original, theirs, rewritten };
    // name, call, which of its kind, errno, what another program does first, content after
    // clang-format off
    const std::tuple<const char*, FsCall, int, int, Other, Ends> rows[] = {
        {"FolderOpenDenied", FsCall::open_folder, 1, EACCES, Other::none, Ends::original},
        {"CreateDenied", FsCall::create, 1, EACCES, Other::none, Ends::original},
        {"WriteNoSpace", FsCall::write, 1, ENOSPC, Other::none, Ends::original},
        {"LaterWriteIoError", FsCall::write, 2, EIO, Other::none, Ends::original},
        {"FchownDenied", FsCall::fchown, 1, EPERM, Other::none, Ends::original},
        {"FchmodDenied", FsCall::fchmod, 1, EPERM, Other::none, Ends::original},
        {"FsyncIoError", FsCall::fsync, 1, EIO, Other::none, Ends::original},
        {"LinkIoError", FsCall::link, 1, EIO, Other::none, Ends::original},
        {"CloseIoError", FsCall::close, 1, EIO, Other::none, Ends::original},
        {"RecheckIoError", FsCall::fstatat, 1, EIO, Other::none, Ends::original},
        {"ExchangeIoError", FsCall::exchange, 1, EIO, Other::none, Ends::original},
        {"DisplacedUnreadable", FsCall::fstatat, 2, EIO, Other::none, Ends::original},
        {"ChangedMeanwhile", FsCall::fsync, 1, 0, Other::writes, Ends::theirs},
        {"ReplacedBeforeExchange", FsCall::exchange, 1, 0, Other::renames, Ends::theirs},
        {"LockedByAnotherJob", FsCall::lock, 1, 0, Other::locks, Ends::original},
        {"UnnamedFileUnsupported", FsCall::create, 1, EOPNOTSUPP, Other::none, Ends::rewritten},
        {"ExchangeUnsupported", FsCall::exchange, 1, EINVAL, Other::none, Ends::rewritten}};
    // clang-format on
    const std::string original = "cat and cat\r\n", theirs = "cat and dog\r\n";
    const timespec ours[2] = {{1000000000, 100}, {1000000000, 100}};
    const timespec times[2] = {{1000000000, 200}, {1000000000, 200}};
    fs.chunk = 5;  // every read and write is short
    // One entry: the file is planned while read and copied from itself while written; two:
    // it is held and rewritten in memory.
    const char* const record_lists[] = {"cat|mouse|\r\n", "cat|mouse|\r\nzzz|q|\r\n"};
    for (const auto& [name, call, nth, error, other, ends] : rows) {
        for (const char* records : record_lists) {
            SCOPED_TRACE(std::string(name) + " with " + records);
            if (call == FsCall::fchown && !fs.running_as_root()) {
                continue;  // only root hands the owner on to the new file
            }
            const std::string t = dir.write("t", original, 0640), u = dir.write("u", "cat");
            check(::utimensat(AT_FDCWD, t.c_str(), ours, 0), "utimensat");
            start(u + ";" + t + ";", records);
            int locker = -1;
            fs.fail(call, nth, error, [&, other = other] {
                if (other == Other::writes) {
                    write_all(t, theirs);
                    check(::utimensat(AT_FDCWD, t.c_str(), times, 0), "utimensat");
                } else if (other == Other::renames) {
                    const std::string mine = lists.write("theirs", theirs, 0640);
                    check(::utimensat(AT_FDCWD, mine.c_str(), ours, 0), "utimensat");
                    check(::rename(mine.c_str(), t.c_str()), "rename");
                } else if (other == Other::locks) {
                    struct flock whole {};
                    whole.l_type = F_WRLCK;
                    locker = ::open(t.c_str(), O_RDWR | O_CLOEXEC);
                    check(::fcntl(locker, F_OFD_SETLK, &whole), "fcntl");
                }
            });
            job.tick_timer1();  // loads t
            while (job.timer2_on()) {
                job.tick_timer2();  // applies the entries and writes t back
            }
            EXPECT_TRUE(fs.hit) << "the write-back never made the call";
            run_ticks(job);
            ::close(locker);
            EXPECT_EQ(content(t), ends == Ends::original ? original
                                  : ends == Ends::theirs ? theirs
                                                         : "mouse and mouse\r\n");
            EXPECT_EQ(mode_of(t), 0640u);
            EXPECT_EQ(obs.status, job_lines({ends == Ends::rewritten ? done(t) : failed(t), done(u),
                                             kAllDone}));
            EXPECT_EQ(content(u), "mouse");
            EXPECT_EQ(dir.names(), (Lines{"t", "u"}));
        }
    }
}

// One job over every kind of target: files of several modes (set-user-ID, set-group-ID and
// sticky bits too), a read-only one, a link to a file in another folder, and a missing name, a
// folder and a FIFO, which can neither be loaded nor block the job. Nothing is created, and no
// new file is left behind.
TEST_F(FileStoreTest, EveryKindOfTargetGetsItsOwnOutcome) {
    const std::pair<std::string, mode_t> files[] = {{"600", 0600}, {"640", 0640}, {"755", 0755},
                                                    {"604", 0604}, {"444", 0444}, {"7755", 07755}};
    std::string source;
    for (const auto& [name, mode] : files) {
        source += dir.write(name, "cat cat", mode) + ";";
    }
    TempDir other;
    const std::string real = other.write("real", "cat cat", 0640), link = dir / "link";
    check(::symlink(real.c_str(), link.c_str()), "symlink");
    const std::string folder = dir.make_dir("f"), fifo = dir.make_fifo("fifo"), no = dir / "no";
    EXPECT_TRUE(finishes_without_blocking(
        fifo, [&] { run(source + link + ";" + no + ";" + folder + ";" + fifo, "cat|dog|\r\n"); }));
    EXPECT_EQ(obs.status,
              job_lines({failed(fifo), failed(folder), failed(no), done(link), done(dir / "7755"),
                         failed(dir / "444"), done(dir / "604"), done(dir / "755"),
                         done(dir / "640"), done(dir / "600"), kAllDone}));
    EXPECT_EQ(job.progress_max(), 7 * 7 + 100);  // the loadable files only
    for (const auto& [name, mode] : files) {
        EXPECT_EQ(content(dir / name), mode == 0444 ? "cat cat" : "dog dog") << name;
        EXPECT_EQ(mode_of(dir / name), mode);
    }
    EXPECT_EQ(std::filesystem::read_symlink(link), real);
    EXPECT_EQ(content(real), "dog dog");
    EXPECT_EQ(mode_of(real), 0640u);
    EXPECT_EQ(other.names(), Lines{"real"});
    EXPECT_EQ(dir.names(), (Lines{"444", "600", "604", "640", "755", "7755", "f", "fifo", "link"}));
}

// A name of the longest length a folder takes, and a path of nearly the longest length the
// system takes (too long for its folder's path and any other name in it), are rewritten.
TEST_F(FileStoreTest, LongestNamesAndPathsAreRewritten) {
    std::string deep;                              // folders within folders, relative to dir
    const std::size_t folder_size = PATH_MAX - 8;  // with "/t" and the NUL: PATH_MAX - 5
    while (dir.path().size() + deep.size() < folder_size) {
        const std::size_t room = folder_size - dir.path().size() - deep.size() - 1;
        deep += "/" + std::string(std::min<std::size_t>(room, NAME_MAX), 'd');
        dir.make_dir(deep.substr(1));
    }
    const std::pair<std::string, std::string> rows[] = {
        {dir.make_dir("n"), std::string(NAME_MAX, 'n')}, {dir.path() + deep, "t"}};
    for (const auto& [folder, name] : rows) {
        const std::string t = folder + "/" + name;
        write_all(t, "cat");
        check(::chmod(t.c_str(), 0640), "chmod");
        SCOPED_TRACE(t.size());
        run(t + ";", "cat|dog|\r\n");
        EXPECT_EQ(obs.status, job_lines({done(t), kAllDone}));
        EXPECT_EQ(content(t), "dog");
        EXPECT_EQ(mode_of(t), 0640u);
        EXPECT_EQ(dir.names(folder.substr(dir.path().size())), Lines{name});
    }
}

// A folder item never takes a write-back's new file, whether another job is still writing it
// (and holds it locked) or a killed job left it (which the next job removes), but it does take
// the user's files whose names only look like one.
TEST_F(FileStoreTest, FolderListingLeavesOutNewFilesOfWriteBacks) {
    Lines kept = {".wendrel-0123abc",  ".wendrel-0123abcde",   ".wendrel-0123ABCD",
                  ".wendrel-0123abc_", "notes.wendrel-backup", "t"};
    for (const std::string& name : kept) {
        dir.write(name, "cat");
    }
    dir.write(".wendrel-0123abcy", "left by a killed job");
    const int live = ::open(dir.write(".wendrel-0123abcz", "another job's").c_str(), O_RDWR);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(live, F_OFD_SETLK, &whole), 0);
    std::vector<std::string> listed;
    fs.fail(FsCall::exchange, 1, 0, [&] {  // the new t is named, not yet in its place
        EXPECT_EQ(dir.names().size(), kept.size() + 2);
        EXPECT_EQ(core::FileStore(fs).list_folder(dir.path(), listed), 0);
        core::FileStore(fs).clear_leftovers({dir / "t"});  // as another job starting now
        EXPECT_EQ(dir.names().size(), kept.size() + 2);
    });
    run(dir / "t;", "cat|dog|\r\n");
    ::close(live);
    EXPECT_TRUE(fs.hit);
    std::sort(kept.begin(), kept.end());
    Lines names = kept;
    names.push_back(".wendrel-0123abcz");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(dir.names(), names);  // the killed job's file is gone, the live job's kept
    for (std::string& name : kept) {
        name = dir / name;
    }
    EXPECT_EQ(listed, kept);
}

// A target that cannot be loaded whole (a read error, growth while it is read, more than memory
// could hold, a dangling link or a loop of links) gets the failure line and is not touched; a
// chain of links is written through to its last file. Bytes no entry touches stay as they were.
TEST_F(FileStoreTest, LoadFaultsAndLinksAndRawBytes) {
    const std::string raw = std::string("cat\r\nx\rcat\0\xff\xfe|cat", 17);
    const std::string target = dir.write("t", raw);
    // clang-format off
    const std::tuple<const char*, FsCall, int, off_t> rows[] = {
        {"ReadIoError", FsCall::read, EIO, -1}, {"GrowsWhileRead", FsCall::read, 0, -1},
        {"LargerThanMemory", FsCall::none, 0, off_t{1} << 50}};
    // clang-format on
    for (const auto& [name, call, error, claimed] : rows) {
        SCOPED_TRACE(name);
        write_all(target, raw);
        start(target + ";", "cat|dog|\r\n");
        fs.claimed_size = claimed;
        fs.fail(call, 1, error, [&] { write_all(target, raw + "more"); });
        run_ticks(job);
        fs.claimed_size = -1;
        EXPECT_EQ(obs.status, job_lines({failed(target), kAllDone}));
        EXPECT_EQ(content(target).substr(0, raw.size()), raw);
    }
    // A read or a write interrupted by a signal is made again: the job goes on as usual.
    for (const FsCall call : {FsCall::read, FsCall::write}) {
        write_all(target, raw);
        start(target + ";", "cat|dog|\r\n");
        fs.fail(call, 1, EINTR);
        run_ticks(job);
        EXPECT_TRUE(fs.hit);
        EXPECT_EQ(obs.status, job_lines({done(target), kAllDone}));
        EXPECT_EQ(content(target), std::string("dog\r\nx\rdog\0\xff\xfe|dog", 17));
    }
    const std::string dangling = dir / "dangling", loop = dir / "loop", chain = dir / "chain";
    check(::symlink((dir / "nothing").c_str(), dangling.c_str()), "symlink");
    check(::symlink(loop.c_str(), loop.c_str()), "symlink");
    check(::symlink((dir / "t").c_str(), (dir / "middle").c_str()), "symlink");
    check(::symlink((dir / "middle").c_str(), chain.c_str()), "symlink");
    write_all(target, raw);
    run(dangling + ";" + loop + ";" + chain + ";", "cat|dog|\r\n");
    EXPECT_EQ(obs.status, job_lines({done(chain), failed(loop), failed(dangling), kAllDone}));
    EXPECT_EQ(content(target), std::string("dog\r\nx\rdog\0\xff\xfe|dog", 17));
    EXPECT_EQ(std::filesystem::read_symlink(chain), dir / "middle");
    EXPECT_FALSE(std::filesystem::exists(dir / "nothing"));
}

// A file's last pass goes to disk as runs of the loaded text and the replacement: long runs
// as they are, short ones gathered. Whatever the mix, and with every write cut short, the file
// gets exactly what the passes one after the other give.
TEST_F(FileStoreTest, LastPassIsWrittenFromItsRunsByteForByte) {
    std::mt19937 rng(11);
    // size, bytes between finds: a match every few bytes, every few hundred, two in all
    for (const auto& [size, spacing] :
         {std::pair{20'000u, 3u}, std::pair{60'000u, 400u}, std::pair{700'000u, 300'000u}}) {
        SCOPED_TRACE(spacing);
        std::string original(size, ' ');
        for (char& c : original) {
            c = "abcd \r\n"[rng() % 7];
        }
        for (std::size_t at = rng() % spacing; at + 3 < original.size(); at += spacing + 3) {
            original.replace(at, 3, "cat");
        }
        const core::Entry first{"ab", "ba"}, last{"cat", "mouse"};
        const std::string once = model_entry_pass(original, last, {}).content;
        const std::string twice =
            model_entry_pass(model_entry_pass(original, first, {}).content, last, {}).content;
        ASSERT_NE(once, original);
        // One entry: copied from the file itself; two: written from the runs held in memory.
        for (const auto& [records, expected] :
             {std::pair{"cat|mouse|\r\n", once}, std::pair{"ab|ba|\r\ncat|mouse|\r\n", twice}}) {
            SCOPED_TRACE(records);
            const std::string t = dir.write("t", original);
            fs.chunk = 4099;
            run(t + ";", records);
            EXPECT_EQ(obs.status, job_lines({done(t), kAllDone}));
            EXPECT_TRUE(content(t) == expected);
            EXPECT_EQ(dir.names(), (Lines{"t"}));
        }
    }
}

// A job of one entry never holds a file whole: a file far larger than the window it is read
// through gets the right content, and one whose only matches put back what they took out
// is left as it was (same inode, same time).
TEST_F(FileStoreTest, OneEntryJobStreamsAndLeavesAnUnchangedFileAlone) {
    std::string original(3'000'000, 'x');
    for (std::size_t at = 1000; at + 3 < original.size(); at += 777'777) {
        original.replace(at, 3, "Cat");
    }
    const std::string t = dir.write("t", original), same = dir.write("same", original);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    check(::utimensat(AT_FDCWD, same.c_str(), times, 0), "utimensat");
    const ino_t same_inode = inode_of(same);
    run(t + ";", "Cat|Mouse|\r\n");
    EXPECT_TRUE(content(t) == model_entry_pass(original, {"Cat", "Mouse"}, {}).content);
    run(same + ";", "Cat|Cat|\r\n");
    run(same + ";", "cat|Cat|\r\n", "", {false, false});  // found by case folding: the same
    EXPECT_EQ(obs.status, job_lines({done(same), kAllDone}));
    EXPECT_EQ(inode_of(same), same_inode);
    EXPECT_EQ(stat_of(same).st_mtim.tv_sec, 1000000000);
    run(same + ";", "cat|cat|\r\n", "", {false, false});  // the same, but lower case now
    EXPECT_TRUE(content(same) ==
                model_entry_pass(original, {"cat", "cat"}, {false, false}).content);
    EXPECT_NE(inode_of(same), same_inode);
}

// A file is rewritten only when its content changes, even if entries matched: one whose
// entries put back what they took keeps its inode and time. A rewrite gives the name a new
// file, so another hard link to the old one keeps the old content.
TEST_F(FileStoreTest, OnlyAChangedFileIsRewrittenAndHardLinksKeepTheOld) {
    const std::string same = dir.write("same", "cat"), changed = dir.write("changed", "cat cow");
    const std::string twin = dir / "twin";
    check(::link(changed.c_str(), twin.c_str()), "link");
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    check(::utimensat(AT_FDCWD, same.c_str(), times, 0), "utimensat");
    const ino_t same_inode = inode_of(same);
    run(same + ";" + changed + ";", "cat|dog|\r\ndog|cat|\r\ncow|cat|\r\n");
    EXPECT_EQ(obs.status, job_lines({done(changed), done(same), kAllDone}));
    EXPECT_EQ(inode_of(same), same_inode);
    EXPECT_EQ(stat_of(same).st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(content(changed), "cat cat");
    EXPECT_EQ(content(twin), "cat cow");
}

// A rewritten file keeps the old one's extended attributes, in both ways of writing; one whose
// attribute cannot be copied keeps its old file rather than a new one without it.
TEST_F(FileStoreTest, ExtendedAttributesGoWithTheNewContent) {
    for (const char* records : {"cat|dog|\r\n", "cat|dog|\r\nzz|y|\r\n"}) {
        SCOPED_TRACE(records);
        const std::string t = dir.write("t", "cat"), u = dir.write("u", "cat");
        for (const auto& path : {t, u}) {
            if (::setxattr(path.c_str(), "user.origin", "kept\0!", 6, 0) != 0) {
                GTEST_SKIP() << "this file system takes no user attributes: "
                             << std::strerror(errno);
            }
        }
        fs.fail(FsCall::set_xattr, 2, EPERM);  // u is written second: items go last to first
        run(u + ";" + t + ";", records);
        EXPECT_EQ(obs.status, job_lines({done(t), failed(u), kAllDone}));
        EXPECT_EQ(content(t), "dog");
        EXPECT_EQ(content(u), "cat");
        for (const auto& path : {t, u}) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(path.c_str(), "user.origin", value, sizeof value), 6) << path;
            EXPECT_EQ(std::string(value, 6), std::string("kept\0!", 6)) << path;
        }
        EXPECT_EQ(dir.names(), (Lines{"t", "u"}));
    }
}

// Root may write anywhere, so this runs in a child that gives up root: a writable file in a
// folder where no new file can be made, and a read-only file in an open folder.
TEST_F(FileStoreTest, UnwritableFolderOrFileKeepsItsContent) {
    for (const std::string& folder : {dir.path(), lists.path(), dir.make_dir("locked")}) {
        check(::chmod(folder.c_str(), 0755), "chmod");
    }
    const std::string a = dir.write("locked/a", "cat", 0666), list = lists.write("l", "cat|dog|");
    dir.make_dir("open", 0777);
    const std::string b = dir.write("open/b", "cat", 0644);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(77);
        }
        job.start({a + ";" + b + ";", "", list, {}});
        run_ticks(job);
        EXPECT_EQ(content(a) + content(b), "catcat");
        EXPECT_EQ(obs.status, job_lines({failed(b), failed(a), kAllDone}));
        EXPECT_EQ(dir.names("locked").size() + dir.names("open").size(), 2u);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot drop to uid/gid 65534 here, so write permission cannot be tested";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's checks failed";
}

TEST_F(FileStoreTest, FullDiskLeavesTheOriginal) {
    const std::string small = dir.make_dir("small");
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "mounting a 64k tmpfs is not allowed here (" << std::strerror(errno)
                     << "), so the full-disk case cannot run";
    }
    const std::string original(24 * 1024, 'a'), target = dir.write("small/t", original);
    std::ofstream(small + "/fill") << std::string(64 * 1024, 'f');  // as much as fits
    run(target + ";", "a|b|\r\n");
    EXPECT_TRUE(content(target) == original);
    EXPECT_EQ(obs.status, job_lines({failed(target), kAllDone}));
    EXPECT_EQ(dir.names("small"), (Lines{"fill", "t"}));
    ::umount2(small.c_str(), MNT_DETACH);
}

}  // namespace wendrel::test
