#pragma once

namespace wendrel::core {

/// The signal a write past RLIMIT_FSIZE raises. Its default action ends the program in the
/// middle of a write-back, leaving the new file half-written beside the target; ignored, the
/// write fails with EFBIG instead, which the write-back reports and cleans up after.
class FileSizeSignal {
  public:
    /// Called first thing by each program's main.
    static void ignore();
};

}  // namespace wendrel::core
