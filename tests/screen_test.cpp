// Tests of the screen model: the fit rule, the wrap flag, row ends, scrolling, the acting bytes.
#include "platform/console/screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_ended_rows;

void note_ended_row(const Screen& screen, int row) {
    g_ended_rows.push_back(row_text(screen, row));
}

Screen fresh_screen() {
    Screen screen;
    clear_screen(screen);
    screen.row_ended = note_ended_row;
    g_ended_rows.clear();
    return screen;
}

std::vector<std::string> first_rows(const Screen& screen, int count) {
    std::vector<std::string> rows;
    for (int row = 1; row <= count; ++row)
        rows.push_back(row_text(screen, row));
    return rows;
}

std::string repeat(char c, int count) {
    return std::string(static_cast<std::size_t>(count), c);
}

} // namespace

// Each case prints a text after `before` (which is printed first, on its own) and checks the
// rows, the cursor and the wrap flag.
TEST(Screen, FitRuleAndWrapFlag) {
    struct Case {
        const char* name;
        std::string before;
        std::string text;
        std::vector<std::string> rows; // rows 1 to 3
        int row, column;
        bool wrap_pending;
    };
    const Case cases[] = {
        {"30 characters in column 60 start the next row",
         repeat('p', 59),
         repeat('t', 30),
         {repeat('p', 59), repeat('t', 30), ""},
         2,
         31,
         false},
        {"21 characters in column 60 fit and end in column 80",
         repeat('p', 59),
         repeat('t', 21),
         {repeat('p', 59) + repeat('t', 21), "", ""},
         1,
         80,
         true},
        {"100 characters in column 1 run on",
         "",
         repeat('t', 100),
         {repeat('t', 80), repeat('t', 20), ""},
         2,
         21,
         false},
        {"81 characters in column 5 start the next row and run on",
         "abcd",
         repeat('t', 81),
         {"abcd", repeat('t', 80), "t"},
         3,
         2,
         false},
        {"after a filled row the next text starts the next row",
         repeat('p', 80),
         "abc",
         {repeat('p', 80), "abc", ""},
         2,
         4,
         false},
        {"an empty text after a filled row leaves the flag",
         repeat('p', 80),
         "",
         {repeat('p', 80), "", ""},
         1,
         80,
         true},
        {"an empty text in column 80 fits",
         repeat('p', 79),
         "",
         {repeat('p', 79), "", ""},
         1,
         80,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen = fresh_screen();
        print_text(screen, c.before);
        print_text(screen, c.text);
        EXPECT_EQ(first_rows(screen, 3), c.rows);
        EXPECT_EQ(screen.row, c.row);
        EXPECT_EQ(screen.column, c.column);
        EXPECT_EQ(screen.wrap_pending, c.wrap_pending);
    }
}

TEST(Screen, RowEndAfterFilledRowLeavesNoEmptyRow) {
    Screen screen = fresh_screen();
    print_text(screen, repeat('p', 59));
    print_text(screen, repeat('t', 21));
    end_row(screen);
    print_text(screen, "next");
    end_row(screen);
    EXPECT_EQ(first_rows(screen, 3),
              (std::vector<std::string>{repeat('p', 59) + repeat('t', 21), "next", ""}));
    EXPECT_EQ(g_ended_rows, (std::vector<std::string>{repeat('p', 59) + repeat('t', 21), "next"}));
    EXPECT_EQ(screen.row, 3);
    EXPECT_EQ(screen.column, 1);
}

TEST(Screen, PrintBytesHasNoFitRule) {
    Screen screen = fresh_screen();
    print_bytes(screen, repeat('p', 59));
    print_bytes(screen, repeat('t', 30));
    EXPECT_EQ(first_rows(screen, 2),
              (std::vector<std::string>{repeat('p', 59) + repeat('t', 21), repeat('t', 9)}));
    // The wrap into row 2 is a row end that the front end sees.
    EXPECT_EQ(g_ended_rows, (std::vector<std::string>{repeat('p', 59) + repeat('t', 21)}));
}

TEST(Screen, ScrollsAtTheEndOfThe25thRow) {
    Screen screen = fresh_screen();
    for (int i = 1; i <= 25; ++i) {
        print_text(screen, "row " + std::to_string(i));
        end_row(screen);
    }
    EXPECT_EQ(row_text(screen, 1), "row 2");
    EXPECT_EQ(row_text(screen, 24), "row 25");
    EXPECT_EQ(row_text(screen, 25), "");
    EXPECT_EQ(screen.row, 25);
    EXPECT_EQ(screen.column, 1);
    // Each row is seen with its content as it was ended, the 25th before the scroll.
    ASSERT_EQ(g_ended_rows.size(), 25u);
    EXPECT_EQ(g_ended_rows[24], "row 25");
}

// Each case prints its texts, each with a row end after it, from a fresh screen.
TEST(Screen, BytesThatAct) {
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        std::vector<std::string> rows; // rows 1 to 3
        int row, column;
        bool end_rows; // a row end after each text
    };
    const Case cases[] = {
        {"13 at the end leaves an empty row", {"header\r"}, {"header", "", ""}, 3, 1, true},
        {"10 and 13 end the row", {"a\nb\rc"}, {"a", "b", "c"}, 3, 2, false},
        {"9 from column 1 goes to column 9", {"\tx"}, {repeat(' ', 8) + "x", "", ""}, 1, 10, false},
        {"9 from column 8 draws one blank", {"abcdefg\tx"}, {"abcdefg x", "", ""}, 1, 10, false},
        {"9 in column 73 goes past column 80 to the next row",
         {repeat('p', 72) + "\tx"},
         {repeat('p', 72), "x", ""},
         2,
         2,
         false},
        {"9 as the last byte in column 75 waits in column 80",
         {repeat('p', 74) + "\t"},
         {repeat('p', 74), "", ""},
         1,
         80,
         false},
        {"11 goes to column 1 of the first row",
         {"abc\ndef\x0bX"},
         {"Xbc", "def", ""},
         1,
         2,
         false},
        {"12 clears the region", {"abc\ndef\x0cX"}, {"X", "", ""}, 1, 2, false},
        {"28 moves right",
         {"a\x1c"
          "b"},
         {"a b", "", ""},
         1,
         4,
         false},
        {"28 in column 80 goes to the next row",
         {repeat('p', 79) + "\x1c" + "b"},
         {repeat('p', 79), "b", ""},
         2,
         2,
         false},
        {"29 moves left", {"ab\x1dX"}, {"aX", "", ""}, 1, 3, false},
        {"29 in column 1 of row 1 stays", {"\x1dX"}, {"X", "", ""}, 1, 2, false},
        {"30 moves up, not above row 1", {"a\nb\x1e\x1e\x1eX"}, {"aX", "b", ""}, 1, 3, false},
        {"31 moves down",
         {"a\x1f"
          "b"},
         {"a", " b", ""},
         2,
         3,
         false},
        {"7 draws nothing",
         {"a\x07"
          "b"},
         {"ab", "", ""},
         1,
         3,
         false},
        {"0 is drawn", {std::string("a\0b", 3)}, {std::string("a\0b", 3), "", ""}, 1, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen = fresh_screen();
        for (const std::string& text : c.texts) {
            print_text(screen, text);
            if (c.end_rows)
                end_row(screen);
        }
        EXPECT_EQ(first_rows(screen, 3), c.rows);
        EXPECT_EQ(screen.row, c.row);
        EXPECT_EQ(screen.column, c.column);
    }
}

TEST(Screen, ByteTwentyNineWrapsToTheRowAbove) {
    // "a", a row end, then 29 from column 1 of row 2 goes to column 80 of row 1.
    Screen screen = fresh_screen();
    print_text(screen, "a\n\x1dX");
    EXPECT_EQ(row_text(screen, 1), "a" + repeat(' ', 78) + "X");
    EXPECT_EQ(screen.row, 1);
    EXPECT_EQ(screen.column, 80);
    EXPECT_TRUE(screen.wrap_pending);
}

TEST(Screen, CursorMovesStopAtTheBottomRow) {
    Screen screen = fresh_screen();
    for (int i = 1; i <= 24; ++i)
        end_row(screen);
    print_text(screen, repeat('p', 79) + "\x1c\x1c\x1f" + "X");
    // 28 in column 80 of the last row stays there; 31 on the last row does nothing; X then
    // fills column 80.
    EXPECT_EQ(row_text(screen, 25), repeat('p', 79) + "X");
    EXPECT_EQ(screen.row, 25);
    EXPECT_TRUE(screen.wrap_pending);
}

TEST(Screen, BottomRowAloneScrollsAlone) {
    Screen screen = fresh_screen();
    for (int i = 1; i <= 24; ++i) {
        print_text(screen, "row " + std::to_string(i));
        end_row(screen);
    }
    print_text(screen, "left on row 25");
    narrow_region_to_bottom_row(screen);
    EXPECT_EQ(screen.row, 25);
    EXPECT_EQ(screen.column, 1);
    end_row(screen);
    EXPECT_EQ(row_text(screen, 25), "");
    print_bytes(screen, repeat('t', 80) + "tail\x0c"
                                          "X\x0b\x1e"
                                          "Y");
    for (int i = 1; i <= 24; ++i)
        EXPECT_EQ(row_text(screen, i), "row " + std::to_string(i));
    // 12 clears row 25 alone; 11 and 30 stay in it.
    EXPECT_EQ(row_text(screen, 25), "Y");
    EXPECT_EQ(screen.row, 25);
}
