#pragma once

#include <immintrin.h>

#include <cstring>

// The two all-pass chains shared by the up- and down-sampler. Path 0 runs the
// even-indexed sections, path 1 the odd ones; section 2m and 2m+1 sit next to
// each other in memory so one SSE2 register carries both paths. The lanes are
// independent, so the result is the same as running the sections one by one.
namespace halfband
{
namespace detail
{

// s: lane 0 = path 0 value, lane 1 = path 1 value. Returns the two path
// outputs in the same lanes.
template <int NC>
inline __m128d RunPaths(__m128d s, const double* c, double* x, double* y)
{
#pragma GCC unroll 8
  for (int k = 0; k + 1 < NC; k += 2)
  {
    const __m128d t = _mm_load_pd(x + k);
    _mm_store_pd(x + k, s);
    s = _mm_add_pd(_mm_mul_pd(_mm_load_pd(c + k), _mm_sub_pd(s, _mm_load_pd(y + k))), t);
    _mm_store_pd(y + k, s);
  }
  if (NC % 2 == 1)
  {
    // The last section of an odd set belongs to path 0 alone.
    const int k = NC - 1;
    double s0 = _mm_cvtsd_f64(s);
    const double t = x[k];
    x[k] = s0;
    s0 = c[k] * (s0 - y[k]) + t;
    y[k] = s0;
    s = _mm_move_sd(s, _mm_set_sd(s0));
  }
  return s;
}


// Coefficients and the state of both paths, as the up- and down-sampler hold
// them.
template <int NC>
class AllpassState
{
public:
  static_assert(NC > 0, "at least one section");

  AllpassState()
  {
    for (int k = 0; k < NC; ++k)
      mC[k] = 0.0;
    clear_buffers();
  }

  void set_coefs(const double coefs[NC])
  {
    for (int k = 0; k < NC; ++k)
      mC[k] = coefs[k];
  }

  void clear_buffers()
  {
    for (int k = 0; k < NC; ++k)
      mX[k] = mY[k] = 0.0;
  }

  const double* coefs() const { return mC; }
  const double* prev_inputs() const { return mX; }
  const double* prev_outputs() const { return mY; }

  static constexpr int kSections = NC;

  bool same_coefs(const AllpassState& other) const { return std::memcmp(mC, other.mC, sizeof mC) == 0; }

  // 2 x Q states of the same coefficients and an even number of sections
  // held in registers, one 256-bit register holding both paths of two of
  // them (AVX2: the caller checks the processor). Every lane does what Run
  // does, in the same order: the same numbers. With kSwapped, path 1 takes
  // the low lane of each half and path 0 the high one, the order in which a
  // decimator's pair of samples sits in memory.
  template <int Q, bool kSwapped>
  struct Pairs
  {
    static_assert(NC % 2 == 0, "pairs of sections only");
    static constexpr int P = NC / 2;

    __attribute__((target("avx2"), always_inline)) static inline __m256d Lanes(__m256d v)
    {
      return kSwapped ? _mm256_permute_pd(v, 5) : v;
    }
    __attribute__((target("avx2"), always_inline)) static inline __m256d Pair(const double* a, const double* b)
    {
      return Lanes(_mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(a)), _mm_loadu_pd(b), 1));
    }

    // A section's previous input is the previous output of the section
    // before it on the same path, so only the first pair's inputs are kept
    // apart: x[k] == y[k - 2] holds for every state these loops leave.
    __m256d c[P], x0[Q], y[Q][P];

    __attribute__((target("avx2"), always_inline)) inline void Load(AllpassState* const st[2 * Q])
    {
      for (int j = 0; j < P; ++j)
        c[j] = Pair(st[0]->mC + 2 * j, st[0]->mC + 2 * j);
      for (int q = 0; q < Q; ++q)
      {
        x0[q] = Pair(st[2 * q]->mX, st[2 * q + 1]->mX);
        for (int j = 0; j < P; ++j)
          y[q][j] = Pair(st[2 * q]->mY + 2 * j, st[2 * q + 1]->mY + 2 * j);
      }
    }

    // One step: s[q] holds the lanes' inputs of pair q (path 0 and 1 of its
    // first state, then of its second) and receives their outputs.
    __attribute__((target("avx2"), always_inline)) inline void Step(__m256d s[Q])
    {
      __m256d t[Q];
      for (int q = 0; q < Q; ++q)
      {
        t[q] = x0[q];
        x0[q] = s[q];
      }
#pragma GCC unroll 8
      for (int j = 0; j < P; ++j)
#pragma GCC unroll 4
        for (int q = 0; q < Q; ++q)
        {
          const __m256d old = y[q][j];
          s[q] = _mm256_add_pd(_mm256_mul_pd(c[j], _mm256_sub_pd(s[q], old)), t[q]);
          y[q][j] = s[q];
          t[q] = old;
        }
    }

    __attribute__((target("avx2"), always_inline)) inline void Save(AllpassState* const st[2 * Q]) const
    {
      for (int q = 0; q < Q; ++q)
        for (int j = 0; j < P; ++j)
        {
          const __m256d xj = Lanes(j == 0 ? x0[q] : y[q][j - 1]), yj = Lanes(y[q][j]);
          _mm_storeu_pd(st[2 * q]->mX + 2 * j, _mm256_castpd256_pd128(xj));
          _mm_storeu_pd(st[2 * q + 1]->mX + 2 * j, _mm256_extractf128_pd(xj, 1));
          _mm_storeu_pd(st[2 * q]->mY + 2 * j, _mm256_castpd256_pd128(yj));
          _mm_storeu_pd(st[2 * q + 1]->mY + 2 * j, _mm256_extractf128_pd(yj, 1));
        }
    }
  };

  // n steps of Pairs; before each, load(i, q, s) gives pair q's inputs,
  // after it store(i, q, s) takes its outputs.
  template <int Q, bool kSwapped, class Load, class Store>
  __attribute__((target("avx2"), always_inline)) static inline void RunPairs(AllpassState* const st[2 * Q], int n,
                                                                            Load load, Store store)
  {
    Pairs<Q, kSwapped> pairs;
    pairs.Load(st);
    for (int i = 0; i < n; ++i)
    {
      __m256d s[Q];
      for (int q = 0; q < Q; ++q)
        load(i, q, s[q]);
      pairs.Step(s);
      for (int q = 0; q < Q; ++q)
        store(i, q, s[q]);
    }
    pairs.Save(st);
  }

protected:
  // Both path outputs for the two lane inputs of s.
  __m128d Run(__m128d s) { return RunPaths<NC>(s, mC, mX, mY); }

private:
  alignas(16) double mC[NC];
  alignas(16) double mX[NC];
  alignas(16) double mY[NC];
};

} // namespace detail
} // namespace halfband
