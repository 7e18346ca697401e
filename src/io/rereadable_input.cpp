// Reads at an offset: straight from a regular file, or through a pipe's spill file.
#include "io/rereadable_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace vestle {

Result<std::size_t, IoError> SeekableFileInput::read_at(std::uint64_t offset, char* data,
                                                        std::size_t size) {
  if (Result<Done, IoError> sought = file_.seek_to(offset); !sought) return sought.error();
  return file_.read(data, size);
}

Result<std::size_t, IoError> HeldInput::read_at(std::uint64_t offset, char* data,
                                                std::size_t size) {
  if (offset < origin_) return IoError::from_errno(EINVAL);
  if (offset - origin_ >= size_) return std::size_t{0};
  const auto at = static_cast<std::size_t>(offset - origin_);
  const std::size_t count = std::min(size, size_ - at);
  std::memcpy(data, data_ + at, count);
  return count;
}

SpooledInput::SpooledInput(PosixFile& input, PosixFile spill, std::uint64_t origin) noexcept
    : input_(input), spill_(std::move(spill)), origin_(origin), spilled_end_(origin) {}

Result<Done, IoError> SpooledInput::append(const char* data, std::size_t size) {
  if (Result<Done, IoError> sought = spill_.seek_to(spilled_end_ - origin_); !sought) {
    return sought;
  }
  if (Result<Done, IoError> written = spill_.write_all(data, size); !written) return written;
  spilled_end_ += size;
  return Done{};
}

Result<std::size_t, IoError> SpooledInput::read_on(char* data, std::size_t size) {
  if (input_ended_ || size == 0) return std::size_t{0};
  Result<std::size_t, IoError> count = input_.read(data, size);
  if (!count) return count;
  if (count.value() == 0) {
    input_ended_ = true;
    return count;
  }
  if (Result<Done, IoError> kept = append(data, count.value()); !kept) return kept.error();
  return count;
}

Result<std::size_t, IoError> SpooledInput::read_at(std::uint64_t offset, char* data,
                                                   std::size_t size) {
  if (offset < origin_) return IoError::from_errno(EINVAL);
  if (offset > spilled_end_) {
    // Read on to the offset; what lies before it is kept for later readers.
    constexpr std::size_t kStep = std::size_t{64} << 10;
    const auto scratch = std::make_unique_for_overwrite<char[]>(kStep);
    while (offset > spilled_end_ && !input_ended_) {
      const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, offset - spilled_end_));
      if (Result<std::size_t, IoError> count = read_on(scratch.get(), wanted); !count) return count;
    }
  }
  if (offset == spilled_end_) return read_on(data, size);
  if (offset > spilled_end_) return std::size_t{0};
  if (Result<Done, IoError> sought = spill_.seek_to(offset - origin_); !sought) {
    return sought.error();
  }
  const auto held = static_cast<std::size_t>(std::min<std::uint64_t>(size, spilled_end_ - offset));
  return spill_.read(data, held);
}

}  // namespace vestle
