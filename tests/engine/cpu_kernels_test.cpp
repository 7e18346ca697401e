// Tests of the kernel choice: names, what the processor supports, forcing.
#include "parser/cpu_kernels.h"

#include <gtest/gtest.h>

#include <string>

namespace vestle {
namespace {

TEST(CpuKernels, NamesRoundTripAndUnknownNamesAreRefused) {
  for (const Kernel kernel : kAllKernels) {
    EXPECT_EQ(kernel_named(kernel_name(kernel)), kernel) << kernel_name(kernel);
  }
  EXPECT_FALSE(kernel_named("avx").has_value());
  EXPECT_FALSE(kernel_named("").has_value());
}

TEST(CpuKernels, ForcingTakesExactlyTheKernelsTheProcessorRuns) {
  const Kernel before = kernels().kernel;
  EXPECT_TRUE(cpu_supports(Kernel::Scalar));
  EXPECT_TRUE(cpu_supports(best_kernel()));
  for (const Kernel kernel : kAllKernels) {
    const bool supported = cpu_supports(kernel);
    // The best kernel is the widest one supported.
    if (supported) {
      EXPECT_LE(static_cast<int>(kernel), static_cast<int>(best_kernel()));
    }
    const Kernel in_use = kernels().kernel;
    EXPECT_EQ(force_kernel_for_testing(kernel), supported) << kernel_name(kernel);
    // A refused kernel leaves the one in use as it was.
    EXPECT_EQ(kernels().kernel, supported ? kernel : in_use) << kernel_name(kernel);
  }
  EXPECT_TRUE(force_kernel_for_testing(before));
}

}  // namespace
}  // namespace vestle
