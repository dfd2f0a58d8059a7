// Per-line image loops are built twice, for AVX2 and for plain x86-64, and
// the loader picks the one the processor runs: the screening and filter loops
// are about twice as fast on 32-byte vectors.
#ifndef VELORIN_VECTOR_CLONES_H
#define VELORIN_VECTOR_CLONES_H

#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define VL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VL_VECTOR_CLONES
#endif

// Helpers of a cloned function must be inlined to be built with its target.
#define VL_INLINE inline __attribute__((always_inline))

#endif
