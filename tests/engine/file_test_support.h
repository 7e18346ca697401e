// Test helpers for the file layer: a scratch directory and system calls with scripted faults.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "io/posix_file.h"

namespace vestle::file_testing {

// A fresh directory from mkdtemp, removed with its content at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vestle-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed: " << errno;
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
  [[nodiscard]] const std::string& path() const { return path_; }
  // Names of the entries, sorted.
  [[nodiscard]] std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline void write_text(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Real writes, except that each queued step decides one write call first:
// a step >= 0 lets at most that many bytes through (0: the call takes none),
// a step < 0 fails the call with errno -step. Requested sizes are recorded.
class ScriptedWrites : public FileOps {
 public:
  std::deque<long> script;
  std::vector<std::size_t> requested;

  ssize_t write(int fd, const void* data, std::size_t size) override {
    requested.push_back(size);
    if (!script.empty()) {
      const long step = script.front();
      script.pop_front();
      if (step < 0) {
        errno = static_cast<int>(-step);
        return -1;
      }
      size = std::min(size, static_cast<std::size_t>(step));
      if (size == 0) return 0;
    }
    return FileOps::write(fd, data, size);
  }
};

}  // namespace vestle::file_testing
