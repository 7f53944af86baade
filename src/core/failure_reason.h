#pragma once

#include <string>

namespace wendrel::core {

/// Causes of a failure that are Wendrel's own rather than the system's. They travel where an
/// errno does, above the range of errno values.
namespace failure {
inline constexpr int kNotRegularFile = 0x10000;     // a FIFO, device or socket
inline constexpr int kLockedByOtherJob = 0x10001;   // another Wendrel job works on the file
inline constexpr int kAttributesNotKept = 0x10002;  // the new file could not take them
inline constexpr int kRulesFileUtf16 = 0x10003;     // a rules file Wendrel cannot read as bytes
/// Never shown: a rewrite found that the file already holds its new content.
inline constexpr int kNothingToChange = 0x10004;
/// The new text holds a character the file's encoding has no bytes for.
inline constexpr int kNotRepresentable = 0x10005;
/// The file is not text in the encoding it was to be read in.
inline constexpr int kNotInEncoding = 0x10006;
/// The rules file's text cannot be read in the target's encoding.
inline constexpr int kRulesNotInEncoding = 0x10007;
/// An encoding name that iconv does not know.
inline constexpr int kUnknownEncoding = 0x10008;
}  // namespace failure

/// The reason line shown under a failure line: "  原因：" and the cause, Wendrel's own causes in
/// the job's language, the system's in the user's locale (its messages' language). Control
/// characters of the system's text are escaped like a path's.
std::string reason_line(int error);

}  // namespace wendrel::core
