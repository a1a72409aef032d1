// The key decoder: Enter, Backspace, Ctrl+C and the escape sequences of cursor and function keys.
#include "platform/console/key_decoder.h"

#include <cassert>

namespace {

void push_key(DecodedKeys& keys, KeyKind kind, std::uint8_t code) {
    assert(keys.count < 2);
    keys.keys[keys.count++] = Key{kind, code};
}

// In pipe mode the bytes are the keys as they stand, but for the line ends of a text file:
// LF is Enter, and CR LF is one Enter, not two.
void decode_pipe_byte(KeyDecoder& decoder, std::uint8_t byte, DecodedKeys& keys) {
    bool was_cr = decoder.last_was_cr;
    decoder.last_was_cr = byte == byte_of(KeyCode::Enter);
    if (byte == byte_of(KeyCode::LineFeed)) {
        if (!was_cr)
            push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Enter));
        return;
    }
    push_key(keys, KeyKind::OneByte, byte);
}

void decode_ground_byte(KeyDecoder& decoder, std::uint8_t byte, DecodedKeys& keys) {
    // A pasted CR LF arrives as one burst, as the line end of a text; typed apart, Enter and
    // Ctrl+J are two keys.
    const bool after_waiting_cr = decoder.last_was_cr;
    decoder.last_was_cr = byte == byte_of(KeyCode::Enter);
    switch (static_cast<KeyCode>(byte)) {
    case KeyCode::Escape:
        decoder.state = DecoderState::Escape;
        break;
    case KeyCode::CtrlC: // it arrives as a byte because raw mode clears ISIG
        push_key(keys, KeyKind::Break, byte);
        break;
    case KeyCode::LineFeed: // Some terminals send LF for Enter, and pasted text holds LF.
        if (!after_waiting_cr)
            push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Enter));
        break;
    case KeyCode::Enter:
        push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Enter));
        break;
    case KeyCode::Backspace:
    case KeyCode::Delete:
        push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Backspace));
        break;
    default:
        push_key(keys, KeyKind::OneByte, byte);
        break;
    }
}

} // namespace

DecodedKeys decode_key_byte(KeyDecoder& decoder, std::uint8_t byte) {
    DecodedKeys keys;
    if (decoder.mode == FrontEndMode::Pipe) {
        decode_pipe_byte(decoder, byte, keys);
        return keys;
    }
    switch (decoder.state) {
    case DecoderState::Ground:
        decode_ground_byte(decoder, byte, keys);
        break;
    case DecoderState::Escape:
        if (byte == '[') {
            decoder.state = DecoderState::Csi;
        } else if (byte == 'O') {
            decoder.state = DecoderState::SingleShift;
        } else {
            // ESC and then an ordinary key (Alt+key, or Escape typed twice): two keys.
            push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Escape));
            decoder.state = DecoderState::Ground;
            decode_ground_byte(decoder, byte, keys);
        }
        break;
    case DecoderState::Csi:
        if (byte == '[') {
            decoder.state = DecoderState::CsiBracket;
        } else if (byte >= 0x20 && byte <= 0x3f) {
            // Parameter and intermediate bytes, as in ESC [ 1 ; 5 C.
        } else if (byte >= 0x40 && byte <= 0x7e) {
            push_key(keys, KeyKind::TwoByte, byte);
            decoder.state = DecoderState::Ground;
        } else {
            // A broken sequence is dropped as one ignored key; the byte starts afresh.
            push_key(keys, KeyKind::TwoByte, static_cast<std::uint8_t>(SequenceEnd::Broken));
            decoder.state = DecoderState::Ground;
            decode_ground_byte(decoder, byte, keys);
        }
        break;
    case DecoderState::CsiBracket:
    case DecoderState::SingleShift:
        push_key(keys, KeyKind::TwoByte, byte);
        decoder.state = DecoderState::Ground;
        break;
    }
    return keys;
}

void no_byte_waiting(KeyDecoder& decoder) {
    if (decoder.mode == FrontEndMode::Terminal)
        decoder.last_was_cr = false;
}

bool escape_pending(const KeyDecoder& decoder) {
    return decoder.state != DecoderState::Ground;
}

DecodedKeys finish_escape(KeyDecoder& decoder) {
    DecodedKeys keys;
    if (decoder.state == DecoderState::Escape)
        push_key(keys, KeyKind::OneByte, byte_of(KeyCode::Escape));
    else if (decoder.state != DecoderState::Ground)
        push_key(keys, KeyKind::TwoByte, static_cast<std::uint8_t>(SequenceEnd::Broken));
    decoder.state = DecoderState::Ground;
    return keys;
}
