// The three nibble tables of UTF-8 validation by lookup (Keiser and Lemire):
// each byte, with the one before it, selects error bits in all three tables
// only when the pair cannot occur in well-formed UTF-8.
#pragma once

#include <cstdint>

namespace vestle::utf8_lookup {

inline constexpr std::uint8_t kTooShort = 1 << 0;   // lead, then no continuation
inline constexpr std::uint8_t kTooLong = 1 << 1;    // ASCII, then a continuation
inline constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
inline constexpr std::uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF
inline constexpr std::uint8_t kSurrogate = 1 << 4;  // ED A0..BF
inline constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0, C1
inline constexpr std::uint8_t kTooLarge1000 = 1 << 6;  // F5..FF 80..8F
inline constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
inline constexpr std::uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation
inline constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

// By the high nibble of the byte before.
alignas(16) inline constexpr std::uint8_t kByte1High[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,
    kTooShort | kOverlong2,
    kTooShort,
    kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};

// By the low nibble of the byte before.
alignas(16) inline constexpr std::uint8_t kByte1Low[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,
    kCarry | kOverlong2,
    kCarry,
    kCarry,
    kCarry | kTooLarge,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000};

// By the high nibble of the byte itself.
alignas(16) inline constexpr std::uint8_t kByte2High[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
    kTooShort, kTooShort, kTooShort, kTooShort};

// A third or fourth byte must be a continuation: the pair tables do not see
// that, so a byte 2 or 3 after a lead of E0.. or F0.. flips the high bit.
// Subtracting these with saturation leaves 0x80 or more exactly there.
inline constexpr std::uint8_t kThirdByteBias = 0xE0 - 0x80;
inline constexpr std::uint8_t kFourthByteBias = 0xF0 - 0x80;

}  // namespace vestle::utf8_lookup
