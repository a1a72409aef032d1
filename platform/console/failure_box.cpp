// The failure box: its text, where it stands over the screen, and how each front end asks it.
#include "platform/console/failure_box.h"

#include <algorithm>
#include <cstring>

#include "platform/console/end_request.h"
#include "platform/console/front_end.h"
#include "platform/console/keyboard.h"
#include "platform/file_layer/failure.h"

namespace {

// Code page 437 double-line frame characters.
constexpr std::uint8_t corner_top_left = 201;
constexpr std::uint8_t corner_top_right = 187;
constexpr std::uint8_t corner_bottom_left = 200;
constexpr std::uint8_t corner_bottom_right = 188;
constexpr std::uint8_t edge_across = 205;
constexpr std::uint8_t edge_down = 186;

// 8 rows = top edge, blank, three text lines, blank, buttons, bottom edge.
constexpr int box_row_count = 8;
constexpr int text_first_row = 2; // 0-based rows inside the box
constexpr int button_row = 6;
// 3 = the edge and two blanks on each side of the text.
constexpr int side_width = 3;
constexpr int widest_content = screen_column_count - 2 * side_width;
// "[ Yes ]", four blanks, "[ No ]": 7 + 4 + 6 = 17.
constexpr int button_row_width = 17;
constexpr int no_button_offset = 11;

void put_text(Screen& screen, int row, int column, const std::string& text, int width) {
    int length = std::min(static_cast<int>(text.size()), width);
    std::memcpy(&screen.cells[row - 1][column - 1], text.data(), static_cast<std::size_t>(length));
}

void put_edge_row(Screen& screen, int row, int left, int width, std::uint8_t first,
                  std::uint8_t last) {
    std::uint8_t* cells = &screen.cells[row - 1][left - 1];
    cells[0] = first;
    std::memset(cells + 1, edge_across, static_cast<std::size_t>(width - 2));
    cells[width - 1] = last;
}

void put_inner_row(Screen& screen, int row, int left, int width) {
    std::uint8_t* cells = &screen.cells[row - 1][left - 1];
    cells[0] = edge_down;
    std::memset(cells + 1, ' ', static_cast<std::size_t>(width - 2));
    cells[width - 1] = edge_down;
}

BoxAnswer ask_in_pipe(const FailureBoxText& text) {
    write_output_line(text.caption);
    for (const std::string& line : text.lines)
        write_output_line(line);
    for (;;) {
        if (end_requested())
            return BoxAnswer::EndRequest;
        Key key;
        KeyWait wait = wait_for_key(answer_wait_milliseconds, key);
        if (wait == KeyWait::EndOfKeys)
            return BoxAnswer::No; // nobody is left to answer Yes
        if (wait != KeyWait::Key || key.kind != KeyKind::OneByte)
            continue;
        if (key.code == 'y' || key.code == 'Y')
            return BoxAnswer::Yes;
        if (key.code == 'n' || key.code == 'N')
            return BoxAnswer::No;
    }
}

Button other_button(Button focus) {
    return focus == Button::Yes ? Button::No : Button::Yes;
}

BoxAnswer ask_in_terminal(const FailureBoxText& text) {
    Button focus = Button::Yes;
    // Keys typed before the box shows were meant for what the screen showed then (a second
    // Enter after an answer): they go before it is drawn, so that none answers a box unseen.
    // Pipe mode keeps them: there the keys are a script that answers the boxes it expects.
    drop_waiting_keys();
    show_frame(screen_with_failure_box(console_screen(), text, focus));
    for (;;) {
        // Decided: an end request (Ctrl+C, the terminal gone) closes the box at once.
        if (end_requested())
            return BoxAnswer::EndRequest;
        Key key;
        KeyWait wait = wait_for_key(answer_wait_milliseconds, key);
        if (wait == KeyWait::EndOfKeys)
            return BoxAnswer::EndRequest;
        if (wait != KeyWait::Key)
            continue;
        Button moved = focus;
        if (key.kind == KeyKind::OneByte) {
            if (key.code == 'y' || key.code == 'Y')
                return BoxAnswer::Yes;
            if (key.code == 'n' || key.code == 'N')
                return BoxAnswer::No;
        }
        if (is_key(key, KeyCode::Enter))
            return focus == Button::Yes ? BoxAnswer::Yes : BoxAnswer::No;
        if (is_key(key, KeyCode::Tab) || is_sequence(key, SequenceEnd::ShiftTab))
            moved = other_button(focus);
        else if (is_sequence(key, SequenceEnd::Left))
            moved = Button::Yes;
        else if (is_sequence(key, SequenceEnd::Right))
            moved = Button::No;
        if (moved != focus) {
            focus = moved;
            show_frame(screen_with_failure_box(console_screen(), text, focus));
        }
    }
}

} // namespace

FailureBoxText failure_box_text(int code, int step) {
    FailureBoxText text;
    text.caption = "Unhandled Error #" + std::to_string(code);
    text.lines[0] = "Line:" + std::to_string(step);
    text.lines[1] = failure_message(code);
    text.lines[2] = "Continue?";
    return text;
}

Screen screen_with_failure_box(const Screen& screen, const FailureBoxText& text, Button focus) {
    Screen boxed = screen;
    // The caption stands in the top edge with a blank on each side of it.
    int content_width = std::max(button_row_width, static_cast<int>(text.caption.size()) + 2);
    for (const std::string& line : text.lines)
        content_width = std::max(content_width, static_cast<int>(line.size()));
    content_width = std::min(content_width, widest_content);
    int width = content_width + 2 * side_width;
    int top = (screen_row_count - box_row_count) / 2 + 1;
    int left = (screen_column_count - width) / 2 + 1;

    put_edge_row(boxed, top, left, width, corner_top_left, corner_top_right);
    for (int row = 1; row < box_row_count - 1; ++row)
        put_inner_row(boxed, top + row, left, width);
    put_edge_row(boxed, top + box_row_count - 1, left, width, corner_bottom_left,
                 corner_bottom_right);

    std::string title = " " + text.caption + " ";
    int title_width = std::min(static_cast<int>(title.size()), width - 2);
    put_text(boxed, top, left + (width - title_width) / 2, title, title_width);
    for (int i = 0; i < 3; ++i)
        put_text(boxed, top + text_first_row + i, left + side_width, text.lines[i], content_width);

    int buttons = left + side_width + (content_width - button_row_width) / 2;
    int no_button = buttons + no_button_offset;
    put_text(boxed, top + button_row, buttons, focus == Button::Yes ? "[ Yes ]" : "  Yes  ", 7);
    put_text(boxed, top + button_row, no_button, focus == Button::No ? "[ No ]" : "  No  ", 6);

    boxed.row = top + button_row;
    boxed.column = (focus == Button::Yes ? buttons : no_button) + 2;
    boxed.wrap_pending = false;
    return boxed;
}

BoxAnswer ask_failure_box(int code, int step) {
    FailureBoxText text = failure_box_text(code, step);
    if (front_end_mode() == FrontEndMode::Pipe)
        return ask_in_pipe(text);
    BoxAnswer answer = ask_in_terminal(text);
    show_screen(); // the screen as it was before the box
    return answer;
}
