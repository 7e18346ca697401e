// Writing one whole output file; files that must survive a failure are replaced only on commit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/buffered_writer.h"
#include "io/posix_file.h"

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
// Runs before a file that must survive is truncated to be written in place.
using BeforeOverwrite = std::function<Result<Done, IoError>()>;

// A complete file waiting in a temporary beside the file it is to replace.
// Destroying it removes the temporary unless `commit` has renamed it over
// the target.
class PendingReplacement {
 public:
  PendingReplacement(std::string temporary, std::string target, FileOps& ops) noexcept
      : temporary_(std::move(temporary)), target_(std::move(target)), ops_(&ops) {}
  PendingReplacement(PendingReplacement&& other) noexcept;
  PendingReplacement& operator=(PendingReplacement&& other) noexcept;
  PendingReplacement(const PendingReplacement&) = delete;
  PendingReplacement& operator=(const PendingReplacement&) = delete;
  ~PendingReplacement();

  [[nodiscard]] const std::string& target() const noexcept { return target_; }
  // Renames the temporary over the target; on failure the temporary is still removed later.
  [[nodiscard]] Result<Done, IoError> commit();

 private:
  void discard() noexcept;

  std::string temporary_;  // empty once committed, discarded or moved from
  std::string target_;
  FileOps* ops_;
};

// What write_whole_file produced.
struct WrittenFile {
  std::optional<FileId> id;  // of the file written (the temporary's, when one is pending)
  std::optional<PendingReplacement> replacement;  // present when the target is still untouched
};

// Creates (or truncates) the file at `path`, writes it through `fill`, flushes
// it and closes it, reporting a failed close as the error. When `path` names a
// regular file listed in `keep_intact`, the content goes instead to a new
// temporary file in the same directory, with the original's owner and
// permission bits, synced, and handed back as a pending replacement: the
// original stays untouched until the caller commits it, and on failure the
// temporary is removed. Where the directory refuses the temporary, the file
// is truncated and written in place after all, once `before_overwrite` (when
// given) has run without error.
[[nodiscard]] Result<WrittenFile, IoError> write_whole_file(
    const std::string& path, std::span<const FileId> keep_intact, FileOps& ops,
    const FillFile& fill, const BeforeOverwrite& before_overwrite = {});

// The path a replacement of `path` renames over: symbolic links resolved.
[[nodiscard]] std::string replacement_target(const std::string& path);

// The replacements of one run, held back until every file has been written.
class PendingReplacements {
 public:
  // A later replacement of the same target supersedes the earlier one, whose
  // temporary is removed at once: only the last content would survive anyway.
  void add(std::optional<PendingReplacement> replacement);
  // Renames every temporary over its target, in the order added but
  // `last_target` last, so that a failing rename leaves that file as it was;
  // stops at the first failure.
  [[nodiscard]] Result<Done, IoError> commit_all(const std::string& last_target);

 private:
  std::vector<PendingReplacement> pending_;
};

}  // namespace vestle
