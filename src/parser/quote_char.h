// The quote character of CSV text when the caller names none.
#pragma once

namespace vestle {

inline constexpr unsigned char kDefaultQuoteChar = '"';

}  // namespace vestle
