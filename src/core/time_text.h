#pragma once

#include <string>

namespace wendrel::core {

/// The local time of day in the locale's time format, without date or time zone.
std::string local_time_text();

}  // namespace wendrel::core
