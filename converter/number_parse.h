// The number parse of the header's count texts.
#pragma once

#include <string_view>

// The value of a count text in the extended format.
struct ParsedNumber {
    long double value;
    // A based integer ("&H", "&O") wider than 64 bits: the value is 0, and the caller reports
    // it (code 6).
    bool overflowed;
};

ParsedNumber parse_number(std::string_view text);
