// The quarantine spool: the same lines as write_quarantine, in memory, spilled or both.
#include "stream/quarantine_spool.h"

#include <gtest/gtest.h>

#include <string>

#include "io/io_sizes.h"
#include "support/memory_files.h"
#include "support/row_texts.h"
#include "writer/csv_writers.h"

namespace vestle {
namespace {

using testing::MemoryFiles;

// Files in memory whose writes to the spill file fail from the `fail_from`-th on.
class SpillFailing : public MemoryFiles {
 public:
  int fail_from = 1;
  ssize_t write(int fd, const void* data, std::size_t size) override {
    if (fd == spill_fd_ && ++spill_writes_ >= fail_from) {
      errno = ENOSPC;
      return -1;
    }
    return MemoryFiles::write(fd, data, size);
  }
  int open(const char* path, int flags, mode_t mode) override {
    const int fd = MemoryFiles::open(path, flags, mode);
    if (std::string(path) == SpillFiles::kFallbackDirectory) spill_fd_ = fd;
    return fd;
  }

 private:
  int spill_fd_ = -1;
  int spill_writes_ = 0;
};

// Rows of a few shapes, some long, some with quotes and line breaks.
RowStore sample_rows() {
  RowStore rows;
  for (int i = 0; i < 300; ++i) {
    append_row(rows, {"row " + std::to_string(i), "a \"quoted\" field",
                      std::string(static_cast<std::size_t>(i * 7), 'x'), "multi\nline"});
  }
  return rows;
}

std::string expected_quarantine(const RowStore& rows) {
  Quarantine records;
  for (std::size_t i = 0; i < rows.row_count(); ++i) {
    records.add(rows.row(i), i % 2 == 0 ? QuarantineReason::ExtraColumns : QuarantineReason::TooFewColumns,
                3, i + 2);
  }
  MemoryFiles files;
  {
    BufferedWriter out(PosixFile(files.open("q", O_CREAT, 0), files), kFileWriteBuffer);
    EXPECT_TRUE(write_quarantine(out, records, ';'));
    EXPECT_TRUE(out.flush());
  }
  return files.files["q"];
}

std::string spooled(const RowStore& rows, std::size_t memory_limit, MemoryFiles& files) {
  const SpillFiles spill_files({}, files);
  QuarantineSpool spool(memory_limit, spill_files);
  for (std::size_t i = 0; i < rows.row_count(); ++i) {
    spool.add(rows.row(i), i % 2 == 0 ? QuarantineReason::ExtraColumns : QuarantineReason::TooFewColumns,
              3, i + 2, ';');
  }
  EXPECT_EQ(spool.size(), rows.row_count());
  {
    BufferedWriter out(PosixFile(files.open("q", O_CREAT, 0), files), kFileWriteBuffer);
    EXPECT_TRUE(spool.write_to(out));
    EXPECT_TRUE(out.flush());
  }
  return files.files["q"];
}

TEST(QuarantineSpool, WritesWhatWriteQuarantineWritesWhereverTheLinesWaited) {
  const RowStore rows = sample_rows();
  const std::string expected = expected_quarantine(rows);
  for (const std::size_t limit : {std::size_t{0}, std::size_t{5000}, std::size_t{1} << 30}) {
    SCOPED_TRACE("memory limit " + std::to_string(limit));
    MemoryFiles spill_allowed;
    spill_allowed.files[SpillFiles::kFallbackDirectory] = "";
    EXPECT_EQ(spooled(rows, limit, spill_allowed), expected);
    if (limit < (std::size_t{1} << 30)) {
      // Everything but the lines still in memory went to the spill file.
      EXPECT_GT(spill_allowed.files[SpillFiles::kFallbackDirectory].size(), expected.size() / 2);
    }
  }
}

TEST(QuarantineSpool, LinesStayInMemoryWhenNoSpillFileCanBeMade) {
  const RowStore rows = sample_rows();
  MemoryFiles no_spill;  // no spill directory: opening it fails
  EXPECT_EQ(spooled(rows, 0, no_spill), expected_quarantine(rows));
}

TEST(QuarantineSpool, ASpillWriteThatFailsKeepsItsLinesInMemory) {
  const RowStore rows = sample_rows();
  for (const int fail_from : {1, 2, 5}) {
    SCOPED_TRACE("spill writes fail from the " + std::to_string(fail_from) + "th on");
    SpillFailing files;
    files.files[SpillFiles::kFallbackDirectory] = "";
    files.fail_from = fail_from;
    EXPECT_EQ(spooled(rows, 2000, files), expected_quarantine(rows));
  }
}

}  // namespace
}  // namespace vestle
