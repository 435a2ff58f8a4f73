#include "base/CpuVectors.h"

#include <atomic>

namespace base {
namespace {

std::atomic<Vectors> cap{Vectors::kAvx512Vbmi};

}  // namespace

Vectors offeredVectors() {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
  static const Vectors found = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
      return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2")
                 ? Vectors::kAvx512Vbmi
                 : Vectors::kAvx512;
    }
    return __builtin_cpu_supports("avx2") ? Vectors::kAvx2 : Vectors::kBaseline;
  }();
  return found;
#else
  return Vectors::kBaseline;
#endif
}

Vectors usableVectors() {
  const Vectors most = cap.load(std::memory_order_relaxed);
  const Vectors here = offeredVectors();
  return here < most ? here : most;
}

void capVectors(Vectors most) {
  cap.store(most, std::memory_order_relaxed);
}

}  // namespace base
