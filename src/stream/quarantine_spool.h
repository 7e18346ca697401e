// The quarantine lines of a streaming run, held until the quarantine file's turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/buffered_writer.h"
#include "io/io_sizes.h"
#include "io/posix_file.h"
#include "io/spill_files.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "repair/outcome.h"

namespace vestle {

// Lines are formatted as they come and kept in memory up to a bound; beyond
// it they move to an unnamed spill file, so the memory of a run does not
// grow with the number of rows set aside. Where no spill file can be made or
// written, the lines simply stay in memory.
class QuarantineSpool {
 public:

  explicit QuarantineSpool(std::size_t memory_limit = kQuarantineMemory,
                           const SpillFiles& spill_files = tmp_spill_files());

  // The raw fields are joined with the text of `delimiter`.
  void add(RowView raw_fields, QuarantineReason reason, std::size_t expected_columns,
           std::size_t line, unsigned char delimiter);
  // A line too long to build whole, handed over in pieces, its last piece
  // with `ends_line`. Each piece is kept, and later written, as it came.
  void add_piece(std::string_view piece, bool ends_line);
  [[nodiscard]] std::size_t size() const noexcept { return records_; }

  // The header, then every line in order, each handed over in one piece as
  // write_quarantine does. Stops at the first failure.
  [[nodiscard]] Result<Done, IoError> write_to(BufferedWriter& out);

 private:
  void spill();
  [[nodiscard]] Result<Done, IoError> replay_spilled(BufferedWriter& out);

  std::size_t memory_limit_;
  const SpillFiles& spill_files_;
  std::size_t records_ = 0;
  std::string line_;
  // Each line, or piece of a line, as its length (a machine word) followed
  // by its bytes.
  std::string pending_;
  PosixFile spill_;
  std::uint64_t spilled_bytes_ = 0;  // whole lines, in the spill file
  bool spill_failed_ = false;
};

}  // namespace vestle
