// GrowingBuffer keeps every byte across remaps and releases only what lies behind.
#include "memory/growing_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace vestle {
namespace {

TEST(GrowingBuffer, KeepsItsBytesAcrossGrowthAndBehindReleases) {
  GrowingBuffer buffer;
  ASSERT_TRUE(buffer.reserve(1));
  std::string expected;
  // Pieces of every size up to past a huge page: the first reservation is
  // outgrown several times.
  for (std::size_t size = 1; expected.size() < (std::size_t{9} << 20); size = size * 3 + 1) {
    const std::string piece(size % (std::size_t{3} << 20), static_cast<char>('a' + size % 26));
    ASSERT_TRUE(buffer.append(piece));
    expected += piece;
  }
  ASSERT_EQ(buffer.view(), expected);
  const std::size_t kept_from = expected.size() / 2 + 1;
  buffer.release_before(kept_from);
  buffer.release_before(kept_from / 2);  // behind what was released: nothing
  EXPECT_EQ(buffer.view().substr(kept_from), std::string_view(expected).substr(kept_from));
  GrowingBuffer moved = std::move(buffer);
  EXPECT_EQ(moved.size(), expected.size());
  EXPECT_EQ(buffer.size(), 0u);
  ASSERT_TRUE(moved.append("z"));
  EXPECT_EQ(moved.view().back(), 'z');
}

}  // namespace
}  // namespace vestle
