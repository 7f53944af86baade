#include "file_attributes.h"

#include <cerrno>
#include <string>
#include <vector>

namespace wendrel::core {
namespace {

// Only folders carry `system.posix_acl_default` (the ACL that files made inside inherit), so
// it needs no case of its own.
const std::string kAccessAcl = "system.posix_acl_access";

int copy_one(FileSystem& fs, int from_fd, int to_fd, const std::string& name) {
    std::string value;
    if (const int error = fs.fgetxattr(from_fd, name, value)) {
        return error == ENODATA ? 0 : error;  // removed since it was listed
    }
    // A new file may have it already, as a security label that policy gives every file made
    // there; setting it again could take a permission the process lacks.
    std::string current;
    if (fs.fgetxattr(to_fd, name, current) == 0 && current == value) {
        return 0;
    }
    return fs.fsetxattr(to_fd, name, value);
}

}  // namespace

int FileAttributes::copy(FileSystem& fs, int from_fd, int to_fd) {
    std::vector<std::string> names;
    if (const int error = fs.flistxattr(from_fd, names); error != 0 && error != ENOTSUP) {
        return error;
    }
    bool has_acl = false;
    for (const std::string& name : names) {
        has_acl = has_acl || name == kAccessAcl;
        if (const int error = copy_one(fs, from_fd, to_fd, name)) {
            return error;
        }
    }
    // The new file inherited its folder's default ACL, which the old one may never have had:
    // with the mode's group bits as its mask, it could let in users the old file kept out.
    if (!has_acl) {
        const int error = fs.fremovexattr(to_fd, kAccessAcl);
        if (error != 0 && error != ENODATA && error != ENOTSUP) {
            return error;
        }
    }
    return 0;
}

}  // namespace wendrel::core
