// Where spill files go: beside an output that is a regular file or not there yet, else in /tmp.
#include "io/spill_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_test_support.h"

namespace vestle {
namespace {

using file_testing::TempDir;
using file_testing::write_text;

// Real calls that note the directory of each unnamed file made.
class RecordingOps : public FileOps {
 public:
  std::vector<std::string> made_in;
  int open(const char* path, int flags, mode_t mode) override {
    const int fd = FileOps::open(path, flags, mode);
    if (fd >= 0 && (flags & O_TMPFILE) == O_TMPFILE) made_in.emplace_back(path);
    return fd;
  }
};

TEST(SpillFiles, GoBesideARegularOutputElseToTmp) {
  TempDir dir;
  write_text(dir.file("existing.csv"), "x\n");
  const std::string beside = dir.path() + "/";
  const struct {
    std::string output;
    std::string directory;
  } cases[] = {
      {dir.file("new.csv"), beside},
      {dir.file("existing.csv"), beside},
      {"/dev/null", SpillFiles::kFallbackDirectory},
      {dir.file("missing/out.csv"), SpillFiles::kFallbackDirectory},
      {"", SpillFiles::kFallbackDirectory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    RecordingOps ops;
    Result<PosixFile, IoError> spill = SpillFiles(c.output, ops).create();
    ASSERT_TRUE(spill);
    EXPECT_EQ(ops.made_in, std::vector<std::string>{c.directory});
  }
}

}  // namespace
}  // namespace vestle
