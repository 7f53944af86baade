#pragma once

#include "file_system.h"

namespace wendrel::core {

/// Carries the extended attributes of a file being rewritten (its ACL, file capabilities,
/// security label, `trusted.*` and `user.*` attributes) over to the new file that takes its
/// place, so that the rewrite changes the content and nothing about who may do what with it.
///
/// The write-back works on the new file in this order, each step for a reason:
///   1. write the content: a write drops `security.capability`;
///   2. fchown (as root): a change of owner drops `security.capability` and the set-id bits;
///   3. fchmod: the set-id and sticky bits, which no ACL holds;
///   4. FileAttributes::copy: setting the ACL sets the permission bits, the group bits from its
///      mask, so the bits always agree with the ACL read from the old file, even when the mode
///      given to fchmod was read before another program changed that ACL;
///   5. fsync: the attributes reach the disk with the content, before the rename.
/// When copy fails, the new file must not take the old one's place: a file without its ACL
/// could be open to more people than before.
class FileAttributes {
  public:
    /// Gives `to_fd` every attribute this process can list on `from_fd` (open for reading),
    /// and no ACL when `from_fd` has none. Returns 0, or the errno of the first attribute that
    /// could not be read from the old file or set on the new one.
    static int copy(FileSystem& fs, int from_fd, int to_fd);
};

}  // namespace wendrel::core
