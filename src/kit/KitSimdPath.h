#pragma once

// Which code path the vector loops take (the signal chain's, and the
// framework's conversions for 32-bit hosts). The build targets any x86-64
// processor; loops that gain from AVX2 have a version compiled for it,
// chosen at run time where the processor has it. Both paths do the same
// operations on every sample in the same order, so they give the same bits.
namespace simdpath
{

enum Path
{
  kPlain = 0,  // SSE2, on every x86-64 processor
  kAvx2 = 1
};

// The path in use: AVX2 where the processor has it, unless forced.
Path Active();
// The processor's best path.
Path Best();
// Whether the active path may also use AVX-512's 32 vector registers: scalar
// loops with more live values than SSE's 16 registers hold have a version
// compiled for it. False whenever the plain path is forced.
bool Avx512();
// Tests force the plain path to compare it with the other; kAvx2 on a
// processor without it stays plain. Not for the audio thread.
void Force(Path path);
// Tests run the AVX2 loops beside the plain build of the scalar loops, as a
// processor with AVX2 and without AVX-512 does (false), or let Avx512()
// answer for the processor again (true). Not for the audio thread.
void AllowAvx512(bool allow);

}  // namespace simdpath
