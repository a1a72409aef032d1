// The bytes of 32-bit values as the files hold them (little endian, as this machine stores them),
// and the bits of floats, for tests that build or read files byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

inline std::string int_bytes(std::int32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

inline std::string float_bytes(float value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

// The 32-bit value at offset in bytes.
inline std::int32_t int_at(const std::string& bytes, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

inline float float_from_bits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

inline std::uint32_t bits_of(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}
