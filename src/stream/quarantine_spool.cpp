// Quarantine lines in memory, moving to an unnamed temporary file past a bound.
#include "stream/quarantine_spool.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "repair/quarantine_format.h"
#include "writer/csv_writers.h"

namespace vestle {
namespace {

void append_length(std::string& out, std::size_t length) {
  char bytes[sizeof length];
  std::memcpy(bytes, &length, sizeof length);
  out.append(bytes, sizeof length);
}

}  // namespace

QuarantineSpool::QuarantineSpool(std::size_t memory_limit, const SpillFiles& spill_files)
    : memory_limit_(memory_limit), spill_files_(spill_files) {}

void QuarantineSpool::add(RowView raw_fields, QuarantineReason reason,
                          std::size_t expected_columns, std::size_t line,
                          unsigned char delimiter) {
  line_.clear();
  append_quarantine_line(line_, line, quarantine_reason_text(reason, expected_columns),
                         raw_fields, byte_text(delimiter));
  add_piece(line_, /*ends_line=*/true);
}

void QuarantineSpool::add_piece(std::string_view piece, bool ends_line) {
  append_length(pending_, piece.size());
  pending_.append(piece);
  if (ends_line) ++records_;
  if (pending_.size() >= memory_limit_ && !spill_failed_) spill();
}

void QuarantineSpool::spill() {
  if (!spill_.is_open()) {
    Result<PosixFile, IoError> created = spill_files_.create();
    if (!created) {
      spill_failed_ = true;
      return;
    }
    spill_ = std::move(created).value();
  }
  if (!spill_.write_all(pending_.data(), pending_.size())) {
    // What this write left in the file is ignored: replay stops at the
    // lines written whole, and these stay in memory.
    spill_failed_ = true;
    return;
  }
  spilled_bytes_ += pending_.size();
  pending_.clear();
}

Result<Done, IoError> QuarantineSpool::replay_spilled(BufferedWriter& out) {
  if (Result<Done, IoError> sought = spill_.seek_to_start(); !sought) return sought;
  std::vector<char> buffer(kSpillCopyChunk);
  std::size_t held = 0;
  std::uint64_t left = spilled_bytes_;
  for (;;) {
    // Hand over every whole piece held.
    std::size_t at = 0;
    for (;;) {
      std::size_t length = 0;
      if (held - at < sizeof length) break;
      std::memcpy(&length, buffer.data() + at, sizeof length);
      if (held - at - sizeof length < length) {
        // A piece longer than the buffer: make room for all of it.
        if (buffer.size() < sizeof length + length) buffer.resize(sizeof length + length);
        break;
      }
      Result<Done, IoError> written =
          out.write(std::string_view(buffer.data() + at + sizeof length, length));
      if (!written) return written;
      at += sizeof length + length;
    }
    std::memmove(buffer.data(), buffer.data() + at, held - at);
    held -= at;
    if (left == 0) return Done{};
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size() - held));
    Result<std::size_t, IoError> count = spill_.read(buffer.data() + held, wanted);
    if (!count) return count.error();
    if (count.value() == 0) {
      return IoError::with_message(IoErrorKind::Other, "the quarantine spill file ended early");
    }
    held += count.value();
    left -= count.value();
  }
}

Result<Done, IoError> QuarantineSpool::write_to(BufferedWriter& out) {
  if (Result<Done, IoError> header = out.write(kQuarantineHeader); !header) return header;
  if (spilled_bytes_ > 0) {
    if (Result<Done, IoError> spilled = replay_spilled(out); !spilled) return spilled;
  }
  for (std::size_t at = 0; at < pending_.size();) {
    std::size_t length = 0;
    std::memcpy(&length, pending_.data() + at, sizeof length);
    at += sizeof length;
    Result<Done, IoError> written = out.write(std::string_view(pending_.data() + at, length));
    if (!written) return written;
    at += length;
  }
  return Done{};
}

}  // namespace vestle
