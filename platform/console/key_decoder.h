// Turns the bytes read from the keyboard into keys, for the terminal and for pipe mode.
#pragma once

#include <cstdint>

#include "platform/console/front_end_mode.h"

enum class KeyKind {
    OneByte, // code is the key's byte: 13 Enter, 8 Backspace, 9 Tab, 27 a lone Escape, ...
    TwoByte, // a cursor or function key; code is the last byte of its sequence ('C' right)
    Break,   // Ctrl+C at the terminal: it raises the end request instead of being a key
};

struct Key {
    KeyKind kind = KeyKind::OneByte;
    std::uint8_t code = 0;
};

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
