// libFuzzer target for the HTTP date parser: any bytes read as a finite date
// or 0, without a fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "upgrade/http_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const double d =
        HTTPDateToDateTime(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!std::isfinite(d))
        std::abort();
    return 0;
}
