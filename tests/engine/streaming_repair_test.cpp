// The streaming repair against the in-memory reference, over windows of every size.
#include "stream/streaming_repair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "io/io_sizes.h"
#include "io/spill_files.h"
#include "support/stream_harness.h"
#include "support/text_samples.h"

namespace vestle {
namespace {

using testing::kChunkSizes;
using testing::reference_repair;
using testing::RepairBytes;
using testing::StreamShape;
using testing::streamed_repair;

VestleOptions make_options(int variant) {
  VestleOptions options;
  switch (variant) {
    case 0:
      break;  // everything inferred, fill and merge on
    case 1:  // set aside instead of repairing
      options.fill_ragged_rows = false;
      options.merge_overflow = false;
      break;
    case 2:
      options.delimiter = ';';
      options.repair_quotes = false;
      options.merge_overflow = false;
      break;
    case 3:
      options.quote_char = '\'';
      options.expected_columns = 2;
      options.fill_ragged_rows = false;
      break;
    case 4:  // line-break bytes as delimiter and quote
      options.delimiter = '\n';
      options.quote_char = '\r';
      options.merge_overflow = false;
      break;
    default:
      options.delimiter = 0xC3;  // also the lead byte of é
      options.expected_columns = 0;
      break;
  }
  return options;
}
constexpr int kOptionVariants = 6;

void expect_same_as_reference(const std::string& input, const VestleOptions& options,
                              const StreamShape& shape) {
  const RepairBytes expected = reference_repair(input, options);
  const RepairBytes streamed = streamed_repair(input, options, shape);
  ASSERT_FALSE(streamed.failed);
  EXPECT_EQ(streamed.output, expected.output);
  EXPECT_EQ(streamed.quarantine, expected.quarantine);
  EXPECT_TRUE(streamed.stats == expected.stats);
}

void expect_same_for_every_window(const std::string& input) {
  for (int variant = 0; variant < kOptionVariants; ++variant) {
    EXPECT_EQ(testing::rows_read_back_mismatch(input, make_options(variant)), "");
    for (const std::size_t chunk : kChunkSizes) {
      for (const testing::LongRowShape& long_rows : testing::kLongRowShapes) {
        SCOPED_TRACE("options " + std::to_string(variant) + ", chunk " + std::to_string(chunk) +
                     ", long rows from " + std::to_string(long_rows.threshold));
        StreamShape shape;
        shape.settings.chunk_size = chunk;
        long_rows.apply(shape.settings);
        expect_same_as_reference(input, make_options(variant), shape);
      }
    }
  }
}

// The smallest inputs that put a window boundary where the parser must not
// decide early: each is run with every window of kChunkSizes.
struct BoundaryCase {
  const char* name;
  std::string input;
};

class StreamBoundaries : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(StreamBoundaries, EqualTheWholeInputRepair) { expect_same_for_every_window(GetParam().input); }

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamBoundaries,
    ::testing::Values(
        BoundaryCase{"Empty", ""},
        BoundaryCase{"OnlyByteOrderMark", "\xEF\xBB\xBF"},
        BoundaryCase{"ByteOrderMarkThenRows", "\xEF\xBB\xBF" "a,b\nc,d\n"},
        BoundaryCase{"HalfAByteOrderMark", "\xEF\xBB" "a,b\n"},
        BoundaryCase{"CrLfPairs", "a,b\r\nc,d\r\ne\r\n"},
        BoundaryCase{"LoneCrThenLf", "a\r\r\nb\n\r"},
        BoundaryCase{"DoubledQuotes", "\"a\"\"b\",c\n\"\"\"\",d\n"},
        BoundaryCase{"MultiByteCharacters", "\xC3\xA9,\xE2\x82\xAC\n\xF0\x9F\x98\x80,\xC3\n"},
        BoundaryCase{"BlankLineRuns", "\n\n\r\n\r\r\na,b\n\n\n \n\xE2\x80\xA8\nc,d,e\n\n"},
        BoundaryCase{"StrayQuoteLookAhead", "a,\"He said \"hi\" there\",x\n\"a\"b\"c\n\"a\"b\"\n"},
        BoundaryCase{"LookAheadAcrossLines", "\"ab\"c\nd\",x\nx,\"a\nb\"c\"\n"},
        BoundaryCase{"UnclosedQuoteRunsToTheEnd", "a,b\n\"open\nfoo,bar\n"},
        BoundaryCase{"QuoteAsLastByte", "a,b\nc,\"d\""},
        BoundaryCase{"NoFinalLineBreak", "a,b\nc,d,e"},
        // A window that starts where an earlier one started, holding other bytes.
        BoundaryCase{"ReusedWindowHoldsOtherBytes",
                     std::string(63, 'a') + "\n" + "b," + std::string(61, 'c') + "\n" +
                         "\"x\ry\",\tz\r\n" + std::string(50, 'd') + "\n"},
        BoundaryCase{"EndsWithDelimiter", "a,b,\nc,"},
        BoundaryCase{"RowLongerThanEveryWindow",
                     "\"" + repeated("x,y\n\"\"", 300) + "\",z\n" + repeated("a,b\n", 3)},
        // The heuristics count 50 and 100 rows: the rows after them must not count.
        BoundaryCase{"RowsPastTheHeuristicsBudgets",
                     repeated("a;b\n", 50) + repeated("a,b,c\n", 60) + repeated("1,2,3,4\n", 5)},
        BoundaryCase{"BudgetsBehindBlankLines",
                     repeated("a,b,c\n\n", 100) + repeated("a,b,c,d\n", 3)},
        BoundaryCase{"PrefixEndsInsideAQuotedField",
                     "a,b,c\n\"x\n" + repeated("p,q\n", 120) + "\",y,z\n" + repeated("1,2,3\n", 4)}),
    [](const ::testing::TestParamInfo<BoundaryCase>& info) { return std::string(info.param.name); });

std::string random_csv(std::mt19937& random, std::size_t length) {
  static const std::vector<std::string> pieces = {
      "a", "bc", ",", ",", ";", "\t", "|", "\"", "\"", "'", "\n", "\n", "\r\n", "\r", " ",
      "\xC3\xA9", "\xC3", "\xEF\xBB\xBF", "\xE2\x80\xA8", "\x80", "12"};
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string out;
  while (out.size() < length) out += pieces[pick(random)];
  return out;
}

TEST(VestleStream, RandomInputsEqualTheWholeInputRepair) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<std::size_t> length(0, 400);
  for (int i = 0; i < 300; ++i) {
    const std::string input = random_csv(random, length(random));
    SCOPED_TRACE(::testing::PrintToString(input));
    StreamShape shape;
    shape.settings.chunk_size = kChunkSizes[i % std::size(kChunkSizes)];
    shape.read_limit = 1 + i % 5;
    shape.seekable = i % 3 != 0;  // a pipe is spooled for its long rows
    shape.into_memory = i % 2 == 0;
    EXPECT_EQ(testing::rows_read_back_mismatch(input, make_options(i % kOptionVariants)), "");
    for (const testing::LongRowShape& long_rows : testing::kLongRowShapes) {
      long_rows.apply(shape.settings);
      expect_same_as_reference(input, make_options(i % kOptionVariants), shape);
    }
  }
}

// The buffer is reused: a window may start at the same address with the same
// size as the one before it and hold other bytes.
TEST(VestleStream, AReusedWindowIsClassifiedAfresh) {
  VestleOptions options;
  options.delimiter = ',';
  options.expected_columns = 1;  // the second row has two fields: merged and quoted
  const std::string input = std::string(63, 'a') + "\n" + "b," + std::string(61, 'c') + "\n";
  StreamShape shape;
  shape.settings.chunk_size = 64;
  expect_same_as_reference(input, options, shape);
}

// A prefix too long to hold: a regular file is read a second time, a pipe is
// spooled and read again; a spool with no memory spills every line.
TEST(VestleStream, ReadTwiceHeldOrSpilledTheBytesAreTheSame) {
  const std::string input = repeated("\n\n\n", 200) + repeated("a,\"b\nc\",d\n", 40) +
                            repeated("1,2\n", 70) + repeated("x,y,z,w\n", 30);
  for (const bool seekable : {true, false}) {
    for (const std::size_t quarantine_memory : {std::size_t{0}, std::size_t{100}}) {
      StreamShape shape;
      shape.settings.chunk_size = 16;
      shape.settings.prefix_limit = 64;
      shape.seekable = seekable;
      shape.quarantine_memory = quarantine_memory;
      SCOPED_TRACE(std::string(seekable ? "file" : "pipe") + ", spool memory " +
                   std::to_string(quarantine_memory));
      for (int variant = 0; variant < kOptionVariants; ++variant) {
        for (const testing::LongRowShape& long_rows : testing::kLongRowShapes) {
          long_rows.apply(shape.settings);
          expect_same_as_reference(input, make_options(variant), shape);
        }
      }
    }
  }
}

// Fields longer than what the long-row writer holds before it must know
// whether they need quotes: what settles it may come in the same piece as
// the bytes that filled it, or lie past the field in the probe's buffer.
TEST(VestleStream, LongFieldsAreQuotedAsInMemory) {
  const std::string many_a(70000, 'a');
  const std::string inputs[] = {
      "a,b\n\"" + many_a + "\xFF,x\",y\n",              // a delimiter after an invalid byte
      "a,b\n\"" + many_a + "\xFF b\"\"c\",y\n",          // a doubled quote after one
      "a,b\n" + std::string(300000, 'a') + ",5\" pipe\n",  // a quote in the next field
  };
  for (const std::string& input : inputs) {
    for (const std::size_t threshold : {std::size_t{64}, StreamSettings{}.long_row_threshold}) {
      StreamShape shape;
      shape.settings.chunk_size = 4096;
      shape.settings.long_row_threshold = threshold;
      expect_same_as_reference(input, make_options(0), shape);
    }
  }
}

// A pipe's long row is kept in a spill file; when none can be made, or a
// write to it fails, the run fails with that error after the rows before it.
TEST(VestleStream, ASpillFileThatFailsIsTheRunsError) {
  // The rows before it settle the format.
  const std::string input = repeated("a,b\n", 120) + "\"" + std::string(300, 'x') + "\",y\n" +
                            repeated("c,d\n", 20);
  const std::string reference = reference_repair(input, VestleOptions{}).output;
  class SpillWritesFail : public testing::MemoryFiles {
   public:
    ssize_t write(int /*fd*/, const void* /*data*/, std::size_t /*size*/) override {
      errno = EIO;
      return -1;
    }
  };
  testing::MemoryFiles no_directory;  // the spill directory cannot be opened
  SpillWritesFail failing_writes;
  failing_writes.files[SpillFiles::kFallbackDirectory] = "";
  for (auto [spill_ops, error] : {std::pair<FileOps*, int>{&no_directory, ENOENT},
                                  std::pair<FileOps*, int>{&failing_writes, EIO}}) {
    testing::MemoryFiles files;
    files.files["in"] = input;
    files.seekable = false;
    PosixFile in(files.open("in", O_RDONLY, 0), files);
    ChunkedInput chunks(in, 16);
    StreamSettings settings;
    settings.chunk_size = 16;
    settings.long_row_threshold = 64;
    const SpillFiles spill_files({}, *spill_ops);
    StreamingRepair repair(chunks, VestleOptions{}, nullptr, settings, spill_files);
    std::string written;
    {
      BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files), kFileWriteBuffer);
      ASSERT_TRUE(repair.settle_format());
      const Result<Done, IoError> rows = repair.write_rows(out);
      ASSERT_FALSE(rows);
      EXPECT_EQ(rows.error().os_error(), error);
    }
    written = files.files["out"];
    EXPECT_GE(written.size(), 4u * 100);
    EXPECT_EQ(reference.compare(0, written.size(), written), 0);  // the rows before it
  }
}

// The buffer holds a window and the longest row, not the input.
TEST(VestleStream, MemoryDoesNotGrowWithTheInput) {
  const std::string long_row = "\"" + std::string(100000, 'x') + "\",b\n";
  const std::string input = repeated("a,b\n", 200000) + long_row + repeated("c,d\n", 200000);
  testing::MemoryFiles files;
  files.files["in"] = input;
  PosixFile in(files.open("in", O_RDONLY, 0), files);
  ChunkedInput chunks(in, 4096);
  StreamingRepair repair(chunks, VestleOptions{}, nullptr);
  BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files), kFileWriteBuffer);
  ASSERT_TRUE(repair.settle_format());
  ASSERT_TRUE(repair.write_rows(out));
  EXPECT_EQ(repair.stats().total_rows, 400001u);
  EXPECT_LE(chunks.buffer_capacity(), 4 * long_row.size());
  EXPECT_GT(input.size(), 4 * chunks.buffer_capacity());
}

// Settling the format does not hold a long row either: under ";" the quote
// of the first line opens a field that runs to the end of the input, but the
// count of that row is taken as the row streams past.
TEST(VestleStream, ALosingCandidateWithAnEndlessRowHoldsNoMoreThanALine) {
  const std::string input = "h1,h2;\"q,x,y\n" + repeated("1,2,3,4\n", 200000);
  testing::MemoryFiles files;
  files.files["in"] = input;
  PosixFile in(files.open("in", O_RDONLY, 0), files);
  ChunkedInput chunks(in, 4096);
  StreamSettings settings;
  settings.chunk_size = 4096;
  settings.prefix_limit = 16384;
  StreamingRepair repair(chunks, VestleOptions{}, nullptr, settings);
  BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files), kFileWriteBuffer);
  ASSERT_TRUE(repair.settle_format());
  ASSERT_TRUE(repair.write_rows(out));
  ASSERT_TRUE(out.flush());
  EXPECT_EQ(repair.stats().detected_delimiter, ',');
  EXPECT_LT(chunks.buffer_capacity(), 65536u);
  EXPECT_TRUE(files.files["out"] == reference_repair(input, VestleOptions{}).output);
}

}  // namespace
}  // namespace vestle
