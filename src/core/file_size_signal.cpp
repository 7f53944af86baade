#include "file_size_signal.h"

#include <csignal>

namespace wendrel::core {

void FileSizeSignal::ignore() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace wendrel::core
