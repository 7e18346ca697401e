// Texts of I/O errors and of the engine error that carries them.
#include "error/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

#include "error/vestle_error.h"

namespace vestle {
namespace {

class OsErrorText : public ::testing::TestWithParam<int> {};

TEST_P(OsErrorText, IsTheLibraryDescriptionThenTheNumber) {
  const int code = GetParam();
  const std::string text = IoError::from_errno(code).text();
  const std::string suffix = " (os error " + std::to_string(code) + ")";
  EXPECT_EQ(text, std::string(std::strerror(code)) + suffix);
  ASSERT_GT(text.size(), suffix.size());
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
}

INSTANTIATE_TEST_SUITE_P(Errnos, OsErrorText,
                         ::testing::Values(ENOENT, EACCES, EISDIR, ENOSPC, EIO, EINTR, 9999));

TEST(IoErrorText, NotFoundReadsAsTheSystemSaysIt) {
  EXPECT_EQ(IoError::from_errno(ENOENT).text(), "No such file or directory (os error 2)");
  EXPECT_EQ(IoError::from_errno(ENOENT).os_error(), ENOENT);
  EXPECT_EQ(IoError::from_errno(ENOENT).kind(), IoErrorKind::Os);
}

struct FixedCase {
  IoError error;
  const char* text;
  friend void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.text; }
};

class FixedText : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedText, MessageOrKindDescription) {
  EXPECT_EQ(GetParam().error.text(), GetParam().text);
  EXPECT_EQ(GetParam().error.os_error(), 0);
  EXPECT_EQ(VestleError(GetParam().error).text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FixedText,
    ::testing::Values(
        FixedCase{IoError::with_message(IoErrorKind::WriteZero, "failed to write whole buffer"),
                  "failed to write whole buffer"},
        FixedCase{IoError::with_message(IoErrorKind::WriteZero, "failed to write the buffered data"),
                  "failed to write the buffered data"},
        FixedCase{IoError::of_kind(IoErrorKind::OutOfMemory), "out of memory"},
        FixedCase{IoError::of_kind(IoErrorKind::WriteZero), "write zero"},
        FixedCase{IoError::of_kind(IoErrorKind::Other), "other error"}));

TEST(VestleErrorText, CarriesTheIoErrorUnchanged) {
  const VestleError error(IoError::from_errno(ENOSPC));
  EXPECT_EQ(error.kind(), VestleError::Kind::Io);
  EXPECT_EQ(error.io().os_error(), ENOSPC);
  EXPECT_EQ(error.text(), IoError::from_errno(ENOSPC).text());
}

}  // namespace
}  // namespace vestle
