// The verbatim rows' mask scan, built once per kernel (verbatim_blocks.h).
#pragma once

#include <cstddef>

#include "parser/cpu_kernels.h"
#include "writer/verbatim_rows.h"

namespace vestle::verbatim_kernels {

// One scan: the window, the bytes that matter and the limits of a row.
struct Scan {
  const unsigned char* bytes;
  std::size_t size;
  unsigned char quote;
  unsigned char delimiter;
  std::size_t fields;          // the width rows must have, 0 for any
  std::size_t max_row_bytes;   // a row this long ends the run
  std::size_t valid_utf8_end;  // rows with high bytes qualify only when they end by it
};

// The byte scan's verdict on the row at `from`, for rows the masks cannot decide.
struct ByteVerdict {
  enum class Kind { Qualifies, DoesNot, WindowEnded };
  Kind kind;
  std::size_t end;        // just past its LF, when it qualifies
  std::size_t lf_inside;  // LFs inside its quoted fields
};
using ByteScan = ByteVerdict (*)(void* context, std::size_t from) noexcept;

// The run from `from`; `has_high` tells whether a row the masks passed holds
// a byte from 0x80 up.
using ScanRun = VerbatimRowScanner::Run (*)(const Scan& scan, std::size_t from, ByteScan by_bytes,
                                            void* context, bool& has_high) noexcept;

// The build for `kernel` (scalar and SSE2 share one, through the kernel table).
[[nodiscard]] ScanRun scan_run_for(Kernel kernel) noexcept;

VerbatimRowScanner::Run scan_run_table(const Scan& scan, std::size_t from, ByteScan by_bytes,
                                       void* context, bool& has_high) noexcept;
extern const ScanRun kScanRunAvx2;    // null where the compiler has no such target
extern const ScanRun kScanRunAvx512;

}  // namespace vestle::verbatim_kernels
