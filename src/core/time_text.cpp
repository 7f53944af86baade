#include "time_text.h"

#include <ctime>

namespace wendrel::core {

std::string local_time_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return {};
    }
    char text[64];
    const std::size_t size = std::strftime(text, sizeof text, "%X", &local);
    return std::string(text, size);
}

}  // namespace wendrel::core
