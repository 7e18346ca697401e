// The file pipeline: what each failure leaves on disk, and repairs over the input itself.
#include "stream/file_pipeline.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "file_test_support.h"
#include "stream/quarantine_spool.h"
#include "support/faulty_ops.h"
#include "support/quarantine_lines.h"

namespace vestle {
namespace {

using file_testing::read_text;
using file_testing::TempDir;
using file_testing::write_text;
using testing::Fault;
using testing::FaultyOps;
using testing::Files;
using Names = std::vector<std::string>;

// Two columns, extra fields set aside: one row passes, one is quarantined.
const std::string kInput = "a,b\nc,d,e\n";
const std::string kRepaired = "a,b\n";
const std::string& kHeader = testing::kQuarantineHeaderLine;
const std::string kQuarantine =
    kHeader + testing::quarantine_line(3, testing::extra_columns(2), "c,d,e");

VestleOptions two_columns_no_merge() {
  VestleOptions options;
  options.delimiter = ',';
  options.expected_columns = 2;
  options.merge_overflow = false;
  return options;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

class VestleFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_text(input_, kInput);
    ASSERT_EQ(::mkdir(dir_.file("sub").c_str(), 0755), 0);
  }
  // Absolute paths and "" as given, other names inside the scratch directory.
  [[nodiscard]] std::string path(const std::string& name) const {
    return name.empty() || name[0] == '/' ? name : dir_.file(name);
  }

  TempDir dir_;
  const std::string input_ = dir_.file("in.csv");
};

struct RunCase {
  const char* name;
  std::string input;
  std::string output;
  std::optional<std::string> quarantine;
  int error;  // 0: the run succeeds
  Names entries;
  friend void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }
};

class PipelineRuns : public VestleFileTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(PipelineRuns, ErrorAndFilesLeftBehind) {
  const RunCase& c = GetParam();
  std::optional<std::string> quarantine;
  if (c.quarantine) quarantine = path(*c.quarantine);
  Result<VestleStats> run =
      vestle_file(path(c.input), path(c.output), quarantine, two_columns_no_merge());
  if (c.error == 0) {
    ASSERT_TRUE(run) << run.error().text();
    EXPECT_EQ(run.value().total_rows, 2U);
    EXPECT_EQ(run.value().vestled_rows, 1U);
    EXPECT_EQ(run.value().quarantined_rows, 1U);
    EXPECT_EQ(run.value().inferred_columns, 2U);
  } else {
    ASSERT_FALSE(run);
    EXPECT_EQ(run.error().text(), IoError::from_errno(c.error).text());
  }
  EXPECT_EQ(dir_.entries(), c.entries);
  EXPECT_EQ(read_text(input_), kInput);
  // Whatever was written, was written whole (a name with a NUL names nothing).
  const auto names_a_file = [](const std::string& name) { return name.find('\0') == std::string::npos; };
  if (names_a_file(c.output) && std::filesystem::is_regular_file(path(c.output))) {
    EXPECT_EQ(read_text(path(c.output)), kRepaired);
  }
  if (c.quarantine && names_a_file(*c.quarantine) && std::filesystem::is_regular_file(path(*c.quarantine))) {
    EXPECT_EQ(read_text(path(*c.quarantine)), kQuarantine);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PipelineRuns,
    ::testing::Values(
        RunCase{"Success", "in.csv", "out.csv", "q.csv", 0, {"in.csv", "out.csv", "q.csv", "sub"}},
        RunCase{"NoQuarantinePath", "in.csv", "out.csv", std::nullopt, 0, {"in.csv", "out.csv", "sub"}},
        RunCase{"NullDevice", "in.csv", "/dev/null", "/dev/null", 0, {"in.csv", "sub"}},
        RunCase{"MissingInput", "missing.csv", "out.csv", "q.csv", ENOENT, {"in.csv", "sub"}},
        RunCase{"DirectoryAsInput", "sub", "out.csv", "q.csv", EISDIR, {"in.csv", "sub"}},
        RunCase{"OutputInMissingDirectory", "in.csv", "none/out.csv", "q.csv", ENOENT,
            {"in.csv", "sub"}},
        RunCase{"QuarantineInMissingDirectory", "in.csv", "out.csv", "none/q.csv", ENOENT,
            {"in.csv", "out.csv", "sub"}},
        RunCase{"EmptyQuarantinePath", "in.csv", "out.csv", "", ENOENT, {"in.csv", "out.csv", "sub"}},
        RunCase{"FullDeviceOutput", "in.csv", "/dev/full", "q.csv", ENOSPC, {"in.csv", "sub"}},
        RunCase{"FullDeviceQuarantine", "in.csv", "out.csv", "/dev/full", ENOSPC,
            {"in.csv", "out.csv", "sub"}},
        // A NUL ends a name for the system: the file before it must not be touched instead.
        RunCase{"NulInInputPath", std::string("in.csv\0x", 8), "out.csv", "q.csv", EINVAL,
            {"in.csv", "sub"}},
        RunCase{"NulInOutputPath", "in.csv", std::string("out.csv\0x", 9), "q.csv", EINVAL,
            {"in.csv", "sub"}},
        RunCase{"NulInOutputNamingTheInput", "in.csv", std::string("in.csv\0x", 8), "q.csv", EINVAL,
            {"in.csv", "sub"}},
        RunCase{"NulInQuarantinePath", "in.csv", "out.csv", std::string("q.csv\0x", 7), EINVAL,
            {"in.csv", "out.csv", "sub"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VestleFileTest, NullDeviceStaysADevice) {
  ASSERT_TRUE(vestle_file(input_, "/dev/null", "/dev/null", two_columns_no_merge()));
  EXPECT_TRUE(S_ISCHR(mode_of("/dev/null")));
}

TEST_F(VestleFileTest, EmptyInputGivesEmptyOutputAndHeaderOnlyQuarantine) {
  write_text(input_, "");
  VestleOptions options;
  options.delimiter = ';';
  options.expected_columns = 5;
  Result<VestleStats> run = vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), options);
  ASSERT_TRUE(run) << run.error().text();
  EXPECT_EQ(run.value().detected_delimiter, ',');
  EXPECT_EQ(run.value().total_rows + run.value().vestled_rows + run.value().repaired_rows +
                run.value().quarantined_rows + run.value().inferred_columns,
            0U);
  EXPECT_EQ(read_text(dir_.file("out.csv")), "");
  EXPECT_EQ(read_text(dir_.file("q.csv")), kHeader);
}

TEST_F(VestleFileTest, QuarantineHoldsTheHeaderWhenNothingIsSetAside) {
  write_text(input_, "a,b\nc,d\n");
  ASSERT_TRUE(vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), two_columns_no_merge()));
  EXPECT_EQ(read_text(dir_.file("out.csv")), "a,b\nc,d\n");
  EXPECT_EQ(read_text(dir_.file("q.csv")), kHeader);
}

TEST_F(VestleFileTest, QuarantineEscapesDoubleQuotesWhateverTheQuoteCharacter) {
  write_text(input_, "x\"y,z,w\n'p,q',r\n");
  VestleOptions options = two_columns_no_merge();
  options.quote_char = '\'';
  ASSERT_TRUE(vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), options));
  EXPECT_EQ(read_text(dir_.file("out.csv")), "'p,q',r\n");
  EXPECT_EQ(read_text(dir_.file("q.csv")),
            kHeader + testing::quarantine_line(2, testing::extra_columns(2), "x\"y,z,w"));
}

TEST_F(VestleFileTest, OutputEqualToQuarantineEndsWithTheQuarantine) {
  ASSERT_TRUE(vestle_file(input_, dir_.file("same.csv"), dir_.file("same.csv"),
                          two_columns_no_merge()));
  EXPECT_EQ(read_text(dir_.file("same.csv")), kQuarantine);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "same.csv", "sub"}));
}

TEST_F(VestleFileTest, InPlaceRepairReplacesTheContentAndKeepsTheMode) {
  ASSERT_EQ(::chmod(input_.c_str(), 0640), 0);
  VestleOptions options;  // merging on: "c,d,e" becomes c and "d,e"
  options.expected_columns = 2;
  Result<VestleStats> run = vestle_file(input_, input_, std::nullopt, options);
  ASSERT_TRUE(run) << run.error().text();
  EXPECT_EQ(run.value().repaired_rows, 1U);
  EXPECT_EQ(read_text(input_), "a,b\nc,\"d,e\"\n");
  EXPECT_EQ(mode_of(input_) & 07777, 0640U);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "sub"}));
}

TEST_F(VestleFileTest, InPlaceRepairKeepsTheOwnerWhenPrivileged) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the right to give files away";
  ASSERT_EQ(::chown(input_.c_str(), 12345, 23456), 0);
  ASSERT_TRUE(vestle_file(input_, input_, std::nullopt, two_columns_no_merge()));
  struct stat st {};
  ASSERT_EQ(::stat(input_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 12345U);
  EXPECT_EQ(st.st_gid, 23456U);
  EXPECT_EQ(read_text(input_), kRepaired);
}

TEST_F(VestleFileTest, InPlaceThroughASymlinkReplacesTheTarget) {
  const std::string link = dir_.file("link.csv");
  ASSERT_EQ(::symlink("in.csv", link.c_str()), 0);
  ASSERT_TRUE(vestle_file(link, link, std::nullopt, two_columns_no_merge()));
  EXPECT_TRUE(S_ISLNK(mode_of(link)));
  EXPECT_EQ(read_text(input_), kRepaired);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "link.csv", "sub"}));
}

TEST_F(VestleFileTest, QuarantineOverTheInputReplacesItOnlyWhenComplete) {
  ASSERT_TRUE(vestle_file(input_, dir_.file("out.csv"), input_, two_columns_no_merge()));
  EXPECT_EQ(read_text(dir_.file("out.csv")), kRepaired);
  EXPECT_EQ(read_text(input_), kQuarantine);

  write_text(input_, kInput);
  FaultyOps ops(Fault::Write, EIO);
  Result<VestleStats> failed =
      vestle_file(input_, dir_.file("out.csv"), input_, two_columns_no_merge(), ops);
  ASSERT_FALSE(failed);
  EXPECT_EQ(read_text(input_), kInput);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "out.csv", "sub"}));
}

TEST_F(VestleFileTest, FailedQuarantineOverTheOutputLeavesTheOutputComplete) {
  FaultyOps ops(Fault::Write, ENOSPC);
  Result<VestleStats> run = vestle_file(input_, dir_.file("same.csv"), dir_.file("same.csv"),
                                        two_columns_no_merge(), ops);
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().io().os_error(), ENOSPC);
  EXPECT_EQ(read_text(dir_.file("same.csv")), kRepaired);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "same.csv", "sub"}));
}

struct InPlaceFault {
  const char* name;
  Fault fault;
  int code;
  bool succeeds;  // the directory refused the temporary: written in place instead
  friend void PrintTo(const InPlaceFault& c, std::ostream* os) { *os << c.name; }
};

class InPlaceFaults : public VestleFileTest, public ::testing::WithParamInterface<InPlaceFault> {};

TEST_P(InPlaceFaults, OriginalSurvivesAnyFailure) {
  const InPlaceFault& c = GetParam();
  ASSERT_EQ(::chmod(input_.c_str(), 0604), 0);
  FaultyOps ops(c.fault, c.code);
  Result<VestleStats> run = vestle_file(input_, input_, std::nullopt, two_columns_no_merge(), ops);
  if (c.succeeds) {
    ASSERT_TRUE(run) << run.error().text();
    EXPECT_EQ(read_text(input_), kRepaired);
  } else {
    ASSERT_FALSE(run);
    EXPECT_EQ(run.error().text(), IoError::from_errno(c.code).text());
    EXPECT_EQ(read_text(input_), kInput);
  }
  EXPECT_EQ(mode_of(input_) & 07777, 0604U);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "sub"})) << "no temporary left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InPlaceFaults,
    ::testing::Values(InPlaceFault{"CreateTemporaryIoError", Fault::CreateTemporary, EIO, false},
                      InPlaceFault{"CreateTemporaryNoSpace", Fault::CreateTemporary, ENOSPC, false},
                      InPlaceFault{"Write", Fault::Write, EIO, false},
                      InPlaceFault{"Fchmod", Fault::Fchmod, EIO, false},
                      InPlaceFault{"Fsync", Fault::Fsync, EIO, false},
                      InPlaceFault{"Close", Fault::Close, EIO, false},
                      InPlaceFault{"Rename", Fault::Rename, EXDEV, false},
                      InPlaceFault{"DirectoryRefusesTemporary", Fault::CreateTemporary, EACCES, true},
                      InPlaceFault{"ReadOnlyDirectoryEntry", Fault::CreateTemporary, EPERM, true}),
    [](const auto& info) { return std::string(info.param.name); });

ino_t inode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_ino;
}

// The input with other names for it (a symbolic link, a hard link) and
// obstacles (a regular file, a directory) beside it.
class InPlaceRuns : public VestleFileTest {
 protected:
  void SetUp() override {
    VestleFileTest::SetUp();
    ASSERT_EQ(::chmod(input_.c_str(), 0604), 0);
    ASSERT_EQ(::symlink("in.csv", dir_.file("link.csv").c_str()), 0);
    ASSERT_EQ(::link(input_.c_str(), dir_.file("hard.csv").c_str()), 0);
    write_text(dir_.file("plain.txt"), "x");
    input_inode_ = inode_of(input_);
  }
  // Everything in the directory besides `extra`: nothing else may be left behind.
  [[nodiscard]] static Names entries_with(Names extra) {
    extra.insert(extra.end(), {"hard.csv", "in.csv", "link.csv", "plain.txt", "sub"});
    std::sort(extra.begin(), extra.end());
    return extra;
  }

  ino_t input_inode_ = 0;
};

struct InPlaceRun {
  const char* name;
  std::string output;
  std::optional<std::string> quarantine;
  Fault fault = Fault::None;
  int code = 0;
  Files files = Files::Temporaries;
  int spared = 0;
  int error = 0;          // 0: the run succeeds
  bool untouched = true;  // in.csv is still the same file with the same bytes
  std::vector<std::pair<std::string, std::string>> contents = {};  // name, bytes afterwards
  Names created = {};     // entries besides the ones set up
  friend void PrintTo(const InPlaceRun& c, std::ostream* os) { *os << c.name; }
};

class InPlaceRunTable : public InPlaceRuns, public ::testing::WithParamInterface<InPlaceRun> {};

TEST_P(InPlaceRunTable, InputSurvivesUntilEveryFileIsComplete) {
  const InPlaceRun& c = GetParam();
  FaultyOps ops(c.fault, c.code, c.files, c.spared);
  std::optional<std::string> quarantine;
  if (c.quarantine) quarantine = path(*c.quarantine);
  Result<VestleStats> run =
      vestle_file(input_, path(c.output), quarantine, two_columns_no_merge(), ops);
  if (c.error == 0) {
    ASSERT_TRUE(run) << run.error().text();
    EXPECT_EQ(run.value().quarantined_rows, 1U);
  } else {
    ASSERT_FALSE(run);
    EXPECT_EQ(run.error().text(), IoError::from_errno(c.error).text());
  }
  if (c.untouched) {
    EXPECT_EQ(inode_of(input_), input_inode_);
    EXPECT_EQ(read_text(input_), kInput);
  }
  for (const auto& [name, bytes] : c.contents) EXPECT_EQ(read_text(dir_.file(name)), bytes) << name;
  EXPECT_EQ(mode_of(input_) & 07777, 0604U);
  EXPECT_TRUE(S_ISLNK(mode_of(dir_.file("link.csv"))));
  EXPECT_EQ(dir_.entries(), entries_with(c.created)) << "no temporary left behind";
  EXPECT_EQ(ops.closed(), ops.opened()) << "every descriptor closed exactly once";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InPlaceRunTable,
    ::testing::Values(
        // The output replaces the input; then the quarantine cannot be written.
        InPlaceRun{.name = "QuarantineInMissingDirectory", .output = "in.csv",
                   .quarantine = "none/q.csv", .error = ENOENT},
        InPlaceRun{.name = "QuarantineOnFullDevice", .output = "in.csv", .quarantine = "/dev/full",
                   .error = ENOSPC},
        InPlaceRun{.name = "QuarantineUnderARegularFile", .output = "in.csv",
                   .quarantine = "plain.txt/q.csv", .error = ENOTDIR,
                   .contents = {{"plain.txt", "x"}}},
        InPlaceRun{.name = "QuarantineNamingADirectory", .output = "in.csv", .quarantine = "sub",
                   .error = EISDIR},
        InPlaceRun{.name = "EmptyQuarantinePath", .output = "in.csv", .quarantine = "",
                   .error = ENOENT},
        InPlaceRun{.name = "QuarantineWriteFails", .output = "in.csv", .quarantine = "q.csv",
                   .fault = Fault::Write, .code = EIO, .files = Files::Direct, .error = EIO,
                   .contents = {{"q.csv", ""}}, .created = {"q.csv"}},
        InPlaceRun{.name = "QuarantineCloseFails", .output = "in.csv", .quarantine = "q.csv",
                   .fault = Fault::Close, .code = EIO, .files = Files::Direct, .error = EIO,
                   .contents = {{"q.csv", kQuarantine}}, .created = {"q.csv"}},
        InPlaceRun{.name = "RenameFails", .output = "in.csv", .quarantine = "q.csv",
                   .fault = Fault::Rename, .code = EXDEV, .error = EXDEV,
                   .contents = {{"q.csv", kQuarantine}}, .created = {"q.csv"}},
        // Other names of the input.
        InPlaceRun{.name = "SymlinkQuarantineInMissingDirectory", .output = "link.csv",
                   .quarantine = "none/q.csv", .error = ENOENT},
        InPlaceRun{.name = "HardLinkQuarantineInMissingDirectory", .output = "hard.csv",
                   .quarantine = "none/q.csv", .error = ENOENT, .contents = {{"hard.csv", kInput}}},
        InPlaceRun{.name = "SamePath", .output = "in.csv", .quarantine = "q.csv",
                   .untouched = false,
                   .contents = {{"in.csv", kRepaired}, {"q.csv", kQuarantine},
                                {"hard.csv", kInput}},
                   .created = {"q.csv"}},
        InPlaceRun{.name = "Symlink", .output = "link.csv", .quarantine = "q.csv",
                   .untouched = false, .contents = {{"in.csv", kRepaired}, {"q.csv", kQuarantine}},
                   .created = {"q.csv"}},
        // The hard link's name gets the repair; the input's name keeps the file.
        InPlaceRun{.name = "HardLink", .output = "hard.csv", .quarantine = "q.csv",
                   .contents = {{"hard.csv", kRepaired}, {"q.csv", kQuarantine}},
                   .created = {"q.csv"}},
        // The quarantine replaces the input; the output fails first.
        InPlaceRun{.name = "QuarantineOverInputOutputWriteFails", .output = "out.csv",
                   .quarantine = "in.csv", .fault = Fault::Write, .code = EIO,
                   .files = Files::Direct, .error = EIO, .contents = {{"out.csv", ""}},
                   .created = {"out.csv"}},
        InPlaceRun{.name = "QuarantineOverInputOutputOnFullDevice", .output = "/dev/full",
                   .quarantine = "in.csv", .error = ENOSPC},
        // Output, quarantine and input are one file: it ends holding the quarantine.
        InPlaceRun{.name = "AllTheSameFile", .output = "in.csv", .quarantine = "in.csv",
                   .untouched = false, .contents = {{"in.csv", kQuarantine}, {"hard.csv", kInput}}},
        InPlaceRun{.name = "AllTheSameFileThroughSymlink", .output = "link.csv",
                   .quarantine = "in.csv", .untouched = false,
                   .contents = {{"in.csv", kQuarantine}}},
        InPlaceRun{.name = "AllTheSameFileOutputFails", .output = "in.csv", .quarantine = "in.csv",
                   .fault = Fault::Write, .code = EIO, .error = EIO},
        InPlaceRun{.name = "AllTheSameFileQuarantineWriteFails", .output = "in.csv",
                   .quarantine = "in.csv", .fault = Fault::Write, .code = EIO, .spared = 1,
                   .error = EIO},
        InPlaceRun{.name = "AllTheSameFileQuarantineSyncFails", .output = "in.csv",
                   .quarantine = "in.csv", .fault = Fault::Fsync, .code = EIO, .spared = 1,
                   .error = EIO},
        InPlaceRun{.name = "AllTheSameFileRenameFails", .output = "in.csv", .quarantine = "in.csv",
                   .fault = Fault::Rename, .code = EXDEV, .error = EXDEV},
        // Two names of the input replaced at once: the input's own name is renamed last.
        InPlaceRun{.name = "TwoNamesOfTheInput", .output = "in.csv", .quarantine = "hard.csv",
                   .untouched = false,
                   .contents = {{"in.csv", kRepaired}, {"hard.csv", kQuarantine}}},
        InPlaceRun{.name = "TwoNamesOfTheInputSecondRenameFails", .output = "in.csv",
                   .quarantine = "hard.csv", .fault = Fault::Rename, .code = EXDEV, .spared = 1,
                   .error = EXDEV, .contents = {{"hard.csv", kQuarantine}}},
        InPlaceRun{.name = "TwoNamesOfTheInputOtherWaySecondRenameFails", .output = "hard.csv",
                   .quarantine = "in.csv", .fault = Fault::Rename, .code = EXDEV, .spared = 1,
                   .error = EXDEV, .contents = {{"hard.csv", kRepaired}}},
        // Where the directory refuses a temporary the input is written in place,
        // so a later failure finds it replaced already.
        InPlaceRun{.name = "DirectoryRefusesTemporary", .output = "in.csv",
                   .quarantine = "none/q.csv", .fault = Fault::CreateTemporary, .code = EACCES,
                   .error = ENOENT, .untouched = false, .contents = {{"in.csv", kRepaired}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct InterruptedClose {
  const char* name;
  std::string output;
  std::string quarantine;
  std::vector<std::pair<std::string, std::string>> contents;
  friend void PrintTo(const InterruptedClose& c, std::ostream* os) { *os << c.name; }
};

class InterruptedCloses : public VestleFileTest,
                          public ::testing::WithParamInterface<InterruptedClose> {};

// On Linux an interrupted close has still released the descriptor and lost
// nothing: it is no failure, and closing again could hit a reused descriptor.
TEST_P(InterruptedCloses, AreNeitherAnErrorNorRepeated) {
  const InterruptedClose& c = GetParam();
  FaultyOps ops(Fault::Close, EINTR, Files::Written);
  Result<VestleStats> run =
      vestle_file(input_, path(c.output), path(c.quarantine), two_columns_no_merge(), ops);
  ASSERT_TRUE(run) << run.error().text();
  for (const auto& [name, bytes] : c.contents) EXPECT_EQ(read_text(dir_.file(name)), bytes) << name;
  EXPECT_EQ(ops.closed(), ops.opened());
}

INSTANTIATE_TEST_SUITE_P(
    Closes, InterruptedCloses,
    ::testing::Values(
        InterruptedClose{"DirectFiles", "out.csv", "q.csv",
                         {{"out.csv", kRepaired}, {"q.csv", kQuarantine}, {"in.csv", kInput}}},
        InterruptedClose{"InPlace", "in.csv", "q.csv",
                         {{"in.csv", kRepaired}, {"q.csv", kQuarantine}}},
        InterruptedClose{"AllTheSameFile", "in.csv", "in.csv", {{"in.csv", kQuarantine}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VestleFileTest, FailedCloseOfAWrittenFileIsTheError) {
  FaultyOps ops(Fault::Close, EIO, Files::Written);
  Result<VestleStats> run =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), two_columns_no_merge(), ops);
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().io().os_error(), EIO);
  // The output's close failed: the quarantine was never created.
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "out.csv", "sub"}));
}

TEST_F(VestleFileTest, FailedCloseOfTheInputIsIgnored) {
  FaultyOps ops(Fault::CloseInput, EIO);
  Result<VestleStats> run =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), two_columns_no_merge(), ops);
  ASSERT_TRUE(run) << run.error().text();
  EXPECT_EQ(read_text(dir_.file("q.csv")), kQuarantine);
}

// A real write failure: the process may not grow files past a small limit.
class FileSizeLimit : public VestleFileTest {
 protected:
  static constexpr rlim_t kLimit = 4096;
  void SetUp() override {
    VestleFileTest::SetUp();
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "abc,def\n";
    big += "extra,row,here\n";  // something to set aside
    write_text(input_, big);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous_), 0);
    rlimit lowered = previous_;
    lowered.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  }
  void TearDown() override {
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &previous_), 0);
    std::signal(SIGXFSZ, previous_handler_);
  }

  rlimit previous_{};
  void (*previous_handler_)(int) = nullptr;
};

TEST_F(FileSizeLimit, OutputHoldsWhatWasWrittenBeforeTheFailure) {
  const std::string original = read_text(input_);
  Result<VestleStats> run =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), two_columns_no_merge());
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().io().os_error(), EFBIG);
  EXPECT_EQ(read_text(dir_.file("out.csv")), original.substr(0, kLimit));
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "out.csv", "sub"}));
}

TEST_F(FileSizeLimit, InPlaceFailureLeavesTheInputIntact) {
  const std::string original = read_text(input_);
  Result<VestleStats> run = vestle_file(input_, input_, std::nullopt, two_columns_no_merge());
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().io().os_error(), EFBIG);
  EXPECT_EQ(read_text(input_), original);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "sub"}));
}

// The output waits complete in its temporary while the quarantine grows past the limit.
TEST_F(FileSizeLimit, QuarantinePastTheLimitLeavesTheInputIntact) {
  std::string small = "a,b\n";
  for (int i = 0; i < 300; ++i) small += "abc,def,ghi\n";  // every one set aside
  ASSERT_LT(small.size(), kLimit);
  write_text(input_, small);
  Result<VestleStats> run =
      vestle_file(input_, input_, dir_.file("q.csv"), two_columns_no_merge());
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().io().os_error(), EFBIG);
  EXPECT_EQ(read_text(input_), small);
  const std::string quarantine = read_text(dir_.file("q.csv"));
  EXPECT_EQ(quarantine.size(), kLimit);
  EXPECT_EQ(quarantine.substr(0, kHeader.size()), kHeader);
  EXPECT_EQ(dir_.entries(), (Names{"in.csv", "q.csv", "sub"}));
}

// --- inputs larger than one read ------------------------------------------------

// Many rows of every kind: some pass, some are padded or merged, some set aside.
std::string many_rows(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    switch (i % 4) {
      case 0: out += "a" + std::to_string(i) + ",\"b,\"\"q\"\"\",c\n"; break;
      case 1: out += "short\n"; break;
      case 2: out += "x,y,z,extra\r\n"; break;
      default: out += "\xC3\xA9,\"multi\nline\",\xE2\x82\xAC\n"; break;
    }
  }
  return out;
}

VestleOptions three_columns() {
  VestleOptions options;
  options.expected_columns = 3;
  options.merge_overflow = false;
  return options;
}

// Real calls, except that the `fail_at`-th read of the input fails with EIO.
class FailingRead : public FileOps {
 public:
  explicit FailingRead(int fail_at) : fail_at_(fail_at) {}
  ssize_t read(int fd, void* buffer, std::size_t size) override {
    if (++reads_ == fail_at_) {
      errno = EIO;
      return -1;
    }
    return FileOps::read(fd, buffer, size);
  }

 private:
  int fail_at_;
  int reads_ = 0;
};

TEST_F(VestleFileTest, ReadFailingAfterTheOutputWasCreatedLeavesWhatWasWritten) {
  const std::string input = many_rows(200000);  // several reads
  write_text(input_, input);
  ASSERT_TRUE(vestle_file(input_, dir_.file("ref.csv"), dir_.file("ref_q.csv"), three_columns()));
  const std::string complete = read_text(dir_.file("ref.csv"));

  FailingRead ops(/*fail_at=*/4);
  const Result<VestleStats> result =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), three_columns(), ops);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().io().os_error(), EIO);
  const std::string partial = read_text(dir_.file("out.csv"));
  EXPECT_LT(partial.size(), complete.size());
  EXPECT_EQ(complete.compare(0, partial.size(), partial), 0);  // a prefix of the repair
  EXPECT_FALSE(std::filesystem::exists(dir_.file("q.csv")));
  EXPECT_EQ(read_text(input_), input);
}

// Every write of the output fails, and a read of the input after the first
// one: the write failed first, so its error is the one reported, though the
// buffer was written behind and the reading went on meanwhile.
TEST_F(VestleFileTest, AWriteThatFailedBeforeAReadIsTheErrorReported) {
  write_text(input_, many_rows(400000));
  class FailingWritesToo : public FailingRead {
   public:
    using FailingRead::FailingRead;
    ssize_t write(int, const void*, std::size_t) override {
      errno = ENOSPC;
      return -1;
    }
  } ops(/*fail_at=*/7);  // past the first buffer of output, before the second
  const Result<VestleStats> result =
      vestle_file(input_, dir_.file("out.csv"), std::nullopt, three_columns(), ops);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().io().os_error(), ENOSPC);
}

TEST_F(VestleFileTest, FirstReadFailingCreatesNoFile) {
  FailingRead ops(/*fail_at=*/1);
  const Result<VestleStats> result =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), three_columns(), ops);
  ASSERT_FALSE(result);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("out.csv")));
}

// Where the directory refuses a temporary, the output overwrites the input in
// place: it must have read all of it first, however many reads that takes,
// and a row too long to hold is read again from memory, not from the file.
TEST_F(VestleFileTest, InPlaceWithoutATemporaryReadsTheWholeInputFirst) {
  const std::string input =
      many_rows(100000) + "\"" + std::string(std::size_t{3} << 20, 'x') + "\",y,z\n" + many_rows(99999);
  write_text(input_, input);
  const std::string copy = dir_.file("copy.csv");
  write_text(copy, input);
  ASSERT_TRUE(vestle_file(copy, dir_.file("ref.csv"), dir_.file("ref_q.csv"), three_columns()));

  FaultyOps ops(Fault::CreateTemporary, EACCES);
  Result<VestleStats> result = vestle_file(input_, input_, dir_.file("q.csv"), three_columns(), ops);
  ASSERT_TRUE(result);
  EXPECT_EQ(read_text(input_), read_text(dir_.file("ref.csv")));
  EXPECT_EQ(read_text(dir_.file("q.csv")), read_text(dir_.file("ref_q.csv")));
  EXPECT_EQ(result.value().total_rows, 200000u);
}

// More rows set aside than the spool keeps in memory: they come back in order.
TEST_F(VestleFileTest, ManyRowsSetAsideComeBackInOrder) {
  std::string input = "a,b,c\n";
  for (int i = 0; i < 120000; ++i) input += "row " + std::to_string(i) + ",with,extra,fields\n";
  write_text(input_, input);
  Result<VestleStats> result =
      vestle_file(input_, dir_.file("out.csv"), dir_.file("q.csv"), three_columns());
  ASSERT_TRUE(result);
  EXPECT_EQ(result.value().quarantined_rows, 120000u);
  const std::string quarantine = read_text(dir_.file("q.csv"));
  EXPECT_GT(quarantine.size(), kQuarantineMemory);
  std::string expected = kHeader;
  for (int i = 0; i < 120000; ++i) {
    expected += testing::quarantine_line(i + 3, testing::extra_columns(3),
                                         "row " + std::to_string(i) + ",with,extra,fields");
  }
  EXPECT_EQ(quarantine, expected);
}

}  // namespace
}  // namespace vestle
