// Texts of I/O errors as callers see them, through the engine error that carries them.
#include "error/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

#include "error/vestle_error.h"

namespace vestle {
namespace {

struct TextCase {
  const char* name;
  IoError error;
  const char* text;
  int os_error;  // what the binding picks the exception type by
};

class IoErrorText : public ::testing::TestWithParam<TextCase> {};

TEST_P(IoErrorText, ReadsAsCallersSeeIt) {
  const TextCase& c = GetParam();
  const VestleError error(c.error);
  EXPECT_EQ(error.text(), c.text);
  EXPECT_EQ(error.io().os_error(), c.os_error);
}

// The errno texts are the C library's; these are glibc's.
INSTANTIATE_TEST_SUITE_P(
    Kinds, IoErrorText,
    ::testing::Values(
        TextCase{"not_found", IoError::from_errno(ENOENT), "No such file or directory (os error 2)",
                 ENOENT},
        TextCase{"permission", IoError::from_errno(EACCES), "Permission denied (os error 13)", EACCES},
        TextCase{"no_space", IoError::from_errno(ENOSPC), "No space left on device (os error 28)",
                 ENOSPC},
        TextCase{"unknown_errno", IoError::from_errno(9999), "Unknown error 9999 (os error 9999)",
                 9999},
        TextCase{"out_of_memory", IoError::of_kind(IoErrorKind::OutOfMemory), "out of memory", 0},
        TextCase{"write_zero", IoError::of_kind(IoErrorKind::WriteZero), "write zero", 0},
        TextCase{"other", IoError::of_kind(IoErrorKind::Other), "other error", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vestle
