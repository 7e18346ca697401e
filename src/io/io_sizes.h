// The sizes of the buffers between the repair and the files, in one place.
#pragma once

#include <cstddef>

namespace vestle {

// Bytes asked of the input per read: the window of input starts this large.
inline constexpr std::size_t kReadChunk = std::size_t{256} << 10;
// A window that a row outgrows doubles, but grows by at most this much a step.
inline constexpr std::size_t kMaxWindowGrowth = std::size_t{2} << 20;
// Bytes each reader of a row too long to hold buffers.
inline constexpr std::size_t kLongRowReadBuffer = std::size_t{256} << 10;
// The write buffer of each output file: large writes cost the system far
// fewer calls than small ones, which matters once the repair itself is fast.
inline constexpr std::size_t kFileWriteBuffer = std::size_t{1} << 20;
// The write buffer in front of text kept in memory: small enough to stay in cache.
inline constexpr std::size_t kMemoryWriteBuffer = std::size_t{64} << 10;
// Set-aside lines held in memory before they go to a spill file.
inline constexpr std::size_t kQuarantineMemory = std::size_t{4} << 20;
// Bytes of a spill file copied out per read.
inline constexpr std::size_t kSpillCopyChunk = std::size_t{1} << 20;

}  // namespace vestle
