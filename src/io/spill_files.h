// Unnamed files for what a run cannot hold in memory.
#pragma once

#include <string>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/posix_file.h"

namespace vestle {

// A run spills beside its output, in a directory that must hold the output
// anyway, rather than in /tmp, which is often kept in memory. It uses /tmp
// when the output is not a regular file (/dev/stdout, say) or its directory
// cannot hold an unnamed file.
class SpillFiles {
 public:
  static constexpr const char* kFallbackDirectory = "/tmp";

  // Only in /tmp when `output_path` is empty.
  explicit SpillFiles(std::string output_path = {}, FileOps& ops = system_file_ops());

  // A new unnamed file open for reading and writing; it goes away when closed.
  [[nodiscard]] Result<PosixFile, IoError> create() const;

 private:
  std::string output_path_;
  FileOps& ops_;
};

// Spill files in /tmp through the real system calls.
[[nodiscard]] SpillFiles& tmp_spill_files() noexcept;

}  // namespace vestle
