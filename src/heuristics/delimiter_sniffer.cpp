// Guesses the delimiter of a CSV text among ",", ";", tab and "|".
#include "heuristics/delimiter_sniffer.h"

#include "heuristics/delimiter_score.h"

namespace vestle {
namespace {

// Candidates in tie-break order: an equal score keeps the earlier one.
constexpr unsigned char kCandidates[] = {',', ';', '\t', '|'};

}  // namespace

unsigned char sniff_delimiter(std::string_view sample, unsigned char quote_char) {
  // Starting below 0 lets the first candidate win even with score 0.
  double best_score = -1.0;
  unsigned char chosen = ',';
  for (const unsigned char candidate : kCandidates) {
    const double score = score_delimiter(sample, candidate, quote_char);
    if (score > best_score) {
      best_score = score;
      chosen = candidate;
    }
  }
  return chosen;
}

}  // namespace vestle
