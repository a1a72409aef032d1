// Tests of the failure box's text and of where it stands over the screen.
#include "platform/console/failure_box.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/console/terminal.h"

namespace {

std::string drawn_row(const Screen& screen, int row) {
    std::string text;
    for (std::uint8_t byte : screen.cells[row - 1])
        text += code_page_437_glyph(byte);
    return text;
}

std::string dots(int count) {
    return std::string(static_cast<std::size_t>(count), '.');
}

Screen dotted_screen() {
    Screen screen;
    clear_screen(screen);
    std::memset(screen.cells, '.', sizeof screen.cells);
    screen.row = 25;
    screen.column = 1;
    return screen;
}

} // namespace

TEST(FailureBox, Text) {
    FailureBoxText text = failure_box_text(76, 99);
    EXPECT_EQ(text.caption, "Unhandled Error #76");
    EXPECT_EQ(text.lines[0], "Line:99");
    EXPECT_EQ(text.lines[1], "Path not found");
    EXPECT_EQ(text.lines[2], "Continue?");
    EXPECT_EQ(failure_box_text(7, 5).lines[1], "Unprintable error");
}

// Every code with its message, and the numbers that are no code of the table: 0, one unknown,
// and one that would wrap onto code 5 in the enumeration's 16 bits.
TEST(FailureBox, MessageOfEveryCode) {
    const std::pair<int, const char*> cases[] = {
        {5, "Illegal function call"},    {6, "Overflow"},
        {52, "Bad file name or number"}, {53, "File not found"},
        {54, "Bad file mode"},           {55, "File already open"},
        {62, "Input past end of file"},  {63, "Bad record number"},
        {64, "Bad file name"},           {68, "Device unavailable"},
        {70, "Permission denied"},       {75, "Path/File access error"},
        {76, "Path not found"},          {0, "Unprintable error"},
        {99, "Unprintable error"},       {65536 + 5, "Unprintable error"},
        {-1, "Unprintable error"},
    };
    for (const auto& [code, message] : cases)
        EXPECT_EQ(failure_box_text(code, 1).lines[1], message) << code;
}

TEST(FailureBox, DrawnCentredOverTheScreen) {
    const Screen screen = dotted_screen();
    // 27 columns wide = 21 for the caption with its blanks + 3 on each side; rows 9 to 16.
    const std::string rows[] = {
        "╔══ Unhandled Error #76 ══╗", "║                         ║", "║  Line:99                ║",
        "║  Path not found         ║", "║  Continue?              ║", "║                         ║",
        "║    [ Yes ]      No      ║", "╚═════════════════════════╝",
    };
    Screen boxed = screen_with_failure_box(screen, failure_box_text(76, 99), Button::Yes);
    for (int row = 1; row <= 25; ++row) {
        SCOPED_TRACE(row);
        if (row >= 9 && row <= 16)
            EXPECT_EQ(drawn_row(boxed, row), dots(26) + rows[row - 9] + dots(27));
        else
            EXPECT_EQ(drawn_row(boxed, row), dots(80));
    }
    EXPECT_EQ(boxed.row, 15);
    EXPECT_EQ(boxed.column, 34); // on the Y of Yes

    boxed = screen_with_failure_box(screen, failure_box_text(76, 99), Button::No);
    EXPECT_EQ(drawn_row(boxed, 15), dots(26) + "║      Yes      [ No ]    ║" + dots(27));
    EXPECT_EQ(boxed.row, 15);
    EXPECT_EQ(boxed.column, 45); // on the N of No

    // The screen under the box is a copy: the console's own screen is left as it was.
    EXPECT_EQ(drawn_row(screen, 12), dots(80));
}

TEST(FailureBox, WidensForALongCaption) {
    Screen boxed = screen_with_failure_box(dotted_screen(),
                                           failure_box_text(2147483647, 2147483647), Button::Yes);
    // 27 + 2 blanks + 3 on each side = 35 columns, from column 23.
    EXPECT_EQ(drawn_row(boxed, 9), dots(22) + "╔══ Unhandled Error #2147483647 ══╗" + dots(23));
    EXPECT_EQ(drawn_row(boxed, 11), dots(22) + "║  Line:2147483647                ║" + dots(23));
}
