// Choosing where a spill file goes.
#include "io/spill_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace vestle {

SpillFiles::SpillFiles(std::string output_path, FileOps& ops)
    : output_path_(std::move(output_path)), ops_(ops) {}

Result<PosixFile, IoError> SpillFiles::create() const {
  if (!output_path_.empty()) {
    Result<struct stat, IoError> output = path_status(output_path_, ops_);
    const bool beside = output ? S_ISREG(output.value().st_mode)
                               : output.error().os_error() == ENOENT;
    if (beside) {
      const std::size_t slash = output_path_.rfind('/');
      const std::string directory =
          slash == std::string::npos ? std::string(".") : output_path_.substr(0, slash + 1);
      if (Result<PosixFile, IoError> created = PosixFile::create_unnamed(directory, ops_)) {
        return created;
      }
    }
  }
  return PosixFile::create_unnamed(kFallbackDirectory, ops_);
}

SpillFiles& tmp_spill_files() noexcept {
  static SpillFiles files;
  return files;
}

}  // namespace vestle
