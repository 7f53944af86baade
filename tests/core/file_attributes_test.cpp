#include "core/file_attributes.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <ostream>

#include "core/posix_file_system.h"
#include "faulty_file_system.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

using namespace std::string_literals;
using Attributes = std::map<std::string, std::string>;

const std::string kAcl = "system.posix_acl_access";

// An ACL as the kernel takes it: version 2, then (tag, permissions, id) entries sorted by tag.
enum AclTag : std::uint16_t { kOwner = 1, kUser = 2, kGroupOwner = 4, kMask = 0x10, kOther = 0x20 };
struct AclEntry {
    AclTag tag;
    std::uint16_t perm;
    std::uint32_t id = ~0u;  // a user's id; none for the other tags
};
std::string acl(std::initializer_list<AclEntry> entries) {
    std::string out("\2\0\0\0", 4);
    for (const AclEntry& entry : entries) {
        const std::uint64_t fields = entry.tag | entry.perm << 16 | std::uint64_t{entry.id} << 32;
        for (int i = 0; i < 8; ++i) {
            out += static_cast<char>(fields >> (8 * i));
        }
    }
    return out;
}

// The mask (the mode's group bits) wider than the group owner's own rights.
const std::string kNamedUserAcl =
    acl({{kOwner, 6}, {kUser, 6, 1234}, {kGroupOwner, 4}, {kMask, 6}, {kOther, 0}});
// File capabilities, revision 2 (0x02000000): CAP_NET_BIND_SERVICE (bit 10) permitted.
const std::string kCapability = "\0\0\0\2\0\4\0\0"s + std::string(12, '\0');

/// Every attribute of the file at `path`, read without the code under test.
Attributes attributes_of(const std::string& path) {
    std::string names(65536, '\0'), value(65536, '\0');
    const ssize_t length = ::listxattr(path.c_str(), names.data(), names.size());
    check(length < 0 ? -1 : 0, "listxattr " + path);
    Attributes out;
    for (const char* name = names.data(); name < names.data() + length;
         name += std::strlen(name) + 1) {
        const ssize_t size = ::getxattr(path.c_str(), name, value.data(), value.size());
        check(size < 0 ? -1 : 0, "getxattr " + path + " " + name);
        out[name] = value.substr(0, static_cast<std::size_t>(size));
    }
    return out;
}

/// 0, or the errno of the first attribute that could not be set.
int give(const std::string& path, const Attributes& attributes) {
    for (const auto& [name, value] : attributes) {
        if (::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) {
            return errno;
        }
    }
    return 0;
}

const Attributes kUserAttributes = {
    {"user.binary", "\0\x01\xff\0z"s}, {"user.empty", ""}, {"user.text", "checked"}};

struct AttributeRow {
    const char* name;
    mode_t mode;
    Attributes given;
    FsCall refused = FsCall::none;  // this call, the first of its kind, fails with `error`
    int error = 0;
    friend void PrintTo(const AttributeRow& row, std::ostream* out) { *out << row.name; }
};

// The new file inherits its folder's default ACL, which the old one lacks: no copy, no row passes.
// clang-format off
const AttributeRow kRows[] = {
    {"AclMaskWiderThanGroup", 0640, {{kAcl, kNamedUserAcl}}},
    {"UserAttributesBinaryAndEmpty", 0644, kUserAttributes},
    {"ValueFillingAnAttributeBlock", 0644, {{"user.large", std::string(4000, 'v') + "end"}}},
    {"CapabilityAsRoot", 0755, {{"security.capability", kCapability}}},
    {"ListRefused", 0644, kUserAttributes, FsCall::list_xattr, EIO},
    {"ReadRefused", 0644, kUserAttributes, FsCall::get_xattr, EIO},
    {"SetRefused", 0644, kUserAttributes, FsCall::set_xattr, EPERM},
    {"InheritedAclNotRemovable", 0644, {}, FsCall::remove_xattr, EPERM},
};
// clang-format on

// Given the old file's mode, then its attributes, the new file ends like the old, or reports.
class FileAttributesTest : public ::testing::TestWithParam<AttributeRow> {};

TEST_P(FileAttributesTest, NewFileEndsLikeTheOld) {
    const AttributeRow& row = GetParam();
    TempDir dir;
    const std::string old_path = dir.write("old", "old content", row.mode);
    const std::string inherited =
        acl({{kOwner, 6}, {kUser, 7, 4321}, {kGroupOwner, 5}, {kMask, 7}, {kOther, 4}});
    int error = give(dir.path(), {{"system.posix_acl_default", inherited}});
    error = error != 0 ? error : give(old_path, row.given);
    if (error == ENOTSUP || error == EPERM || error == ENOSPC) {
        GTEST_SKIP() << "cannot give files in " << dir.path()
                     << " these attributes here: " << std::strerror(error);
    }
    ASSERT_EQ(error, 0) << std::strerror(error);

    FaultyFileSystem fs(core::PosixFileSystem::instance());
    const int from_fd = fs.open(old_path, O_RDONLY);
    const int to_fd = fs.open(dir / "new", O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_TRUE(from_fd >= 0 && to_fd >= 0);
    ASSERT_EQ(attributes_of(dir / "new").count(kAcl), 1u) << "the folder's ACL was not inherited";
    struct stat old {};
    ASSERT_EQ(fs.fstat(from_fd, &old), 0);
    fs.fail(row.refused, 1, row.error);
    error = fs.fchmod(to_fd, old.st_mode & 07777);  // first: the mode sets the ACL's mask
    error = error != 0 ? error : core::FileAttributes::copy(fs, from_fd, to_fd);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(fs.hit, row.refused != FsCall::none);
    if (row.error == 0) {
        EXPECT_EQ(attributes_of(dir / "new"), attributes_of(old_path));
        EXPECT_EQ(stat_of(dir / "new").st_mode & 07777, stat_of(old_path).st_mode & 07777);
    }
    fs.close(from_fd);
    fs.close(to_fd);
}

INSTANTIATE_TEST_SUITE_P(Rows, FileAttributesTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wendrel::test
