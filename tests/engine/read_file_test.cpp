// Reading whole files whatever their size claims, and the errors of unreadable paths.
#include "io/read_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <ostream>
#include <string>

#include "file_test_support.h"

namespace vestle {
namespace {

using file_testing::TempDir;
using file_testing::write_text;

// Real calls, except that fstat may claim another size or file type, reads
// may be interrupted first, and each read may be cut short.
class SizeClaims : public FileOps {
 public:
  long claimed_size = -1;  // < 0: the truth
  bool claim_pipe = false;
  int interruptions = 0;
  std::size_t read_limit = 0;  // 0: no limit
  int reads = 0;

  int fstat(int fd, struct stat* status) override {
    const int rc = FileOps::fstat(fd, status);
    if (claimed_size >= 0) status->st_size = claimed_size;
    if (claim_pipe) status->st_mode = (status->st_mode & ~S_IFMT) | S_IFIFO;
    return rc;
  }
  ssize_t read(int fd, void* buffer, std::size_t size) override {
    ++reads;
    if (interruptions > 0) {
      --interruptions;
      errno = EINTR;
      return -1;
    }
    if (read_limit > 0 && size > read_limit) size = read_limit;
    return FileOps::read(fd, buffer, size);
  }
};

struct ReadCase {
  const char* name;
  std::size_t size;
  long claimed_size;
  bool claim_pipe;
  int interruptions;
  std::size_t read_limit;
  friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

class ReadWhole : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadWhole, ReturnsEveryByteInOrder) {
  const ReadCase& c = GetParam();
  TempDir dir;
  std::string content;
  for (std::size_t i = 0; i < c.size; ++i) content.push_back(static_cast<char>('a' + i * 7 % 26));
  write_text(dir.file("in"), content);
  SizeClaims ops;
  ops.claimed_size = c.claimed_size;
  ops.claim_pipe = c.claim_pipe;
  ops.interruptions = c.interruptions;
  ops.read_limit = c.read_limit;
  Result<FileBytes, IoError> bytes = read_file(dir.file("in"), ops);
  ASSERT_TRUE(bytes) << bytes.error().text();
  EXPECT_EQ(bytes.value().size(), c.size);
  EXPECT_EQ(bytes.value().view(), content);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReadWhole,
    ::testing::Values(ReadCase{"Empty", 0, -1, false, 0, 0},
                      ReadCase{"Small", 10, -1, false, 0, 0},
                      ReadCase{"SeveralBuffers", 100000, -1, false, 0, 0},
                      ReadCase{"LongerThanItsSize", 50000, 100, false, 0, 0},
                      ReadCase{"LongerThanAZeroSize", 20000, 0, false, 0, 0},
                      ReadCase{"ShorterThanItsSize", 100, 50000, false, 0, 0},
                      ReadCase{"NoSizeKnown", 30000, -1, true, 0, 0},
                      ReadCase{"InterruptedReads", 5000, -1, false, 3, 0},
                      ReadCase{"ShortReads", 5000, -1, false, 0, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadFile, FileMatchingItsSizeNeedsOneReadAndOneProbe) {
  TempDir dir;
  write_text(dir.file("in"), std::string(70000, 'x'));
  SizeClaims ops;
  ASSERT_TRUE(read_file(dir.file("in"), ops));
  EXPECT_EQ(ops.reads, 2);
}

TEST(ReadFile, MissingFileIsNotFound) {
  TempDir dir;
  Result<FileBytes, IoError> bytes = read_file(dir.file("missing"));
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().os_error(), ENOENT);
}

TEST(ReadFile, DirectoryOpensButFailsToRead) {
  TempDir dir;
  Result<PosixFile, IoError> opened = PosixFile::open_read(dir.path());
  ASSERT_TRUE(opened);
  Result<FileBytes, IoError> bytes = read_to_end(opened.value());
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().os_error(), EISDIR);
}

}  // namespace
}  // namespace vestle
