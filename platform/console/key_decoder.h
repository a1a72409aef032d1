// Turns the bytes read from the keyboard into keys, for the terminal and for pipe mode.
#pragma once

#include <cstdint>

#include "platform/console/front_end_mode.h"

enum class KeyKind {
    OneByte, // code is the key's byte: any byte, some of them named by KeyCode
    TwoByte, // a cursor or function key; code is the last byte of its sequence (SequenceEnd)
    Break,   // Ctrl+C at the terminal: it raises the end request instead of being a key
};

struct Key {
    KeyKind kind = KeyKind::OneByte;
    std::uint8_t code = 0;
};

// The bytes of the one-byte keys that the program acts on, or keeps out of an answer.
enum class KeyCode : std::uint8_t {
    CtrlC = 3,
    Bell = 7, // Ctrl+G
    Backspace = 8,
    Tab = 9,
    LineFeed = 10,    // Ctrl+J
    CursorHome = 11,  // Ctrl+K; 11, 12 and 28 to 31 move the cursor where they are printed
    ClearRegion = 12, // Ctrl+L
    Enter = 13,
    Escape = 27,
    CursorRight = 28,
    CursorLeft = 29,
    CursorUp = 30,
    CursorDown = 31,
    Delete = 127, // most terminals send it for Backspace
};

// The last byte of the sequence of a two-byte key, for the keys that the failure box acts on.
enum class SequenceEnd : std::uint8_t {
    Broken = 0, // a sequence given up: a key that nothing acts on
    Right = 'C',
    Left = 'D',
    ShiftTab = 'Z',
};

constexpr std::uint8_t byte_of(KeyCode code) {
    return static_cast<std::uint8_t>(code);
}

inline bool is_key(const Key& key, KeyCode code) {
    return key.kind == KeyKind::OneByte && key.code == byte_of(code);
}

inline bool is_sequence(const Key& key, SequenceEnd end) {
    return key.kind == KeyKind::TwoByte && key.code == static_cast<std::uint8_t>(end);
}

// The keys that one byte completes: none, one or two (an ESC or a broken sequence given up,
// then the byte's own key). A fixed array, so that the keys' thread allocates nothing.
struct DecodedKeys {
    Key keys[2];
    int count = 0;
};

enum class DecoderState {
    Ground,      // between keys
    Escape,      // after ESC
    Csi,         // after ESC [ and any parameter bytes
    CsiBracket,  // after ESC [ [, the console's F1 to F5
    SingleShift, // after ESC O
};

struct KeyDecoder {
    FrontEndMode mode = FrontEndMode::Pipe;
    DecoderState state = DecoderState::Ground;
    // A LF right after a CR is the same Enter: in pipe mode always (a text file's line end), at
    // the terminal while the LF was already waiting with the CR (a paste).
    bool last_was_cr = false;
};

// Feeds one byte; gives the keys it completes.
DecodedKeys decode_key_byte(KeyDecoder& decoder, std::uint8_t byte);

// At the terminal: told when no further byte is waiting, so that a LF typed later is an Enter of
// its own.
void no_byte_waiting(KeyDecoder& decoder);

// True while the decoder holds the start of an escape sequence; when no byte follows soon,
// finish_escape makes the key of what was typed.
bool escape_pending(const KeyDecoder& decoder);
DecodedKeys finish_escape(KeyDecoder& decoder);
