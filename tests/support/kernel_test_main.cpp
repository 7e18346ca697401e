// The engine tests' main(): runs the tests under the kernel that `--kernel=NAME`
// names (scalar, sse2, avx2, avx512bw), or under the processor's best one.
// A kernel the processor lacks skips the run with exit status 77.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "parser/cpu_kernels.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  constexpr std::string_view kFlag = "--kernel=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (!arg.starts_with(kFlag)) continue;
    const std::string_view name = arg.substr(kFlag.size());
    const std::optional<vestle::Kernel> kernel = vestle::kernel_named(name);
    if (!kernel) {
      std::fprintf(stderr, "unknown kernel '%.*s'\n", static_cast<int>(name.size()), name.data());
      return 2;
    }
    if (!vestle::force_kernel_for_testing(*kernel)) {
      std::printf("skipped: this processor cannot run the %.*s kernel\n",
                  static_cast<int>(name.size()), name.data());
      return 77;
    }
  }
  const std::string_view active = vestle::kernel_name(vestle::kernels().kernel);
  std::printf("kernel: %.*s\n", static_cast<int>(active.size()), active.data());
  return RUN_ALL_TESTS();
}
