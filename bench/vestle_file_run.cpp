// Repairs one file with the engine's vestle_file, as one process, under the
// kernel that --kernel=NAME names (by default the processor's best):
// what bench/kernel_bench.py times.
//     vestle_file_run [--kernel=NAME] INPUT OUTPUT
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "stream/file_pipeline.h"
#if __has_include("parser/cpu_kernels.h")  // absent from builds older than the kernels
#include "parser/cpu_kernels.h"
#define VESTLE_HAS_KERNELS 1
#endif

int main(int argc, char** argv) {
  constexpr std::string_view kFlag = "--kernel=";
  std::string paths[2];
  int path_count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg.starts_with(kFlag)) {
#if defined(VESTLE_HAS_KERNELS)
      const std::optional<vestle::Kernel> kernel = vestle::kernel_named(arg.substr(kFlag.size()));
      if (!kernel || !vestle::force_kernel_for_testing(*kernel)) {
        std::fprintf(stderr, "cannot run kernel %s here\n", argv[i] + kFlag.size());
        return 77;
      }
      continue;
#else
      std::fprintf(stderr, "this build has no kernels to choose from\n");
      return 2;
#endif
    }
    if (path_count == 2) path_count = 3;
    if (path_count < 2) paths[path_count] = argv[i];
    ++path_count;
  }
  if (path_count != 2) {
    std::fprintf(stderr, "usage: %s [--kernel=NAME] INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  const vestle::Result<vestle::VestleStats> stats =
      vestle::vestle_file(paths[0], paths[1], std::nullopt, vestle::VestleOptions{});
  if (!stats) {
    std::fprintf(stderr, "%s\n", stats.error().text().c_str());
    return 1;
  }
  return 0;
}
