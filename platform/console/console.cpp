// The console calls of the run: rows, the line editor with its answer rule, the end of the run,
// and the step check with the failure box.
#include "platform/console/console.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/console/failure_box.h"
#include "platform/console/front_end.h"
#include "platform/console/keyboard.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"

namespace {

constexpr std::size_t longest_answer = 255;
constexpr int final_wait_milliseconds = 100;

// A quoted answer runs from its opening quote to the next one, and nothing may follow that;
// any other answer may hold no comma.
bool follows_answer_rule(const std::string& answer) {
    if (!answer.empty() && answer[0] == '"') {
        std::size_t closing = answer.find('"', 1);
        return closing == std::string::npos || closing + 1 == answer.size();
    }
    return answer.find(',') == std::string::npos;
}

std::string answer_value(const std::string& answer) {
    if (!answer.empty() && answer[0] == '"') {
        std::size_t closing = answer.find('"', 1);
        return answer.substr(1, closing == std::string::npos ? std::string::npos : closing - 1);
    }
    return answer;
}

// The bell is a pause of 250 ms. An end request ends it at once: the run then ends at its next
// step check, not after the bells.
void pause_for_bell() {
    const auto pause_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (!end_requested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= pause_end)
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            pause_end - now, std::chrono::milliseconds(answer_wait_milliseconds)));
    }
}

// Waits for the next key of an answer. The end request, or the end of the keys, ends the run
// here.
Key wait_for_answer_key() {
    for (;;) {
        if (end_requested())
            stop_run(RunEnd::EndRequest);
        Key key;
        KeyWait wait = wait_for_key(answer_wait_milliseconds, key);
        if (wait == KeyWait::Key)
            return key;
        if (wait == KeyWait::EndOfKeys) {
            raise_end_request();
            stop_run(RunEnd::EndRequest);
        }
    }
}

struct LineEditor {
    Screen noted; // the screen right after "? "
    std::string answer;
};

void type_character(Screen& screen, LineEditor& editor, std::uint8_t byte) {
    if (editor.answer.size() >= longest_answer)
        return;
    editor.answer.push_back(static_cast<char>(byte));
    if (!follows_answer_rule(editor.answer)) {
        // Refused: taken back before it was drawn, so the screen stays as it was.
        editor.answer.pop_back();
        return;
    }
    print_bytes(screen, std::string_view(&editor.answer.back(), 1));
}

void take_back_character(Screen& screen, LineEditor& editor) {
    if (editor.answer.empty())
        return;
    editor.answer.pop_back();
    screen = editor.noted;
    print_bytes(screen, editor.answer);
}

} // namespace

void print_row(std::initializer_list<std::string_view> texts) {
    if (failure_pending())
        return;
    Screen& screen = console_screen();
    for (std::string_view text : texts) {
        // A header line of thousands of bells pauses once, not once a bell.
        if (print_text(screen, text) == Bell::Rang)
            pause_for_bell();
    }
    end_row(screen);
    show_screen();
}

void input_answer(std::string& field) {
    if (failure_pending())
        return;
    Screen& screen = console_screen();
    print_bytes(screen, "? ");
    show_screen();
    LineEditor editor;
    editor.noted = screen;
    for (;;) {
        Key key = wait_for_answer_key();
        if (key.kind != KeyKind::OneByte)
            continue; // cursor and function keys
        const KeyCode code = static_cast<KeyCode>(key.code);
        if (code == KeyCode::Enter)
            break;
        switch (code) {
        case KeyCode::Backspace:
            take_back_character(screen, editor);
            break;
        case KeyCode::Tab: {
            // Blanks up to the next multiple of 8 of the answer's length, each typed as a key.
            std::size_t blank_count = 8 - editor.answer.size() % 8;
            for (std::size_t i = 0; i < blank_count; ++i)
                type_character(screen, editor, ' ');
            break;
        }
        case KeyCode::Bell:
            // A bell typed alone pauses; one in a paste, with the next keys already waiting,
            // would hold every key behind it, so it only rings.
            if (!key_waiting())
                pause_for_bell();
            break;
        case KeyCode::LineFeed:
        case KeyCode::CursorHome:
        case KeyCode::ClearRegion:
        case KeyCode::CursorRight:
        case KeyCode::CursorLeft:
        case KeyCode::CursorUp:
        case KeyCode::CursorDown:
            break; // they would move the cursor; an answer keeps them out
        default:
            type_character(screen, editor, key.code);
            break;
        }
        show_screen();
    }
    end_row(screen);
    show_screen();
    field = answer_value(editor.answer);
}

void end_run(int step) {
    close_all_files();
    check_step(step);
    Screen& screen = console_screen();
    // This row end only blanks row 25 for the prompt; it ends no row of the run's own.
    RowEndObserver observer = screen.row_ended;
    screen.row_ended = nullptr;
    narrow_region_to_bottom_row(screen);
    end_row(screen);
    screen.row_ended = observer;
    print_bytes(screen, "Press any key to continue");
    if (front_end_mode() == FrontEndMode::Terminal) {
        // Keys typed before the prompt shows must not end the wait, so they go before it is
        // drawn. In pipe mode the keys are a script written before the run: none is dropped.
        drop_waiting_keys();
        show_screen();
    } else {
        write_output_line("Press any key to continue");
    }
    for (;;) {
        if (end_requested())
            stop_run(RunEnd::EndRequest);
        Key key;
        KeyWait wait = wait_for_key(final_wait_milliseconds, key);
        if (wait == KeyWait::Key)
            stop_run(RunEnd::KeyAfterPrompt); // any key, one with two bytes too
        if (wait == KeyWait::EndOfKeys) {
            raise_end_request();
            stop_run(RunEnd::EndRequest);
        }
    }
}

void act_on_step_check(int step) {
    // The end request comes first: a failure pending then is not reported.
    if (end_requested())
        stop_run(RunEnd::EndRequest);
    if (failure_pending())
        report_failure(step);
}

void report_failure(int step) {
    switch (ask_failure_box(pending_failure_code(), step)) {
    case BoxAnswer::Yes:
        clear_failure();
        return;
    case BoxAnswer::No:
        stop_run(RunEnd::AnswerNo);
    case BoxAnswer::EndRequest:
        stop_run(RunEnd::EndRequest);
    }
}
