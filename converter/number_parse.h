// The number parse of the header's count texts.
#pragma once

#include <string_view>

// The value of a count text in the extended format. A based integer ("&H", "&O") wider than
// 64 bits raises failure 6 and gives 0.
long double parse_number(std::string_view text);
