// Runs a check once under each kernel the processor has.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "parser/cpu_kernels.h"

namespace vestle::testing {

// Calls `check()` under every kernel this processor runs, each forced in
// turn and named in a failure's trace; then the kernel in use before is back.
template <typename Check>
void for_each_kernel(Check&& check) {
  const Kernel before = kernels().kernel;
  for (const Kernel kernel : kAllKernels) {
    if (!force_kernel_for_testing(kernel)) continue;
    SCOPED_TRACE(std::string("kernel ") + std::string(kernel_name(kernel)));
    check();
  }
  EXPECT_TRUE(force_kernel_for_testing(before));
}

}  // namespace vestle::testing
