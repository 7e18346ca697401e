// Placement of pieces in the write buffer, retries, and the errors of stalled writes.
#include "io/buffered_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "file_test_support.h"

namespace vestle {
namespace {

// The write buffer these tests size their pieces by.
constexpr std::size_t kCapacity = 8192;

using file_testing::read_text;
using file_testing::ScriptedWrites;
using file_testing::TempDir;

// Pieces of distinct letters, so the file shows the order they arrived in.
std::string piece(std::size_t index, std::size_t size) {
  return std::string(size, static_cast<char>('a' + index % 26));
}

struct Placement {
  const char* name;
  std::vector<std::size_t> pieces;
  std::vector<std::size_t> writes_before_flush;
  std::vector<std::size_t> writes_after_flush;
  friend void PrintTo(const Placement& c, std::ostream* os) { *os << c.name; }
};

class PlacementRules : public ::testing::TestWithParam<Placement> {};

TEST_P(PlacementRules, WritesReachTheFileInOrderAndAtTheRightTime) {
  const Placement& c = GetParam();
  TempDir dir;
  ScriptedWrites ops;
  std::string expected;
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
    ASSERT_TRUE(file);
    BufferedWriter writer(std::move(file).value(), kCapacity);
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      expected += piece(i, c.pieces[i]);
      ASSERT_TRUE(writer.write(piece(i, c.pieces[i])));
    }
    EXPECT_EQ(ops.requested, c.writes_before_flush);
    ASSERT_TRUE(writer.flush());
    EXPECT_EQ(writer.buffered(), 0U);
    EXPECT_EQ(ops.requested, c.writes_after_flush);
  }
  EXPECT_EQ(ops.requested, c.writes_after_flush) << "nothing left for the destructor";
  EXPECT_EQ(read_text(dir.file("out")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, PlacementRules,
    ::testing::Values(
        Placement{"ShortPieceIsCopied", {100}, {}, {100}},
        Placement{"PieceOneShortOfCapacityIsCopied", {8191}, {}, {8191}},
        Placement{"PieceEqualToFreeRoomIsCopied", {100, 8092}, {}, {8192}},
        Placement{"PieceLongerThanFreeRoomFlushesFirst", {100, 8093}, {100}, {100, 8093}},
        Placement{"FullSizePieceGoesStraightToTheFile", {8192}, {8192}, {8192}},
        Placement{"LargePieceAfterBufferedBytes", {100, 10000}, {100, 10000}, {100, 10000}},
        Placement{"FullSizePieceAfterBufferedBytes", {100, 8192}, {100, 8192}, {100, 8192}},
        Placement{"OneByteIntoAFullBuffer", {100, 8092, 1}, {8192}, {8192, 1}},
        Placement{"ManySmallPiecesFillTheBuffer", {4000, 4000, 4000}, {8000}, {8000, 4000}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Stall {
  const char* name;
  std::size_t size;  // below the capacity: flushed; from it on: written straight
  std::vector<long> script;
  std::optional<std::string> error;  // absent: succeeds
  std::size_t bytes_in_file;
  friend void PrintTo(const Stall& c, std::ostream* os) { *os << c.name; }
};

class StalledWrites : public ::testing::TestWithParam<Stall> {};

TEST_P(StalledWrites, RetryOrFailWithTheRightText) {
  const Stall& c = GetParam();
  TempDir dir;
  ScriptedWrites ops;
  ops.script.assign(c.script.begin(), c.script.end());
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
    ASSERT_TRUE(file);
    BufferedWriter writer(std::move(file).value(), kCapacity);
    Result<Done, IoError> outcome = writer.write(piece(0, c.size));
    if (outcome) outcome = writer.flush();
    if (c.error) {
      ASSERT_FALSE(outcome);
      EXPECT_EQ(outcome.error().text(), *c.error);
    } else {
      EXPECT_TRUE(outcome) << outcome.error().text();
    }
    // Closed here so the destructor makes no further attempt.
    ASSERT_TRUE(writer.file().close());
  }
  EXPECT_EQ(read_text(dir.file("out")), piece(0, c.bytes_in_file));
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, StalledWrites,
    ::testing::Values(
        Stall{"FlushRepeatsInterruptedWrites", 100, {-EINTR, -EINTR}, std::nullopt, 100},
        Stall{"DirectWriteRepeatsInterruptedWrites", 10000, {-EINTR}, std::nullopt, 10000},
        Stall{"FlushContinuesAfterShortWrites", 100, {10, 10, 10}, std::nullopt, 100},
        Stall{"DirectWriteContinuesAfterShortWrites", 20000, {8192, 1}, std::nullopt, 20000},
        Stall{"FlushTakingNothing", 100, {0}, "failed to write the buffered data", 0},
        Stall{"FlushTakingNothingAfterProgress", 100, {30, 0}, "failed to write the buffered data",
              30},
        Stall{"DirectWriteTakingNothing", 10000, {0}, "failed to write whole buffer", 0},
        Stall{"DirectWriteTakingNothingAfterProgress", 10000, {5000, 0},
              "failed to write whole buffer", 5000},
        Stall{"FlushFailingWithAnErrno", 100, {-ENOSPC}, IoError::from_errno(ENOSPC).text(), 0},
        Stall{"DirectWriteFailingWithAnErrno", 9000, {-EIO}, IoError::from_errno(EIO).text(), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BufferedWriterDiscard, HandsLeftoverBytesToTheFileOnceMore) {
  TempDir dir;
  ScriptedWrites ops;
  ops.script = {40, -EIO};  // the flush moves 40 bytes, then fails
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
    ASSERT_TRUE(file);
    BufferedWriter writer(std::move(file).value(), kCapacity);
    ASSERT_TRUE(writer.write(piece(0, 60) + piece(1, 40)));
    Result<Done, IoError> flushed = writer.flush();
    ASSERT_FALSE(flushed);
    EXPECT_EQ(flushed.error().os_error(), EIO);
    EXPECT_EQ(writer.buffered(), 60U);
  }
  EXPECT_EQ(ops.requested, (std::vector<std::size_t>{100, 60, 60}));
  EXPECT_EQ(read_text(dir.file("out")), piece(0, 60) + piece(1, 40));
}

TEST(BufferedWriterDiscard, IgnoresAFailedLastAttempt) {
  TempDir dir;
  ScriptedWrites ops;
  ops.script = {-EIO, -EIO};
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
    ASSERT_TRUE(file);
    BufferedWriter writer(std::move(file).value(), kCapacity);
    ASSERT_TRUE(writer.write("abc"));
    ASSERT_FALSE(writer.flush());
  }
  EXPECT_EQ(ops.requested, (std::vector<std::size_t>{3, 3}));
  EXPECT_EQ(read_text(dir.file("out")), "");
}

// Random pieces against a random script of write calls. Written behind, the
// file sees the same calls and ends with the same bytes, and the first
// failure has the same text, whether it is reported at the call that met it
// or at a later one.
TEST(BufferedWriterBehind, MakesTheSameCallsAsWritingHere) {
  std::mt19937 rng(23);
  struct Seen {
    std::vector<std::size_t> requested;
    std::string content;
    std::optional<std::string> error;
  };
  for (int iteration = 0; iteration < 400; ++iteration) {
    std::vector<std::size_t> pieces(1 + rng() % 12);
    for (std::size_t& size : pieces) size = rng() % 3 == 0 ? rng() % (2 * kCapacity) : rng() % 3000;
    std::deque<long> script;
    for (std::size_t steps = rng() % 8; steps > 0; --steps) {
      const long kinds[] = {-EIO, -ENOSPC, 0, 1 + static_cast<long>(rng() % 5000), 1L << 30};
      script.push_back(kinds[rng() % std::size(kinds)]);
    }
    const auto run = [&](bool behind) {
      TempDir dir;
      ScriptedWrites ops;
      ops.script = script;
      Seen seen;
      {
        Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
        EXPECT_TRUE(file);
        BufferedWriter writer(std::move(file).value(), kCapacity);
        if (behind) writer.write_behind();
        Result<Done, IoError> outcome = Done{};
        for (std::size_t i = 0; i < pieces.size() && outcome; ++i) {
          outcome = writer.write(piece(i, pieces[i]));
        }
        if (outcome) outcome = writer.flush();
        if (!outcome) seen.error = outcome.error().text();
      }
      seen.requested = ops.requested;
      seen.content = read_text(dir.file("out"));
      return seen;
    };
    const Seen here = run(false);
    const Seen behind = run(true);
    EXPECT_EQ(behind.requested, here.requested);
    EXPECT_EQ(behind.content, here.content);
    EXPECT_EQ(behind.error, here.error);
    if (::testing::Test::HasFailure()) FAIL() << "iteration " << iteration;
  }
}

TEST(BufferedWriterDevice, FullDeviceFailsTheFlushWithNoSpace) {
  Result<PosixFile, IoError> file = PosixFile::create("/dev/full");
  if (!file) GTEST_SKIP() << "/dev/full: " << file.error().text();
  BufferedWriter writer(std::move(file).value(), kCapacity);
  ASSERT_TRUE(writer.write("a,b\n"));
  Result<Done, IoError> flushed = writer.flush();
  ASSERT_FALSE(flushed);
  EXPECT_EQ(flushed.error().os_error(), ENOSPC);
  EXPECT_EQ(flushed.error().text(), IoError::from_errno(ENOSPC).text());
}

}  // namespace
}  // namespace vestle
