#pragma once

#include <cstddef>
#include <string>

namespace wendrel::core {

/// Makes room for `size` bytes in `text` (as std::string::reserve). A buffer of many megabytes
/// is asked to be backed by huge pages before it is first touched: filling it then takes a few
/// hundred page faults instead of tens of thousands, which is most of the cost of loading a
/// large file and of the first pass over it.
void reserve_large(std::string& text, std::size_t size);

}  // namespace wendrel::core
