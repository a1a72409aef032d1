// The rules of the screen model: the fit rule, row ends and scrolling, and the bytes that act.
#include "platform/console/screen.h"

#include <cassert>
#include <cstring>

namespace {

constexpr std::uint8_t blank = ' ';

void blank_row(Screen& screen, int row) {
    std::memset(screen.cells[row - 1], blank, screen_column_count);
}

void scroll_region_up(Screen& screen) {
    for (int row = screen.region_top; row < screen.region_bottom; ++row)
        std::memcpy(screen.cells[row - 1], screen.cells[row], screen_column_count);
    blank_row(screen, screen.region_bottom);
}

// Puts one byte into the cell under the cursor. After column 80 the row is ended at once when
// more bytes of the same text follow; after the text's last byte the cursor waits there instead.
void put_cell(Screen& screen, std::uint8_t byte, bool more_follow) {
    screen.cells[screen.row - 1][screen.column - 1] = byte;
    if (screen.column < screen_column_count)
        ++screen.column;
    else if (more_follow)
        end_row(screen);
    else
        screen.wrap_pending = true;
}

void act_on_byte(Screen& screen, std::uint8_t byte, bool more_follow) {
    switch (byte) {
    case 7:
        break; // the bell draws nothing; the console pauses for it
    case 9: {
        // Blanks up to and including the next column that is a multiple of 8.
        int blank_count = 8 - (screen.column - 1) % 8;
        for (int i = 1; i <= blank_count; ++i)
            put_cell(screen, blank, i < blank_count || more_follow);
        break;
    }
    case 10:
    case 13:
        end_row(screen);
        break;
    case 11:
        screen.row = screen.region_top;
        screen.column = 1;
        break;
    case 12:
        for (int row = screen.region_top; row <= screen.region_bottom; ++row)
            blank_row(screen, row);
        screen.row = screen.region_top;
        screen.column = 1;
        break;
    case 28:
        if (screen.column < screen_column_count) {
            ++screen.column;
        } else if (screen.row != screen.region_bottom) {
            ++screen.row;
            screen.column = 1;
        }
        break;
    case 29:
        if (screen.column > 1) {
            --screen.column;
        } else if (screen.row != screen.region_top) {
            --screen.row;
            screen.column = screen_column_count;
        }
        break;
    case 30:
        if (screen.row != screen.region_top)
            --screen.row;
        break;
    case 31:
        if (screen.row != screen.region_bottom)
            ++screen.row;
        break;
    default:
        put_cell(screen, byte, more_follow);
        break;
    }
}

} // namespace

void clear_screen(Screen& screen) {
    std::memset(screen.cells, blank, sizeof screen.cells);
    screen.row = 1;
    screen.column = 1;
    screen.wrap_pending = false;
    screen.region_top = 1;
    screen.region_bottom = screen_row_count;
}

void end_row(Screen& screen) {
    if (screen.row_ended != nullptr)
        screen.row_ended(screen, screen.row);
    screen.wrap_pending = false;
    screen.column = 1;
    if (screen.row == screen.region_bottom)
        scroll_region_up(screen);
    else if (screen.row < screen_row_count)
        ++screen.row;
}

Bell print_text(Screen& screen, std::string_view text) {
    // A text longer than a row that starts in column 1 is not moved: it runs on.
    bool row_begun = !screen.wrap_pending && screen.column != 1;
    if (row_begun && screen.column + static_cast<int>(text.size()) - 1 > screen_column_count)
        end_row(screen);
    return print_bytes(screen, text);
}

Bell print_bytes(Screen& screen, std::string_view text) {
    if (screen.wrap_pending && !text.empty())
        end_row(screen);
    for (std::size_t i = 0; i < text.size(); ++i)
        act_on_byte(screen, static_cast<std::uint8_t>(text[i]), i + 1 < text.size());
    return text.find('\a') == std::string_view::npos ? Bell::Silent : Bell::Rang;
}

void narrow_region_to_bottom_row(Screen& screen) {
    screen.region_top = screen_row_count;
    screen.region_bottom = screen_row_count;
    screen.row = screen_row_count;
    screen.column = 1;
    screen.wrap_pending = false;
}

std::string row_text(const Screen& screen, int row) {
    assert(row >= 1 && row <= screen_row_count);
    const std::uint8_t* cells = screen.cells[row - 1];
    int length = screen_column_count;
    while (length > 0 && cells[length - 1] == blank)
        --length;
    return std::string(reinterpret_cast<const char*>(cells), static_cast<std::size_t>(length));
}
