// Runs a fuzz target once over every file named on the command line, or found in a named
// directory: the targets' entry point for compilers without libFuzzer, and the corpus replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool replay_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  // An exact-size heap copy, so that the sanitizers catch a read past the end.
  const std::size_t size = bytes.size();
  const auto copy = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), size);
  LLVMFuzzerTestOneInput(copy.get(), size);
  return true;
}

// The files of `root` in name order, so that runs are repeatable.
std::vector<fs::path> files_in(const fs::path& root, std::error_code& error) {
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;  // a libFuzzer flag: meaningless here
    const fs::path arg(argv[i]);
    std::error_code error;
    std::vector<fs::path> files;
    if (fs::is_directory(arg, error)) {
      files = files_in(arg, error);
    } else if (fs::exists(arg, error)) {
      files.push_back(arg);
    }
    if (error || files.empty()) {
      std::fprintf(stderr, "no input at %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& file : files) {
      if (!replay_file(file)) return 1;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIR...\n", argv[0]);
    return 1;
  }
  std::printf("replayed %zu inputs without a failure\n", replayed);
  return 0;
}
