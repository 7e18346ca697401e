// Fuzz target for the writers: the repaired file must re-read as exactly the kept rows, and the
// quarantine file as one three-column line per record, through a file that takes short writes.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_options.h"
#include "io/buffered_writer.h"
#include "io/io_sizes.h"
#include "io/posix_file.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "repair/outcome.h"
#include "repair/slice.h"
#include "writer/csv_writers.h"

namespace {

// A file kept in memory that takes at most `max_chunk` bytes per write (0: all) and, when
// asked, fails every third write with EINTR, which the writer must simply repeat.
class MemoryFile final : public vestle::FileOps {
 public:
  MemoryFile(std::size_t max_chunk, bool interrupt) : max_chunk_(max_chunk), interrupt_(interrupt) {}

  ssize_t write(int /*fd*/, const void* data, std::size_t size) override {
    if (interrupt_ && ++calls_ % 3 == 0) {
      errno = EINTR;
      return -1;
    }
    if (max_chunk_ != 0 && size > max_chunk_) size = max_chunk_;
    bytes_.append(static_cast<const char*>(data), size);
    return static_cast<ssize_t>(size);
  }
  int close(int /*fd*/) override { return 0; }

  [[nodiscard]] const std::string& bytes() const noexcept { return bytes_; }

 private:
  std::size_t max_chunk_;
  bool interrupt_;
  unsigned calls_ = 0;
  std::string bytes_;
};

constexpr int kFakeDescriptor = 1 << 20;  // never touched: MemoryFile ignores it

template <class Write>
std::string write_to_memory(unsigned char pattern, Write write) {
  MemoryFile file(pattern & 0x7F, (pattern & 0x80) != 0);
  {
    vestle::BufferedWriter out(vestle::PosixFile(kFakeDescriptor, file), vestle::kFileWriteBuffer);
    FUZZ_CHECK(write(out).has_value());
    FUZZ_CHECK(out.flush().has_value());
    FUZZ_CHECK(out.buffered() == 0);
  }
  return file.bytes();
}

// Where re-reading the repaired file cannot give back the rows, by the file format itself:
// - the delimiter or quote is written as the UTF-8 text of its character (two bytes from 0x80
//   up) while the parser matches single bytes, and field text may hold that byte anyway;
// - a delimiter equal to the quote cannot be told apart from it;
// - a delimiter LF joins the row's fields with row ends, and a quote LF closing a field
//   before the row's LF reads as a doubled quote (CR is fine in either role: the delimiter
//   and quote tests come before the line-break test, and rows end with LF alone);
// - a file that starts with the byte-order mark (a first field beginning with U+FEFF) loses it.
bool round_trip_holds(std::string_view written, unsigned char d, unsigned char q) {
  if (d >= 0x80 || q >= 0x80 || d == q || d == '\n' || q == '\n') return false;
  return written.substr(0, 3) != "\xEF\xBB\xBF";
}

void check_rows_round_trip(const vestle::VestleOutcome& outcome, unsigned char q,
                           unsigned char pattern) {
  const vestle::RowStore& rows = outcome.rows;
  const unsigned char d = outcome.stats.detected_delimiter;
  const std::string written = write_to_memory(
      pattern, [&](vestle::BufferedWriter& out) { return vestle::write_rows(out, rows, d, q); });
  FUZZ_CHECK(rows.row_count() == 0 || written.back() == '\n');
  if (!round_trip_holds(written, d, q)) return;

  vestle::ResilientParser parser(written, d, q, /*repair_quotes=*/false);
  vestle::RowStore reread;
  while (parser.next_row(reread)) {
    const std::size_t r = reread.row_count() - 1;
    FUZZ_CHECK(r < rows.row_count());
    const vestle::RowView want = rows.row(r);
    const vestle::RowView got = reread.last_row();
    FUZZ_CHECK(got.size() == want.size());
    for (std::size_t f = 0; f < want.size(); ++f) FUZZ_CHECK(got[f] == want[f]);
  }
  FUZZ_CHECK(reread.row_count() == rows.row_count());
}

// The quarantine file is comma-separated and double-quoted whatever the run's options.
void check_quarantine_round_trip(const vestle::VestleOutcome& outcome, unsigned char pattern) {
  const vestle::Quarantine& records = outcome.quarantine;
  const unsigned char d = outcome.stats.detected_delimiter;
  const std::string written = write_to_memory(pattern, [&](vestle::BufferedWriter& out) {
    return vestle::write_quarantine(out, records, d);
  });
  FUZZ_CHECK(written.starts_with("line,reason,raw_content\n"));

  vestle::ResilientParser parser(written, ',', '"', /*repair_quotes=*/false);
  vestle::RowStore lines;
  FUZZ_CHECK(parser.next_row(lines));
  const vestle::ByteText separator = vestle::byte_text(d);
  for (std::size_t i = 0; i < records.size(); ++i) {
    FUZZ_CHECK(parser.next_row(lines));
    const vestle::RowView line = lines.last_row();
    const vestle::QuarantineRecord record = records.record(i);
    std::string raw_content;
    for (std::size_t f = 0; f < record.raw_fields.size(); ++f) {
      if (f > 0) raw_content.append(separator.view());
      raw_content.append(record.raw_fields[f]);
    }
    FUZZ_CHECK(line.size() == 3);
    FUZZ_CHECK(line[0] == std::to_string(record.line));
    FUZZ_CHECK(line[1] == record.reason);
    FUZZ_CHECK(line[2] == raw_content);
  }
  FUZZ_CHECK(!parser.next_row(lines));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vestle::fuzz::FuzzInput in(data, size);
  const vestle::VestleOptions options = vestle::fuzz::take_options(in);
  // Low seven bits: the largest write the file takes at once (0: any); top bit: interruptions.
  const unsigned char write_pattern = in.take_byte();
  const vestle::VestleOutcome outcome = vestle::vestle_slice(in.rest(), options);

  check_rows_round_trip(outcome, options.quote_char, write_pattern);
  check_quarantine_round_trip(outcome, write_pattern);
  return 0;
}
