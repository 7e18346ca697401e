// Guesses the delimiter of a CSV text among ",", ";", tab and "|".
#include "heuristics/delimiter_sniffer.h"

#include "heuristics/delimiter_score.h"

namespace vestle {

unsigned char best_candidate(const double (&scores)[kDelimiterCandidateCount]) noexcept {
  // Starting below 0 lets the first candidate win even with score 0.
  double best_score = -1.0;
  unsigned char chosen = kDelimiterCandidates[0];
  for (std::size_t i = 0; i < kDelimiterCandidateCount; ++i) {
    if (scores[i] > best_score) {
      best_score = scores[i];
      chosen = kDelimiterCandidates[i];
    }
  }
  return chosen;
}

unsigned char sniff_delimiter(std::string_view sample, unsigned char quote_char) {
  double scores[kDelimiterCandidateCount];
  for (std::size_t i = 0; i < kDelimiterCandidateCount; ++i) {
    scores[i] = score_delimiter(sample, kDelimiterCandidates[i], quote_char);
  }
  return best_candidate(scores);
}

}  // namespace vestle
