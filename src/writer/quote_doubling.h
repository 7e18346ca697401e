// A field's bytes with every quote doubled, as the writer puts them between quotes.
#pragma once

#include <cstddef>

namespace vestle {

// Copies `size` bytes to `out` with every `quote` byte doubled; `out` has
// room for twice `size`. Returns the end of what it wrote. Under the AVX2
// and AVX-512BW kernels sixteen bytes go at a time, each eight of them
// spread by one byte shuffle; otherwise eight bytes without a quote are
// copied at once.
[[nodiscard]] char* copy_doubling(char* out, const char* in, std::size_t size,
                                  char quote) noexcept;

}  // namespace vestle
