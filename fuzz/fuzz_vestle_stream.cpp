// Fuzz target for the streaming repair: for fuzz-chosen options and every
// window size and long-row threshold of the stream harness, the repaired bytes, the quarantine bytes
// and the statistics equal those of the whole-input repair.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_options.h"
#include "support/stream_harness.h"

namespace {

// Byte 4: how the input arrives and how much is held before spilling.
vestle::testing::StreamShape take_shape(vestle::fuzz::FuzzInput& in) {
  const unsigned char bits = in.take_byte();
  vestle::testing::StreamShape shape;
  if ((bits & 0x01) != 0) shape.settings.prefix_limit = 32;  // read twice, or held by a pipe
  shape.seekable = (bits & 0x02) == 0;
  if ((bits & 0x04) != 0) shape.quarantine_memory = 0;  // every line spilled
  shape.read_limit = 1 + ((bits >> 3) & 0x07);
  if ((bits & 0x40) != 0) shape.read_limit = static_cast<std::size_t>(-1);
  shape.into_memory = (bits & 0x80) != 0;  // as the reader keeps the rows
  return shape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vestle::fuzz::FuzzInput in(data, size);
  const vestle::VestleOptions options = vestle::fuzz::take_options(in);
  vestle::testing::StreamShape shape = take_shape(in);
  const std::string_view csv = in.rest();

  const vestle::testing::RepairBytes expected = vestle::testing::reference_repair(csv, options);
  FUZZ_CHECK(!expected.failed);
  for (const std::size_t chunk : vestle::testing::kChunkSizes) {
    for (const vestle::testing::LongRowShape& long_rows : vestle::testing::kLongRowShapes) {
      shape.settings.chunk_size = chunk;
      long_rows.apply(shape.settings);
      const vestle::testing::RepairBytes streamed =
          vestle::testing::streamed_repair(csv, options, shape);
      FUZZ_CHECK(!streamed.failed);
      FUZZ_CHECK(streamed.output == expected.output);
      FUZZ_CHECK(streamed.quarantine == expected.quarantine);
      FUZZ_CHECK(streamed.stats == expected.stats);
    }
  }
  return 0;
}
