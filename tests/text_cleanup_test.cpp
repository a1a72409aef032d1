// The clean-up pass: every temporary line reaches the final file trimmed and with single blanks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "converter/stages.h"
#include "platform/file_layer/file_access.h"
#include "tests/mesh_builder.h"
#include "tests/test_support.h"

namespace {

std::string clean(const TempWorkingFolder& folder, const std::string& temporary_text) {
    folder.write_file("TEMP1.TMP", temporary_text);
    RunState run;
    clean_up_text_file(run, "TEMP1.TMP", "out.wrl", wrl_clean_up_steps);
    return folder.read_file("out.wrl");
}

// The rules one character at a time: trim, single blanks, no blank before a comma.
std::string plainly_cleaned(const std::string& line) {
    std::string collapsed;
    for (char c : line)
        if (c != ' ' || (!collapsed.empty() && collapsed.back() != ' '))
            collapsed += c;
    while (!collapsed.empty() && collapsed.back() == ' ')
        collapsed.pop_back();
    std::string cleaned;
    for (std::size_t i = 0; i < collapsed.size(); ++i)
        if (collapsed[i] != ' ' || collapsed[i + 1] != ',')
            cleaned += collapsed[i];
    return cleaned;
}

} // namespace

TEST(TextCleanup, CleansEveryLine) {
    struct Case {
        const char* name;
        std::string raw;
        std::string final_line;
    };
    const Case cases[] = {
        {"head line", "#VRML V2.0 utf8 ", "#VRML V2.0 utf8"},
        {"single blank", " ", ""},
        {"only blanks", "        ", ""},
        {"indented keyword", "  geometry IndexedFaceSet {", "geometry IndexedFaceSet {"},
        {"inner blanks", "     point    [", "point ["},
        {"coordinate line", "      1.50000      -2.25000       0.00000,",
         "1.50000 -2.25000 0.00000,"},
        {"colour line", "0.502 1.000 0.000,", "0.502 1.000 0.000,"},
        {"face line", " 0 ,  1 ,  2 , -1,", "0, 1, 2, -1,"},
        {"negative index", " 12 , -5 ,  7 ,  300 , -1,", "12, -5, 7, 300, -1,"},
        {"triangle line", " 0 ,  2 ,  1  -1,", "0, 2, 1 -1,"},
        {"runs of two to four", "a  b   c    d", "a b c d"},
        {"blanks before commas go", "x   ,  ,z", "x,,z"},
        {"blanks after commas stay", "a , , b", "a,, b"},
        {"tab is no blank", "\ta \t b", "\ta \t b"},
        // The whole line reaches the final file: a long face keeps its end.
        {"face line of 89 characters",
         " 0 ,  1 ,  2 ,  3 ,  4 ,  5 ,  6 ,  7 ,  8 ,  9 ,  10 ,  11 ,  12 ,  13 ,  14 ,  15 , "
         "-1,",
         "0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, -1,"},
        {"comment line",
         "# Convert BINARY .ply to .iv (Inventor) by Morvantellis  morvantellis.example     ",
         "# Convert BINARY .ply to .iv (Inventor) by Morvantellis morvantellis.example"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkingFolder folder;
        EXPECT_EQ(clean(folder, c.raw + "\r\n"), c.final_line + "\r\n");
    }
}

TEST(TextCleanup, KeepsTheLinesAndTheirOrder) {
    TempWorkingFolder folder;
    // No empty line after the last, whether or not it has a line end.
    EXPECT_EQ(clean(folder, "a\r\n\r\n b \r\n"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(clean(folder, "a\r\nb"), "a\r\nb\r\n");
    EXPECT_EQ(folder.read_file("TEMP1.TMP"), "a\r\nb"); // the temporary file is left as it was
}

// Lines of every length up to three mask words and past, blanks and commas at every place: the
// runs of blanks cross the words of 64 characters and the line's padding to 80.
TEST(TextCleanup, AgreesWithThePlainRulesOnLinesOfEveryShape) {
    std::mt19937 random(7);
    const std::string alphabet = "   ,,a-";
    std::string temporary_text;
    std::string expected;
    for (std::size_t length = 0; length <= 200; ++length) {
        for (int copy = 0; copy < 8; ++copy) {
            std::string line;
            for (std::size_t i = 0; i < length; ++i)
                line += alphabet[random() % alphabet.size()];
            temporary_text += line + "\r\n";
            expected += plainly_cleaned(line) + "\r\n";
        }
    }
    TempWorkingFolder folder;
    EXPECT_EQ(clean(folder, temporary_text), expected);
}

// A line longer than a segment of the reader is cleaned a segment at a time, yet reaches the final
// file as the rules give the whole line: every blank, comma and letter at both sides of a segment's
// end, segments of blanks only at the start, in the middle and at the end, and a comma after them.
TEST(TextCleanup, LongLinesAreCleanedWholeAcrossTheirSegments) {
    const std::size_t segment = longest_line_segment;
    std::mt19937 random(11);
    const std::string alphabet = " ,a";
    auto random_text = [&](std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        return text;
    };
    std::vector<std::string> lines;
    // Every four characters from the alphabet around the end of the first segment.
    for (int window = 0; window < 81; ++window) {
        std::string around;
        for (int i = 0, w = window; i < 4; ++i, w /= 3)
            around += alphabet[static_cast<std::size_t>(w % 3)];
        lines.push_back(random_text(segment - 2) + around + random_text(50));
    }
    const std::string blanks(2 * segment + 5, ' ');
    lines.push_back(blanks + "x y");
    lines.push_back("x" + blanks + "y");
    lines.push_back("x" + blanks + ", y");
    lines.push_back("x ," + blanks);
    lines.push_back(blanks);
    std::string temporary_text;
    std::string expected;
    for (const std::string& line : lines) {
        temporary_text += line + "\r\n";
        expected += plainly_cleaned(line) + "\r\n";
    }
    TempWorkingFolder folder;
    EXPECT_TRUE(clean(folder, temporary_text) == expected);
}
