// VestleOptions chosen by the first four bytes of a fuzz input.
#pragma once

#include <cstddef>

#include "fuzz_input.h"
#include "repair/options.h"

namespace vestle::fuzz {

// Byte 0 holds the flags, byte 1 the delimiter (used when flag 0x01 is set),
// byte 2 the quote character, byte 3 the expected column count (low three
// bits, used when flag 0x08 is set). The layout is fixed so that seeds keep
// their meaning whichever flags a mutation flips.
inline VestleOptions take_options(FuzzInput& in) {
  const unsigned char flags = in.take_byte();
  const unsigned char delimiter = in.take_byte();
  const unsigned char quote_char = in.take_byte();
  const unsigned char columns = in.take_byte();
  VestleOptions options;
  if ((flags & 0x01) != 0) options.delimiter = delimiter;
  options.fill_ragged_rows = (flags & 0x02) != 0;
  options.merge_overflow = (flags & 0x04) != 0;
  if ((flags & 0x08) != 0) options.expected_columns = static_cast<std::size_t>(columns & 0x07);
  options.repair_quotes = (flags & 0x10) != 0;
  options.quote_char = quote_char;
  return options;
}

}  // namespace vestle::fuzz
