// Writing one whole output file, replacing files that must survive a failure atomically.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "vestle/buffered_writer.h"
#include "vestle/posix_file.h"

namespace vestle {

// Which file a path or descriptor refers to.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

// The identity of an open file, absent when it cannot be queried.
[[nodiscard]] std::optional<FileId> file_id(PosixFile& file);

// Writes the content of one file; returns the first failure.
using FillFile = std::function<Result<Done, IoError>(BufferedWriter&)>;

// Creates (or truncates) the file at `path`, writes it through `fill`, flushes
// it and closes it, reporting a failed close as the error. When `path` names a
// regular file listed in `keep_intact`, the content goes instead to a new
// temporary file in the same directory, with the original's owner and
// permission bits, synced, and renamed over the original only when complete;
// on failure the temporary is removed and the original is untouched. Where
// the directory refuses the temporary, the file is truncated and written in
// place after all. Returns the identity of the written file when known.
[[nodiscard]] Result<std::optional<FileId>, IoError> write_whole_file(
    const std::string& path, std::span<const FileId> keep_intact, FileOps& ops,
    const FillFile& fill);

}  // namespace vestle
