// Which vector instructions the processor running the core offers.
#pragma once

namespace base {

/// The widest vector instructions the core's scans and moves may use here, from the
/// compiler's baseline up. Windows builds stay at the baseline: the compiler there does
/// not align the stack for the wide registers it may spill.
enum class Vectors {
  kBaseline,    // whatever the build targets (SSE2 on x86-64)
  kAvx2,        // 32-byte vectors
  kAvx512,      // 64-byte vectors, byte compares into masks (AVX-512 F and BW)
  kAvx512Vbmi,  // as above, with byte permutes across the whole vector and double shifts
                // (VBMI and VBMI2)
};

/// What the processor offers, found once, on first use.
Vectors offeredVectors();

/// What the core uses: what the processor offers, never above the cap below.
Vectors usableVectors();

/// Keeps usableVectors() at `most` or below from now on, so that tests can hold the
/// narrower code paths to the same results on a processor that offers more.
void capVectors(Vectors most);

}  // namespace base
