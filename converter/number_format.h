// The number texts of the two scene texts: coordinate and colour fields, their lines, and
// the index item. Pure: value in, bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends the coordinate field of value ("#######.#####", or the overflow form with "%") and
// gives true. A NaN or an infinity has no field: it appends nothing and gives false, and the
// caller reports it (code 5).
bool format_coordinate_field(float value, std::string& text);

// Appends the colour field of value ("#.###", or the overflow form). Fails as above.
bool format_colour_field(float value, std::string& text);

// Sets text to the coordinate line of x, y and z: three fields with one blank between them
// and "," after the last, and gives true. When a field fails, the line stops there: text holds
// what was built before it, and the result is false.
bool format_coordinate_line(float x, float y, float z, std::string& text);

// Sets text to the colour line of red, green and blue, as above.
bool format_colour_line(float red, float green, float blue, std::string& text);

// An index item: a blank or "-", the decimal digits, one blank. Twelve characters at most, for
// a sign, the 10 digits of 2147483648 and the blank. Held in place, since two million faces
// format some six million of them.
struct IndexItem {
    char chars[12];
    std::uint8_t first = 12; // the item is chars[first, 12)

    std::string_view text() const { return {chars + first, sizeof chars - first}; }
};

void format_index_item(std::int32_t index, IndexItem& item);
