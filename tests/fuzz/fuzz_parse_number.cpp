// The fuzz target of the number parse: arbitrary bytes as a count text, with the two count
// roundings after it, as the header scan takes a count.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "converter/count_rounding.h"
#include "converter/number_parse.h"
#include "platform/file_layer/failure.h"

namespace {

[[noreturn]] void fail(const char* broken, std::string_view text) {
    std::fprintf(stderr, "fuzz_parse_number: %s for the text \"%.*s\"\n", broken,
                 static_cast<int>(text.size()), text.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    clear_failure();
    const ParsedNumber parsed = parse_number(text);
    const long double value = parsed.value;
    // The parse is pure: its caller reports an overflow.
    if (failure_pending())
        fail("a failure raised", text);

    if (std::isnan(value))
        fail("a NaN", text);
    // Only a based integer can overflow, and its overflow gives 0.
    if (parsed.overflowed && (text.find('&') == std::string_view::npos || value != 0))
        fail("an Overflow that is no based integer's, or not 0", text);
    // Without a digit there is no number.
    bool has_digit = false;
    for (char c : text)
        has_digit =
            has_digit || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!has_digit && value != 0)
        fail("a value without a digit", text);

    // The roundings must take every value the parse gives, the infinities included.
    const double vertex_count = vertex_count_from(value);
    const std::int32_t face_count = face_count_from(value);
    if (std::isnan(vertex_count))
        fail("a NaN vertex count", text);
    if (std::isinf(value) && face_count != 0)
        fail("an infinite count that is not 0 as a face count", text);
    return 0;
}
