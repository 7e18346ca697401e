// The two bytes that end lines.
#pragma once

namespace vestle {

inline constexpr unsigned char kLf = 0x0A;
inline constexpr unsigned char kCr = 0x0D;

[[nodiscard]] constexpr bool is_line_break(unsigned char b) noexcept { return b == kLf || b == kCr; }

}  // namespace vestle
