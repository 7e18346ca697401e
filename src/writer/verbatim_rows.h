// Finds rows whose input bytes are already the line the writer would write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vestle {

// Most rows of a well-formed file pass unchanged and need no requoting, so
// their bytes can be copied to the output as they stand, without being
// tokenised into fields and quoted again. A row qualifies when it has the
// expected width, ends with LF (not CR LF), is valid UTF-8, and each field
// is either unquoted and free of the quote character, or enclosed in quotes
// that it needs (it holds the quote, the delimiter, CR or LF), with every
// inner quote doubled and the closing quote right before the delimiter or
// the LF. A blank line never qualifies, and a row's lone empty field only as
// two quotes: that is how the writer writes it. The tolerant parser reads
// such a row exactly as written, with or without quote repair; anything
// else is left to it.
//
// Bytes are classified 64 at a time into bit masks of quotes, delimiters,
// line breaks and high bytes. The quoted stretches follow from the quote mask
// (a prefix XOR), and with them the row ends and each row's field count; a
// row whose masks show anything out of the ordinary (a quote that is not
// where the writer puts one, a CR outside quotes, quotes a field does not
// need) is decided by a scan that jumps from one such byte to the next.
class VerbatimRowScanner {
 public:
  // Usable only when both bytes are ASCII, differ and are not CR or LF (the
  // writer's texts of them are then the bytes themselves).
  [[nodiscard]] static bool usable(unsigned char delimiter, unsigned char quote) noexcept;

  VerbatimRowScanner(unsigned char delimiter, unsigned char quote) noexcept;

  // A run of rows that qualify, back to back.
  struct Run {
    std::size_t end = 0;    // offset just past the last row's LF; `from` when none qualifies
    std::size_t rows = 0;
    std::size_t lines = 0;  // line breaks in the run, those inside quoted fields included
    // The row after the run still looked like one that qualifies when the
    // window ended: in a window that the input continues, it is worth
    // looking at again only once the window is longer.
    bool window_ended = false;
  };

  // The qualifying rows from `from` on in `window`, up to the first that
  // does not qualify; `fields` is the width they must have (0: any). A row
  // whose LF is not in the window does not qualify, nor does one of
  // `max_row_bytes` or more.
  [[nodiscard]] Run scan(std::string_view window, std::size_t from, std::size_t fields,
                         std::size_t max_row_bytes) const noexcept;

 private:
  class Stops;

  enum class Verdict { Qualifies, DoesNot, WindowEnded };
  struct Row {
    Verdict verdict = Verdict::DoesNot;
    std::size_t end = 0;        // offset just past its LF, when it qualifies
    std::size_t lf_inside = 0;  // LFs inside its quoted fields
  };
  [[nodiscard]] Row scan_row(Stops& stops, std::size_t from, std::size_t fields) const noexcept;

  unsigned char delimiter_;
  unsigned char quote_;
};

}  // namespace vestle
