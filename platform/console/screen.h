// The screen model: 25 rows of 80 code page 437 cells, the cursor, the wrap flag, the print region.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr int screen_row_count = 25;
constexpr int screen_column_count = 80;

struct Screen;

// Told of every row end (of a printed row, of an answer, a wrap into the next row, an acting
// byte 10 or 13) before the cursor leaves the row, so the row still holds what was ended there.
using RowEndObserver = void (*)(const Screen& screen, int row);

// Rows and columns are 1-based; cells[row - 1][column - 1] holds the byte drawn there.
struct Screen {
    std::uint8_t cells[screen_row_count][screen_column_count];
    int row = 1;
    int column = 1;
    // A text has just filled column 80 and the row has not been left yet.
    bool wrap_pending = false;
    // Printing and scrolling happen in region_top to region_bottom.
    int region_top = 1;
    int region_bottom = screen_row_count;
    RowEndObserver row_ended = nullptr;
};

// Blanks every cell, puts the cursor in row 1, column 1 and the region back to rows 1 to 25.
// The observer stays.
void clear_screen(Screen& screen);

// Ends the row: the cursor goes to column 1 of the next row, and the region scrolls up by one
// when the cursor was on its last row.
void end_row(Screen& screen);

// Whether a printed text held the byte 7. The model only draws; the console pauses for the bell,
// once for the whole text however many bells it holds.
enum class Bell { Silent, Rang };

// Prints one text of a row with the fit rule: a text that does not fit in what is left of a row
// already begun starts the next row.
Bell print_text(Screen& screen, std::string_view text);

// Prints a text at the cursor without the fit rule; the bytes 9 to 13 and 28 to 31 act, and 7
// draws nothing.
Bell print_bytes(Screen& screen, std::string_view text);

// Makes row 25 alone the print region, with the cursor in its column 1.
void narrow_region_to_bottom_row(Screen& screen);

// The bytes of a row as they stand, trailing blanks removed.
std::string row_text(const Screen& screen, int row);
