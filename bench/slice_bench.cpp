// Throughput and memory of the in-memory repair on a seeded 100 MB CSV.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "repair/options.h"
#include "repair/slice.h"

namespace {

constexpr std::size_t kTargetBytes = 100u << 20;
constexpr std::uint64_t kSeed = 0x5eed'c5f1;

const char* const kFirstNames[] = {"Anna", "Björn", "Chloé", "Dmitri", "Eva", "François",
                                   "Grace", "Hiro", "Inès", "José", "Kai", "Łukasz"};
const char* const kLastNames[] = {"Müller", "Smith", "García", "Nguyễn", "O'Brien", "Rossi",
                                  "Ødegaard", "Kowalski", "Tanaka", "Dubois", "Silva", "Ivanova"};
const char* const kCities[] = {"São Paulo", "Zürich", "東京", "Kraków", "Reykjavík", "Berlin",
                               "New York", "Málaga", "Москва", "Lyon", "Cape Town", "Oslo"};
const char* const kStatuses[] = {"active", "pending", "closed", "on hold", "archived"};
const char* const kWords[] = {"shipment", "delayed", "customer", "asked", "refund", "size",
                              "colour", "wrong", "ok", "thanks", "très", "bien", "größe", "note"};

// One mixed 12-column file: quoted commas, doubled quotes, line breaks inside
// quotes, multi-byte text, and a few short, long and badly quoted rows.
std::string make_csv() {
  std::mt19937_64 rng(kSeed);
  auto pick = [&rng](const auto& list) {
    return list[rng() % (sizeof(list) / sizeof(list[0]))];
  };
  std::string out;
  out.reserve(kTargetBytes + 4096);
  out += "id,name,email,city,date,amount,quantity,status,comment,tags,score,flag\n";
  for (std::uint64_t id = 1; out.size() < kTargetBytes; ++id) {
    const char* first = pick(kFirstNames);
    const char* last = pick(kLastNames);
    std::string row = std::to_string(id);
    row += ",\"";
    row += last;
    row += ", ";
    row += first;
    row += "\",";
    row += first;
    row += '.';
    row += std::to_string(id % 997);
    row += "@example.com,";
    row += pick(kCities);
    row += ",2024-";
    row += std::to_string(1 + rng() % 12);
    row += '-';
    row += std::to_string(1 + rng() % 28);
    row += ',';
    row += std::to_string(rng() % 100000);
    row += '.';
    row += std::to_string(10 + rng() % 90);
    row += ',';
    row += std::to_string(rng() % 500);
    row += ',';
    row += pick(kStatuses);
    row += ',';
    const std::uint64_t kind = rng() % 10;
    if (kind < 5) {
      row += pick(kWords);
      row += ' ';
      row += pick(kWords);
    } else if (kind < 8) {
      row += "\"said \"\"";
      row += pick(kWords);
      row += "\"\", then ";
      row += pick(kWords);
      row += '"';
    } else {
      row += "\"line one\n";
      row += pick(kWords);
      row += ", line two\"";
    }
    row += ',';
    row += pick(kWords);
    row += ';';
    row += pick(kWords);
    row += ',';
    row += std::to_string(rng() % 100);
    row += ',';
    row += (rng() % 2 == 0) ? "true" : "false";

    const std::uint64_t damage = rng() % 200;
    if (damage == 0) {
      row.resize(row.rfind(','));  // a short row
    } else if (damage == 1) {
      row += ",extra";  // a long row
    } else if (damage == 2) {
      row += ",\"stray \"quote\" here\"";  // a long row with a stray quote
    }
    row += '\n';
    out += row;
  }
  return out;
}

const std::string& input() {
  static const std::string csv = make_csv();
  return csv;
}

// Baseline: the tokenizer alone, one row in memory at a time.
void BM_ParseOnly(benchmark::State& state) {
  const std::string_view data = input();
  vestle::RowStore scratch;
  std::size_t rows = 0;
  for (auto _ : state) {
    vestle::ResilientParser parser(data, ',', '"', true);
    rows = 0;
    while (parser.next_row(scratch)) {
      scratch.clear();
      ++rows;
    }
    benchmark::DoNotOptimize(rows);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resident set size of this process, from /proc/self/statm.
std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages_total = 0;
  std::size_t pages_resident = 0;
  statm >> pages_total >> pages_resident;
  return pages_resident * 4096;
}

// The whole in-memory repair with sniffing and inference, all rows kept.
void BM_VestleSlice(benchmark::State& state) {
  const std::string_view data = input();
  const vestle::VestleOptions options;
  double memory_ratio = 0;
  double rows = 0;
  double quarantined = 0;
  double resident_ratio = 0;
  for (auto _ : state) {
    const std::size_t resident_before = resident_bytes();
    const vestle::VestleOutcome outcome = vestle::vestle_slice(data, options);
    // Reserved but untouched pages of the large buffers are not resident, so
    // the growth of the resident set is what the outcome really costs.
    resident_ratio = static_cast<double>(resident_bytes() - resident_before) / static_cast<double>(data.size());
    memory_ratio = static_cast<double>(outcome.rows.memory_bytes()) / static_cast<double>(data.size());
    rows = static_cast<double>(outcome.stats.vestled_rows);
    quarantined = static_cast<double>(outcome.stats.quarantined_rows);
    benchmark::DoNotOptimize(outcome.rows.row_count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["input_MB"] = static_cast<double>(data.size()) / 1e6;
  state.counters["rows"] = rows;
  state.counters["quarantined"] = quarantined;
  state.counters["rows_memory_per_input_byte"] = memory_ratio;
  state.counters["outcome_resident_per_input_byte"] = resident_ratio;
}
BENCHMARK(BM_VestleSlice)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
