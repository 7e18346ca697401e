// Writing one whole output file, directly or through a temporary that replaces it.
#include "io/output_file.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#include "io/io_sizes.h"

namespace vestle {
namespace {

constexpr int kTemporaryAttempts = 32;

std::uint64_t random_word() noexcept {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
  // No entropy available yet: the name only has to be unlikely to exist, and
  // O_EXCL catches the rest.
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ULL) ^
         (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
         (static_cast<std::uint64_t>(::getpid()) << 40) ^ counter.fetch_add(1);
}

std::string directory_prefix(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct Temporary {
  PosixFile file;
  std::string path;
};

Result<Temporary, IoError> create_temporary(const std::string& target, FileOps& ops) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string prefix = directory_prefix(target) + ".vestle-";
  for (int attempt = 0;; ++attempt) {
    std::string path = prefix;
    for (std::uint64_t bits = random_word(), i = 0; i < 16; ++i, bits >>= 4) {
      path.push_back(kHex[bits & 0xF]);
    }
    path += ".tmp";
    // Private until complete; the original's bits are applied below.
    Result<PosixFile, IoError> created = PosixFile::create_new(path, 0600, ops);
    if (created) return Temporary{std::move(created).value(), std::move(path)};
    if (created.error().os_error() != EEXIST || attempt + 1 == kTemporaryAttempts) {
      return created.error();
    }
  }
}

// The directory does not let us add a file; writing in place still may work.
bool refused_by_directory(const IoError& error) noexcept {
  switch (error.os_error()) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENAMETOOLONG:
    case EEXIST:
      return true;
    default:
      return false;
  }
}

// Fills the file with its buffers written behind. A write that failed
// behind came before whatever failure stopped the filling.
Result<Done, IoError> fill_behind(BufferedWriter& writer, const FillFile& fill) {
  writer.write_behind();
  Result<Done, IoError> filled = fill(writer);
  if (!filled) {
    if (Result<Done, IoError> earlier = writer.settle(); !earlier) return earlier;
  }
  return filled;
}

// Flushes, optionally syncs, records the identity and closes, reporting any failure.
Result<std::optional<FileId>, IoError> finish(BufferedWriter& writer, bool sync) {
  if (Result<Done, IoError> flushed = writer.flush(); !flushed) return flushed.error();
  if (sync) {
    if (Result<Done, IoError> synced = writer.file().sync(); !synced) return synced.error();
  }
  std::optional<FileId> id = file_id(writer.file());
  if (Result<Done, IoError> closed = writer.file().close(); !closed) return closed.error();
  return id;
}

Result<WrittenFile, IoError> replace_through(Temporary temporary, std::string target,
                                             const struct stat& original, FileOps& ops,
                                             const FillFile& fill) {
  // Declared before the writer: the writer's last attempt and close come
  // before the temporary is removed.
  PendingReplacement replacement(std::move(temporary.path), std::move(target), ops);
  // Owner first: changing it may clear set-id bits.
  temporary.file.try_set_owner(original.st_uid, original.st_gid);
  if (Result<Done, IoError> chmod = temporary.file.set_permissions(original.st_mode & 07777);
      !chmod) {
    return chmod.error();
  }
  BufferedWriter writer(std::move(temporary.file), kFileWriteBuffer);
  if (Result<Done, IoError> filled = fill_behind(writer, fill); !filled) return filled.error();
  Result<std::optional<FileId>, IoError> finished = finish(writer, /*sync=*/true);
  if (!finished) return finished.error();
  return WrittenFile{finished.value(), std::move(replacement)};
}

// The file at `path` when it is one of `keep_intact`, which must be replaced
// rather than overwritten. Only regular files are replaced: devices, FIFOs and
// the like are written as they are.
std::optional<struct stat> file_to_keep_intact(const std::string& path,
                                               std::span<const FileId> keep_intact, FileOps& ops) {
  if (keep_intact.empty()) return std::nullopt;
  Result<struct stat, IoError> status = path_status(path, ops);
  if (!status || !S_ISREG(status.value().st_mode)) return std::nullopt;
  const FileId id{status.value().st_dev, status.value().st_ino};
  if (std::find(keep_intact.begin(), keep_intact.end(), id) == keep_intact.end()) return std::nullopt;
  return status.value();
}

Result<WrittenFile, IoError> write_in_place(const std::string& path, FileOps& ops,
                                            const FillFile& fill) {
  Result<PosixFile, IoError> created = PosixFile::create(path, ops);
  if (!created) return created.error();
  BufferedWriter writer(std::move(created).value(), kFileWriteBuffer);
  if (Result<Done, IoError> filled = fill_behind(writer, fill); !filled) return filled.error();
  Result<std::optional<FileId>, IoError> finished = finish(writer, /*sync=*/false);
  if (!finished) return finished.error();
  return WrittenFile{finished.value(), std::nullopt};
}

}  // namespace

PendingReplacement::PendingReplacement(PendingReplacement&& other) noexcept
    : temporary_(std::exchange(other.temporary_, std::string())),
      target_(std::move(other.target_)),
      ops_(other.ops_) {}

PendingReplacement& PendingReplacement::operator=(PendingReplacement&& other) noexcept {
  if (this != &other) {
    discard();
    temporary_ = std::exchange(other.temporary_, std::string());
    target_ = std::move(other.target_);
    ops_ = other.ops_;
  }
  return *this;
}

PendingReplacement::~PendingReplacement() { discard(); }

void PendingReplacement::discard() noexcept {
  if (!temporary_.empty()) (void)ops_->unlink(temporary_.c_str());
  temporary_.clear();
}

Result<Done, IoError> PendingReplacement::commit() {
  if (temporary_.empty()) return Done{};
  if (ops_->rename(temporary_.c_str(), target_.c_str()) != 0) return IoError::from_errno(errno);
  temporary_.clear();
  return Done{};
}

// A rename replaces the last path component, so a symbolic link there must
// be resolved to the file it points at.
std::string replacement_target(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

void PendingReplacements::add(std::optional<PendingReplacement> replacement) {
  if (!replacement) return;
  std::erase_if(pending_, [&](const PendingReplacement& earlier) {
    return earlier.target() == replacement->target();
  });
  pending_.push_back(std::move(*replacement));
}

Result<Done, IoError> PendingReplacements::commit_all(const std::string& last_target) {
  for (const bool last : {false, true}) {
    for (PendingReplacement& replacement : pending_) {
      if ((replacement.target() == last_target) != last) continue;
      if (Result<Done, IoError> committed = replacement.commit(); !committed) return committed;
    }
  }
  return Done{};
}

std::optional<FileId> file_id(PosixFile& file) {
  Result<struct stat, IoError> status = file.status();
  if (!status) return std::nullopt;
  return FileId{status.value().st_dev, status.value().st_ino};
}

Result<WrittenFile, IoError> write_whole_file(const std::string& path,
                                              std::span<const FileId> keep_intact, FileOps& ops,
                                              const FillFile& fill,
                                              const BeforeOverwrite& before_overwrite) {
  if (const std::optional<struct stat> existing = file_to_keep_intact(path, keep_intact, ops)) {
    std::string target = replacement_target(path);
    Result<Temporary, IoError> temporary = create_temporary(target, ops);
    if (temporary) {
      return replace_through(std::move(temporary).value(), std::move(target), *existing, ops, fill);
    }
    if (!refused_by_directory(temporary.error())) return temporary.error();
    if (before_overwrite) {
      if (Result<Done, IoError> ready = before_overwrite(); !ready) return ready.error();
    }
  }
  return write_in_place(path, ops, fill);
}

}  // namespace vestle
