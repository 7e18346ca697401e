// Every fuzz target takes --kernel=NAME (scalar, sse2, avx2, avx512bw) and runs
// under that kernel; libFuzzer leaves flags that begin with "--" to the target.
// A kernel the processor lacks ends the run at once with exit status 77.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "parser/cpu_kernels.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  constexpr std::string_view kFlag = "--kernel=";
  for (int i = 1; i < *argc; ++i) {
    const std::string_view arg((*argv)[i]);
    if (!arg.starts_with(kFlag)) continue;
    const std::string_view name = arg.substr(kFlag.size());
    const std::optional<vestle::Kernel> kernel = vestle::kernel_named(name);
    if (!kernel) {
      std::fprintf(stderr, "unknown kernel '%.*s'\n", static_cast<int>(name.size()), name.data());
      std::exit(2);
    }
    if (!vestle::force_kernel_for_testing(*kernel)) {
      std::printf("skipped: this processor cannot run the %.*s kernel\n",
                  static_cast<int>(name.size()), name.data());
      std::exit(77);
    }
  }
  const std::string_view active = vestle::kernel_name(vestle::kernels().kernel);
  std::fprintf(stderr, "kernel: %.*s\n", static_cast<int>(active.size()), active.data());
  return 0;
}
