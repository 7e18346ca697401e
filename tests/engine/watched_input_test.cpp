// Where watched bytes were first read, against a search of every range read.
#include "stream/watched_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "io/rereadable_input.h"

namespace vestle {
namespace {

TEST(WatchedInput, NotesTheLeastOffsetOfEachWatchedByteInAnyRead) {
  std::mt19937 random(20261208);
  const std::string alphabet = "abc,;\t|\"\n";
  std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
  // Mostly one letter, so that reads often hold none of the watched bytes.
  std::string text(5000, 'a');
  for (char& c : text) {
    if (random() % 40 == 0) c = alphabet[letter(random)];
  }
  HeldInput held(text.data(), text.size(), 0);
  WatchedInput watched(held);
  std::uniform_int_distribution<std::size_t> offset(0, text.size());
  std::uniform_int_distribution<std::size_t> length(0, 300);
  for (int round = 0; round < 200; ++round) {
    std::string bytes = alphabet;
    std::shuffle(bytes.begin(), bytes.end(), random);
    bytes.resize(1 + round % WatchedInput::kMaxWatched);
    watched.watch(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::uint64_t expected[256];
    std::fill(std::begin(expected), std::end(expected), UINT64_MAX);
    char out[300];
    for (int read = 0; read < 12; ++read) {
      const std::size_t at = offset(random);
      Result<std::size_t, IoError> read_count = watched.read_at(at, out, length(random));
      ASSERT_TRUE(read_count);
      const std::size_t count = read_count.value();
      ASSERT_EQ(std::string(out, count), text.substr(at, count));
      for (std::size_t i = 0; i < count; ++i) {
        const auto b = static_cast<unsigned char>(text[at + i]);
        expected[b] = std::min<std::uint64_t>(expected[b], at + i);
      }
      for (const unsigned char b : alphabet) {
        const bool is_watched = bytes.find(static_cast<char>(b)) != std::string::npos;
        EXPECT_EQ(watched.first_seen(b), is_watched ? expected[b] : 0) << "byte " << int{b};
      }
    }
  }
}

}  // namespace
}  // namespace vestle
