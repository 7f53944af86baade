// The content-file reader against the literal reference model, on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/replace_list_reader.h"
#include "reference_model.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (core::ReplaceListReader::parse(bytes) != test::model_read_records(bytes)) {
        std::abort();
    }
    return 0;
}
