#include "core/file_store.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "faulty_file_system.h"
#include "recording_observer.h"
#include "temp_dir.h"
#include "test_util.h"

namespace wendrel::test {
namespace {

using core::FileStore;
using core::LoadedFile;
using Lines = std::vector<std::string>;

const std::string kTime = "12:00:00";

std::string done_line(const std::string& path) {
    return "完成文件" + path + "的替换--" + kTime;
}
std::string failed_line(const std::string& path) {
    return "未能完成文件" + path + "的替换--" + kTime;
}

bool has_line(const RecordingObserver& obs, const std::string& line) {
    return std::find(obs.status.begin(), obs.status.end(), line) != obs.status.end();
}

std::string all_bytes(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return text;
}

class FileStoreTest : public ::testing::Test {
  protected:
    std::string content(const std::string& path) { return read_all(path).value_or("<missing>"); }

    TempDir dir_;
    FaultyFileSystem fs_{core::PosixFileSystem::instance()};
    FileStore store_{fs_};
};

// --- load ----------------------------------------------------------------------------------

TEST_F(FileStoreTest, LoadReadsEveryByteOfLargeFiles) {
    const std::string bytes = all_bytes(3 * 1024 * 1024 + 7);
    const std::string path = dir_.write("big", bytes);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    EXPECT_TRUE(loaded.content == bytes);
    EXPECT_EQ(loaded.info.st_size, static_cast<off_t>(bytes.size()));
}

TEST_F(FileStoreTest, LoadCopesWithShortReads) {
    const std::string bytes = all_bytes(100000);
    const std::string path = dir_.write("f", bytes);
    fs_.limit_reads(999);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    EXPECT_TRUE(loaded.content == bytes);
}

TEST_F(FileStoreTest, LoadReportsAReadError) {
    const std::string path = dir_.write("f", "cat");
    fs_.fail(FsCall::read, 1, EIO);
    LoadedFile loaded;
    EXPECT_EQ(store_.load(path, loaded), EIO);
    EXPECT_TRUE(fs_.fault_hit());
}

TEST_F(FileStoreTest, LoadFollowsASymlink) {
    const std::string target = dir_.write("target", "cat");
    ASSERT_EQ(::symlink("target", (dir_ / "link").c_str()), 0);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(dir_ / "link", loaded), 0);
    EXPECT_EQ(loaded.content, "cat");
    EXPECT_EQ(store_.loadable_size(dir_ / "link"), std::optional<std::uint64_t>(3));
}

// Anything but a regular file is refused, and neither a load nor a size query may block.
enum class Special { missing, folder, fifo, device, socket, dangling_link };

class FileStoreRefuses : public FileStoreTest, public ::testing::WithParamInterface<Special> {
  protected:
    std::string make(Special kind) {
        const std::string path = dir_ / "special";
        switch (kind) {
            case Special::missing:
                return path;
            case Special::folder:
                return dir_.make_dir("special");
            case Special::fifo:
                return dir_.make_fifo("special");
            case Special::device:  // the null device: harmless even if it were opened
                if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
                    return "";
                }
                return path;
            case Special::socket: {
                socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
                if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                    return "";
                }
                return path;
            }
            case Special::dangling_link:
                if (::symlink("nowhere", path.c_str()) != 0) {
                    return "";
                }
                return path;
        }
        return "";
    }
    ~FileStoreRefuses() override {
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }
    int socket_ = -1;
};

TEST_P(FileStoreRefuses, LoadAndSize) {
    const std::string path = make(GetParam());
    if (path.empty()) {
        GTEST_SKIP() << "this kind of file cannot be made here: " << std::strerror(errno);
    }
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    LoadedFile loaded;
    int result = 0;
    std::optional<std::uint64_t> size = 0;
    EXPECT_TRUE(finishes_without_blocking(path, [&] {
        size = store_.loadable_size(path);
        result = store_.load(path, loaded);
    }));
    EXPECT_EQ(size, std::nullopt);
    EXPECT_NE(result, 0);
    struct stat after {};
    EXPECT_EQ(::lstat(path.c_str(), &after) == 0, existed);  // a missing file is not created
    if (existed) {
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileStoreRefuses,
                         ::testing::Values(Special::missing, Special::folder, Special::fifo,
                                           Special::device, Special::socket,
                                           Special::dangling_link));

TEST_F(FileStoreTest, SizeOfRegularFiles) {
    EXPECT_EQ(store_.loadable_size(dir_.write("empty", "")), std::optional<std::uint64_t>(0));
    EXPECT_EQ(store_.loadable_size(dir_.write("f", std::string(5000, 'x'))),
              std::optional<std::uint64_t>(5000));
}

// --- folder listing ------------------------------------------------------------------------

TEST_F(FileStoreTest, ListFolderGivesRegularFilesInByteOrder) {
    for (const char* name : {"b", "B", ".hidden", "a b", "\xC3\xA9", "_"}) {
        dir_.write(name, "x");
    }
    dir_.make_dir("sub");
    dir_.make_fifo("fifo");
    ASSERT_EQ(::symlink("b", (dir_ / "link").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir_ / "dirlink").c_str()), 0);
    std::vector<std::string> paths;
    ASSERT_EQ(store_.list_folder(dir_.path(), paths), 0);
    const Lines expected = {dir_ / ".hidden", dir_ / "B",    dir_ / "_",       dir_ / "a b",
                            dir_ / "b",       dir_ / "link", dir_ / "\xC3\xA9"};
    EXPECT_EQ(paths, expected);
}

TEST_F(FileStoreTest, ListFolderOfAMissingFolderFails) {
    std::vector<std::string> paths;
    EXPECT_NE(store_.list_folder(dir_ / "nowhere", paths), 0);
    EXPECT_TRUE(paths.empty());
}

TEST_F(FileStoreTest, ListFolderOfTheRootHasNoDoubledSeparator) {
    Lines expected;
    for (const auto& item : std::filesystem::directory_iterator("/")) {
        if (item.is_regular_file()) {  // follows links, like the listing
            expected.push_back(item.path().string());
        }
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> paths;
    ASSERT_EQ(store_.list_folder("/", paths), 0);
    EXPECT_EQ(paths, expected);
    for (const std::string& path : paths) {
        EXPECT_EQ(path.find("//"), std::string::npos) << path;
    }
}

// --- write-back ----------------------------------------------------------------------------

class FileStoreModes : public FileStoreTest, public ::testing::WithParamInterface<mode_t> {};

TEST_P(FileStoreModes, WriteBackKeepsModeAndOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving the file to another owner needs root";
    }
    const std::string path = dir_.write("t.txt", "cat", GetParam());
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    ASSERT_EQ(store_.write_back(path, "dog", loaded.info), 0);
    EXPECT_EQ(content(path), "dog");
    const struct stat after = stat_of(path);
    EXPECT_EQ(after.st_mode & 07777, GetParam());
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
    EXPECT_EQ(dir_.names(), Lines{"t.txt"});
}

INSTANTIATE_TEST_SUITE_P(Modes, FileStoreModes,
                         ::testing::Values(0600, 0640, 0644, 0664, 0755, 0700, 0604));

TEST_F(FileStoreTest, WriteBackGoesThroughASymlink) {
    TempDir other;
    const std::string target = other.write("real.txt", "cat", 0640);
    const std::string link = dir_ / "link.txt";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(link, loaded), 0);
    ASSERT_EQ(store_.write_back(link, "dog", loaded.info), 0);
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), target);
    EXPECT_EQ(content(target), "dog");
    EXPECT_EQ(stat_of(target).st_mode & 07777, 0640u);
    EXPECT_EQ(dir_.names(), Lines{"link.txt"});
    EXPECT_EQ(other.names(), Lines{"real.txt"});
}

TEST_F(FileStoreTest, WriteBackCopesWithShortWrites) {
    const std::string path = dir_.write("t.txt", "cat");
    const std::string bytes = all_bytes(100000);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    fs_.limit_writes(777);
    ASSERT_EQ(store_.write_back(path, bytes, loaded.info), 0);
    EXPECT_TRUE(content(path) == bytes);
}

TEST_F(FileStoreTest, WriteBackRefusesAReadOnlyFile) {
    const std::string path = dir_.write("t.txt", "cat", 0444);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    EXPECT_NE(store_.write_back(path, "dog", loaded.info), 0);
    EXPECT_EQ(content(path), "cat");
    EXPECT_EQ(dir_.names(), Lines{"t.txt"});
}

TEST_F(FileStoreTest, WriteBackRefusesAFileChangedSinceItsLoad) {
    const std::string grown = dir_.write("grown.txt", "cat");
    const std::string touched = dir_.write("touched.txt", "cat");
    set_mtime(touched, 1000000000);
    LoadedFile grown_loaded;
    LoadedFile touched_loaded;
    ASSERT_EQ(store_.load(grown, grown_loaded), 0);
    ASSERT_EQ(store_.load(touched, touched_loaded), 0);
    write_all(grown, "cats");
    set_mtime(touched, 1000000100);
    EXPECT_NE(store_.write_back(grown, "dog", grown_loaded.info), 0);
    EXPECT_NE(store_.write_back(touched, "dog", touched_loaded.info), 0);
    EXPECT_EQ(content(grown), "cats");
    EXPECT_EQ(content(touched), "cat");
}

TEST_F(FileStoreTest, WriteBackRefusesAFileChangedWhileTheNewOneIsWritten) {
    const std::string path = dir_.write("t.txt", "cat");
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    fs_.before(FsCall::fsync, 1, [&] { write_all(path, "the other program's cat"); });
    EXPECT_NE(store_.write_back(path, "dog", loaded.info), 0);
    EXPECT_EQ(fs_.calls(FsCall::fsync), 1) << "the new file was never synced";
    EXPECT_EQ(content(path), "the other program's cat");
    EXPECT_EQ(dir_.names(), Lines{"t.txt"});
}

struct WriteFault {
    const char* name;
    FsCall kind;
    int nth;
    int error;
    std::size_t write_limit;  // bytes per write call, 0 = whole
};

const auto kWriteFaults =
    ::testing::Values(WriteFault{"CreateDenied", FsCall::create, 1, EACCES, 0},
                      WriteFault{"CreateNoSpace", FsCall::create, 1, ENOSPC, 0},
                      WriteFault{"WriteNoSpace", FsCall::write, 1, ENOSPC, 0},
                      WriteFault{"ShortWriteThenNoSpace", FsCall::write, 2, ENOSPC, 5},
                      WriteFault{"WriteIoError", FsCall::write, 1, EIO, 0},
                      WriteFault{"FsyncIoError", FsCall::fsync, 1, EIO, 0},
                      WriteFault{"FchownDenied", FsCall::fchown, 1, EPERM, 0},
                      WriteFault{"FchmodDenied", FsCall::fchmod, 1, EPERM, 0},
                      WriteFault{"CloseIoError", FsCall::close, 1, EIO, 0},
                      WriteFault{"RenameIoError", FsCall::rename, 1, EIO, 0},
                      WriteFault{"RenameCrossDevice", FsCall::rename, 1, EXDEV, 0});

const std::string kOriginal = "cat and cat\r\n";

class FileStoreWriteFault : public FileStoreTest,
                            public ::testing::WithParamInterface<WriteFault> {};

TEST_P(FileStoreWriteFault, LeavesTheOriginalAndNoTemporaryFile) {
    const WriteFault& fault = GetParam();
    if (fault.kind == FsCall::fchown && ::geteuid() != 0) {
        GTEST_SKIP() << "only root hands the owner on to the new file";
    }
    const std::string path = dir_.write("t.txt", kOriginal, 0640);
    LoadedFile loaded;
    ASSERT_EQ(store_.load(path, loaded), 0);
    fs_.limit_writes(fault.write_limit);
    fs_.fail(fault.kind, fault.nth, fault.error);
    EXPECT_NE(store_.write_back(path, "dog and dog\r\n", loaded.info), 0);
    EXPECT_TRUE(fs_.fault_hit()) << "the write-back never made the faulty call";
    EXPECT_EQ(content(path), kOriginal);
    EXPECT_EQ(stat_of(path).st_mode & 07777, 0640u);
    EXPECT_EQ(dir_.names(), Lines{"t.txt"});
}

INSTANTIATE_TEST_SUITE_P(Faults, FileStoreWriteFault, kWriteFaults,
                         [](const auto& info) { return std::string(info.param.name); });

// --- the same faults and the real-world cases, seen through a job ---------------------------

class FileStoreJobTest : public FileStoreTest {
  protected:
    core::JobInputs inputs(const std::string& source) {
        return {source, "", lists_.write("list.txt", "cat|dog|\r\n"), {}};
    }
    TickCounts run(const std::string& source) {
        job_.start(inputs(source));
        return run_ticks(job_);
    }

    TempDir lists_;
    RecordingObserver obs_;
    // Write-backs in the tick: the fault counts the calls of one thread, in a fixed order.
    core::ReplaceJob job_{obs_, fs_, [] { return kTime; }, 0};
};

class FileStoreJobWriteFault : public FileStoreJobTest,
                               public ::testing::WithParamInterface<WriteFault> {};

TEST_P(FileStoreJobWriteFault, GivesTheFailureLineAndGoesOn) {
    const WriteFault& fault = GetParam();
    if (fault.kind == FsCall::fchown && ::geteuid() != 0) {
        GTEST_SKIP() << "only root hands the owner on to the new file";
    }
    const std::string path = dir_.write("t.txt", kOriginal);
    const std::string next = dir_.write("u.txt", "cat");
    job_.start(inputs(next + ";" + path + ";"));
    job_.tick_timer1();  // loads t.txt
    fs_.limit_writes(fault.write_limit);
    fs_.fail(fault.kind, fault.nth, fault.error);
    job_.tick_timer2();  // the only entry: applies it and writes back
    EXPECT_TRUE(fs_.fault_hit());
    fs_.limit_writes(0);
    run_ticks(job_);
    EXPECT_TRUE(has_line(obs_, failed_line(path)));
    EXPECT_FALSE(has_line(obs_, done_line(path)));
    EXPECT_EQ(content(path), kOriginal);
    EXPECT_EQ(content(next), "dog");
    EXPECT_TRUE(has_line(obs_, done_line(next)));
    EXPECT_EQ(dir_.names(), (Lines{"t.txt", "u.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Faults, FileStoreJobWriteFault, kWriteFaults,
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileStoreJobTest, ReadOnlyTargetKeepsItsContent) {
    const std::string path = dir_.write("t.txt", "cat", 0444);
    run(path + ";");
    EXPECT_EQ(content(path), "cat");
    EXPECT_TRUE(has_line(obs_, failed_line(path)));
    EXPECT_EQ(stat_of(path).st_mode & 07777, 0444u);
}

TEST_F(FileStoreJobTest, MissingTargetIsNotCreatedAndTheJobGoesOn) {
    const std::string missing = dir_ / "missing.txt";
    const std::string next = dir_.write("next.txt", "cat");
    const TickCounts ticks = run(next + ";" + missing + ";");
    EXPECT_FALSE(exists(missing));
    EXPECT_TRUE(has_line(obs_, failed_line(missing)));
    EXPECT_EQ(content(next), "dog");
    EXPECT_FALSE(ticks.runaway);
    EXPECT_FALSE(obs_.value_above_max);
}

TEST_F(FileStoreJobTest, FolderAndFifoAsFileItemsFailWithoutBlocking) {
    const std::string folder = dir_.make_dir("folder");
    const std::string fifo = dir_.make_fifo("fifo");
    const std::string next = dir_.write("next.txt", "cat");
    EXPECT_TRUE(
        finishes_without_blocking(fifo, [&] { run(next + ";" + fifo + ";" + folder + ";"); }));
    EXPECT_TRUE(has_line(obs_, failed_line(folder)));
    EXPECT_TRUE(has_line(obs_, failed_line(fifo)));
    EXPECT_EQ(content(next), "dog");
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(dir_.names(), (Lines{"fifo", "folder", "next.txt"}));
}

TEST_F(FileStoreJobTest, SymlinkTargetIsWrittenThrough) {
    const std::string real = dir_.write("real.txt", "cat");
    const std::string link = dir_ / "link.txt";
    ASSERT_EQ(::symlink("real.txt", link.c_str()), 0);
    run(link + ";");
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(content(real), "dog");
    EXPECT_TRUE(has_line(obs_, done_line(link)));
}

TEST_F(FileStoreJobTest, ModeBitsAreKept) {
    const std::string a = dir_.write("a", "cat", 0640);
    const std::string b = dir_.write("b", "cat", 0755);
    run(a + ";" + b + ";");
    EXPECT_EQ(content(a), "dog");
    EXPECT_EQ(content(b), "dog");
    EXPECT_EQ(stat_of(a).st_mode & 07777, 0640u);
    EXPECT_EQ(stat_of(b).st_mode & 07777, 0755u);
}

TEST_F(FileStoreJobTest, TargetChangedAfterItsLoadIsLeftToTheOtherProgram) {
    const std::string path = dir_.write("t.txt", "cat");
    job_.start(inputs(path + ";"));
    job_.tick_timer1();
    write_all(path, "the other program's cat");
    run_ticks(job_);
    EXPECT_EQ(content(path), "the other program's cat");
    EXPECT_TRUE(has_line(obs_, failed_line(path)));
}

TEST_F(FileStoreJobTest, TargetTouchedAfterItsLoadIsNotOverwritten) {
    const std::string path = dir_.write("t.txt", "cat");
    set_mtime(path, 1000000000);
    job_.start(inputs(path + ";"));
    job_.tick_timer1();
    set_mtime(path, 1000000100);
    run_ticks(job_);
    EXPECT_EQ(content(path), "cat");
    EXPECT_TRUE(has_line(obs_, failed_line(path)));
}

// Root may write anywhere, so the unwritable cases run in a child that gives up root.
TEST(FileStoreUnprivileged, UnwritableFolderAndFileKeepTheirContent) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    dir.make_dir("locked", 0755);                                  // nobody but root may add files
    const std::string a = dir.write("locked/a.txt", "cat", 0666);  // the file itself is writable
    dir.make_dir("open", 0777);
    const std::string b = dir.write("open/b.txt", "cat", 0644);  // the folder is, the file not
    const std::string list = dir.write("list.txt", "cat|dog|\r\n", 0644);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(77);
        }
        int code = 0;
        try {
            RecordingObserver obs;
            core::ReplaceJob job(obs, core::PosixFileSystem::instance(), [] { return kTime; });
            job.start({a + ";" + b + ";", "", list, {}});
            run_ticks(job);
            code |= read_all(a) == "cat" ? 0 : 1;
            code |= read_all(b) == "cat" ? 0 : 2;
            code |= has_line(obs, failed_line(a)) ? 0 : 4;
            code |= has_line(obs, failed_line(b)) ? 0 : 8;
            code |= dir.names("locked") == Lines{"a.txt"} && dir.names("open") == Lines{"b.txt"}
                        ? 0
                        : 16;
        } catch (...) {
            code |= 32;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot drop to uid/gid 65534 here, so write permission cannot be tested";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1/2: content of the file in the unwritable folder / of the read-only file changed, "
           "4/8: their failure line is missing, 16: a file was left behind, 32: exception";
}

TEST(FileStoreFullDisk, OriginalSurvivesAndTheFailureIsReported) {
    TempDir dir;
    const std::string mount_point = dir.make_dir("small");
    if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "mounting a 64k tmpfs is not allowed here (" << std::strerror(errno)
                     << "), so the full-disk case cannot run";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mount_point};

    const std::string original(24 * 1024, 'a');
    const std::string target = dir.write("small/t.txt", original);
    const int fill = ::open((mount_point + "/fill").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fill, 0);
    const std::string block(4096, 'f');
    while (::write(fill, block.data(), block.size()) > 0) {
    }
    const int fill_error = errno;
    ::close(fill);
    ASSERT_EQ(fill_error, ENOSPC);

    RecordingObserver obs;
    core::ReplaceJob job(obs, core::PosixFileSystem::instance(), [] { return kTime; });
    job.start({target + ";", "", dir.write("list.txt", "a|b|\r\n"), {}});
    run_ticks(job);
    EXPECT_TRUE(read_all(target) == original);
    EXPECT_TRUE(has_line(obs, failed_line(target)));
    EXPECT_EQ(dir.names("small"), (Lines{"fill", "t.txt"}));
}

}  // namespace
}  // namespace wendrel::test
