// Rows copied as they stand: a bit-mask scan over quotes, delimiters and line breaks.
#include "writer/verbatim_rows.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/cpu_kernels.h"
#include "parser/line_break.h"
#include "parser/utf8.h"
#include "writer/verbatim_kernels.h"

namespace vestle {
namespace {

constexpr std::size_t kBlock = 64;

}  // namespace

bool VerbatimRowScanner::usable(unsigned char delimiter, unsigned char quote) noexcept {
  const auto plain = [](unsigned char b) { return b < 0x80 && b != kLf && b != kCr; };
  return plain(delimiter) && plain(quote) && delimiter != quote;
}

VerbatimRowScanner::VerbatimRowScanner(unsigned char delimiter, unsigned char quote) noexcept
    : delimiter_(delimiter), quote_(quote) {}

// The quotes, delimiters and line breaks of one window, classified a block
// of 64 bytes at a time as the scan reaches it.
class VerbatimRowScanner::Stops {
 public:
  Stops(std::string_view window, unsigned char delimiter, unsigned char quote) noexcept
      : bytes_(reinterpret_cast<const unsigned char*>(window.data())),
        size_(window.size()),
        delimiter_(delimiter),
        quote_(quote) {}

  [[nodiscard]] const unsigned char* bytes() const noexcept { return bytes_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

  // Next quote, delimiter, CR or LF at or after `at`, or the window's size.
  [[nodiscard]] std::size_t next(std::size_t at) noexcept {
    for (;;) {
      if (at >= size_) return size_;
      const std::size_t base = at & ~(kBlock - 1);
      if (base != block_base_) load(base);
      const std::uint64_t ahead = block_stops_ & (~std::uint64_t{0} << (at - base));
      if (ahead != 0) return base + static_cast<std::size_t>(std::countr_zero(ahead));
      at = base + kBlock;
    }
  }

 private:
  void load(std::size_t base) noexcept {
    block_base_ = base;
    if (size_ - base >= kBlock) {
      block_stops_ = block_mask_of4(bytes_ + base, quote_, delimiter_, kLf, kCr);
      return;
    }
    // The window's last, partial block.
    std::uint64_t stops = 0;
    for (std::size_t i = 0; i < size_ - base; ++i) {
      const unsigned char b = bytes_[base + i];
      if (b == quote_ || b == delimiter_ || b == kLf || b == kCr) stops |= std::uint64_t{1} << i;
    }
    block_stops_ = stops;
  }

  const unsigned char* bytes_;
  std::size_t size_;
  unsigned char delimiter_;
  unsigned char quote_;
  std::size_t block_base_ = SIZE_MAX;  // none classified yet
  std::uint64_t block_stops_ = 0;
};

VerbatimRowScanner::Run VerbatimRowScanner::scan(std::string_view window, std::size_t from,
                                                 std::size_t fields,
                                                 std::size_t max_row_bytes) const noexcept {
  struct Context {
    const VerbatimRowScanner* scanner;
    Stops stops;
    std::size_t fields;
  } context{this, Stops(window, delimiter_, quote_), fields};
  // Rows the masks cannot decide go to the byte scan.
  const verbatim_kernels::ByteScan by_bytes = [](void* opaque, std::size_t at) noexcept {
    auto& c = *static_cast<Context*>(opaque);
    const Row row = c.scanner->scan_row(c.stops, at, c.fields);
    using Kind = verbatim_kernels::ByteVerdict::Kind;
    const Kind kind = row.verdict == Verdict::Qualifies ? Kind::Qualifies
                      : row.verdict == Verdict::DoesNot ? Kind::DoesNot
                                                        : Kind::WindowEnded;
    return verbatim_kernels::ByteVerdict{kind, row.end, row.lf_inside};
  };
  verbatim_kernels::Scan scan{reinterpret_cast<const unsigned char*>(window.data()),
                              window.size(), quote_, delimiter_, fields, max_row_bytes, SIZE_MAX};
  const verbatim_kernels::ScanRun scan_run = verbatim_kernels::scan_run_for(kernels().kernel);
  bool has_high = false;
  const Run run = scan_run(scan, from, by_bytes, &context, has_high);
  if (!has_high) return run;
  // The run's text is validated at once; its rows end with LF, so each row
  // that ends by the end of the valid prefix is valid. The run then stops at
  // the first row that does not.
  scan.valid_utf8_end = from + valid_utf8_prefix(window.substr(from, run.end - from));
  if (scan.valid_utf8_end == run.end) return run;
  return scan_run(scan, from, by_bytes, &context, has_high);
}

VerbatimRowScanner::Row VerbatimRowScanner::scan_row(Stops& stops, std::size_t from,
                                                     std::size_t fields) const noexcept {
  constexpr Row kDoesNot{Verdict::DoesNot};
  constexpr Row kWindowEnded{Verdict::WindowEnded};
  const unsigned char* bytes = stops.bytes();
  const std::size_t size = stops.size();
  Row row{Verdict::Qualifies};
  std::size_t seen = 0;  // fields finished
  std::size_t at = from;
  for (;;) {
    // At the start of a field.
    if (at >= size) return kWindowEnded;
    if (bytes[at] != quote_) {
      at = stops.next(at);
      if (at >= size) return kWindowEnded;
      const unsigned char b = bytes[at];
      ++seen;
      if (b == delimiter_) {
        ++at;
        continue;
      }
      if (b != kLf) return kDoesNot;  // a quote inside the field, or CR LF
      // A blank line is a row of one empty field, which is written as two quotes.
      if (at == from) return kDoesNot;
      row.end = at + 1;
      break;
    }
    // A quoted field: it must need its quotes.
    bool needs_quotes = false;
    std::size_t lf_inside = 0;
    ++at;
    for (;;) {
      at = stops.next(at);
      if (at + 1 >= size) return kWindowEnded;  // the quote or what follows it is not in the window
      const unsigned char b = bytes[at];
      if (b != quote_) {
        needs_quotes = true;
        if (b == kLf) ++lf_inside;
        ++at;
        continue;
      }
      const unsigned char next = bytes[at + 1];
      if (next == quote_) {
        needs_quotes = true;
        at += 2;
        continue;
      }
      // Quotes around a row's lone empty field are what the writer puts there.
      const bool lone_empty_field = at == from + 1 && next == kLf;
      if ((!needs_quotes && !lone_empty_field) || (next != delimiter_ && next != kLf)) {
        return kDoesNot;
      }
      at += 1;  // at the delimiter or LF that closes the field
      break;
    }
    row.lf_inside += lf_inside;
    ++seen;
    if (bytes[at] == delimiter_) {
      ++at;
      continue;
    }
    row.end = at + 1;
    break;
  }
  if (fields != 0 && seen != fields) return kDoesNot;
  const std::string_view text(reinterpret_cast<const char*>(bytes) + from, row.end - from);
  if (skip_ascii(bytes, from, row.end) != row.end && valid_utf8_prefix(text) != text.size()) {
    return kDoesNot;
  }
  return row;
}

}  // namespace vestle

// The mask scan for the scalar and SSE2 kernels: the block classified
// through the kernel's table, bits counted and XOR-ed by word operations.
namespace vestle::verbatim_kernels {
namespace {

BlockClasses classify_by_table(const unsigned char* block, unsigned char quote,
                               unsigned char delimiter) noexcept {
  BlockClasses classes{};
  kernels().classify_block(block, quote, delimiter, classes);
  return classes;
}

}  // namespace
}  // namespace vestle::verbatim_kernels

#define VESTLE_BLOCKS_TARGET
#define VESTLE_BLOCKS_CLASSIFY classify_by_table
#include "writer/verbatim_blocks.h"

namespace vestle::verbatim_kernels {

VerbatimRowScanner::Run scan_run_table(const Scan& scan, std::size_t from, ByteScan by_bytes,
                                       void* context, bool& has_high) noexcept {
  return scan_run_here(scan, from, by_bytes, context, has_high);
}

ScanRun scan_run_for(Kernel kernel) noexcept {
  if (kernel == Kernel::Avx512bw && kScanRunAvx512 != nullptr) return kScanRunAvx512;
  if (kernel == Kernel::Avx2 && kScanRunAvx2 != nullptr) return kScanRunAvx2;
  return scan_run_table;
}

}  // namespace vestle::verbatim_kernels
