// Tests of the key decoder: the keys that the terminal's and a pipe's bytes give.
#include "platform/console/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One word per key: the byte in decimal, "two:X" for a two-byte key ending in X, "break".
std::string describe(const std::vector<Key>& keys) {
    std::string text;
    for (const Key& key : keys) {
        if (!text.empty())
            text += ' ';
        if (key.kind == KeyKind::Break)
            text += "break";
        else if (key.kind == KeyKind::TwoByte)
            text += key.code == 0 ? std::string("two:0") : "two:" + std::string(1, key.code);
        else
            text += std::to_string(key.code);
    }
    return text;
}

// Feeds one byte and appends the keys it completes.
void feed(KeyDecoder& decoder, std::uint8_t byte, std::vector<Key>& keys) {
    DecodedKeys decoded = decode_key_byte(decoder, byte);
    keys.insert(keys.end(), decoded.keys, decoded.keys + decoded.count);
}

// Feeds the bytes; `pause` stands for a moment with no byte, when a pending ESC is finished.
std::string decode(FrontEndMode mode, const std::string& bytes, bool pause_after) {
    KeyDecoder decoder;
    decoder.mode = mode;
    std::vector<Key> keys;
    for (char byte : bytes)
        feed(decoder, static_cast<std::uint8_t>(byte), keys);
    if (pause_after && escape_pending(decoder)) {
        DecodedKeys finished = finish_escape(decoder);
        keys.insert(keys.end(), finished.keys, finished.keys + finished.count);
    }
    return describe(keys);
}

struct Case {
    const char* name;
    std::string bytes;
    std::string keys;
};

} // namespace

TEST(KeyDecoder, TerminalKeys) {
    const Case cases[] = {
        {"Enter is CR", "\r", "13"},
        {"LF counts as Enter", "\n", "13"},
        {"CR LF read together is one Enter, as a paste gives it", "\r\n", "13"},
        {"CR CR LF is two Enters", "\r\r\n", "13 13"},
        {"LF LF is two Enters", "\n\n", "13 13"},
        {"LF CR is two Enters", "\n\r", "13 13"},
        {"a key between CR and LF", "\r\x1b[A\n", "13 two:A 13"},
        {"DEL is Backspace", "\x7f", "8"},
        {"Ctrl+H is Backspace", "\x08", "8"},
        {"Ctrl+C is the break",
         "a\x03"
         "b",
         "97 break 98"},
        {"cursor up", "\x1b[A", "two:A"},
        {"right arrow in application mode", "\x1bOC", "two:C"},
        {"F1", "\x1bOP", "two:P"},
        {"Ctrl+right arrow", "\x1b[1;5C", "two:C"},
        {"F5", "\x1b[15~", "two:~"},
        {"F1 of the Linux console", "\x1b[[A", "two:A"},
        {"Shift+Tab", "\x1b[Z", "two:Z"},
        {"keys around a sequence", "a\x1b[Db", "97 two:D 98"},
        {"a lone Escape", "\x1b", "27"},
        {"Escape then a letter", "\x1bx", "27 120"},
        {"Escape twice then a cursor key", "\x1b\x1b[B", "27 two:B"},
        {"Escape then Enter", "\x1b\r", "27 13"},
        {"a broken sequence is one ignored key", "\x1b[1\r", "two:0 13"},
        {"an unfinished sequence is one ignored key", "\x1b[1", "two:0"},
        {"bytes above 127 stand", "\x82\xff", "130 255"},
        {"Tab and the bell", "\t\a", "9 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(FrontEndMode::Terminal, c.bytes, true), c.keys);
    }
}

TEST(KeyDecoder, EscapeWaitsForWhatFollows) {
    KeyDecoder decoder;
    decoder.mode = FrontEndMode::Terminal;
    std::vector<Key> keys;
    feed(decoder, 27, keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_TRUE(escape_pending(decoder));
    // The rest of a sequence that came in a later read still makes one key.
    feed(decoder, '[', keys);
    feed(decoder, 'A', keys);
    EXPECT_EQ(describe(keys), "two:A");
    EXPECT_FALSE(escape_pending(decoder));
}

TEST(KeyDecoder, LineEndWithNothingMoreToRead) {
    // At the terminal a CR with no byte waiting behind it is Enter typed alone: a LF typed
    // afterwards (Ctrl+J) is an Enter of its own. In pipe mode the keys are a text file, whose
    // CR LF stays one line end.
    struct TimedCase {
        FrontEndMode mode;
        const char* keys;
    };
    const TimedCase cases[] = {{FrontEndMode::Terminal, "97 13 13"}, {FrontEndMode::Pipe, "97 13"}};
    for (const TimedCase& c : cases) {
        KeyDecoder decoder;
        decoder.mode = c.mode;
        std::vector<Key> keys;
        feed(decoder, 'a', keys);
        feed(decoder, 13, keys);
        no_byte_waiting(decoder);
        feed(decoder, 10, keys);
        EXPECT_EQ(describe(keys), c.keys);
    }
}

TEST(KeyDecoder, PipeKeys) {
    const Case cases[] = {
        {"LF is Enter", "ab\ncd\n", "97 98 13 99 100 13"},
        {"a CR right before a LF is dropped", "ab\r\ncd\r\n", "97 98 13 99 100 13"},
        {"a CR alone is Enter", "a\rb", "97 13 98"},
        {"CR CR LF is two Enters", "\r\r\n", "13 13"},
        {"LF LF is two Enters", "\n\n", "13 13"},
        {"LF CR is two Enters", "\n\r", "13 13"},
        {"DEL stays DEL", "\x7f", "127"},
        {"Backspace", "\x08", "8"},
        {"ESC sequences are plain bytes", "\x1b[A", "27 91 65"},
        {"Ctrl+C is a plain byte", "\x03", "3"},
        {"NUL is a key", std::string("\0", 1), "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(FrontEndMode::Pipe, c.bytes, true), c.keys);
    }
}
