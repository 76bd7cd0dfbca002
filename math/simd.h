#pragma once

// Four- and eight-wide floats: the one layer that vector kernels are written
// against. Each backend is a namespace with the same types and operations:
//
//   portable::F4, portable::F8  plain C++, every processor
//   sse2::F4                    x86-64 (SSE2 is always there)
//   avx2::F8                    x86-64, only inside FYREL_TARGET_AVX2 functions
//   neon::F4                    64-bit ARM (Advanced SIMD is always there)
//
// A kernel is a template over F4 (or F8) and is instantiated once per
// backend; math/cpu_features.h chooses which one runs. The AVX2 operations
// carry FYREL_TARGET_AVX2, so a template kernel instantiated with avx2::F8
// is [[gnu::always_inline]] and called from a FYREL_TARGET_AVX2 function:
// inlined there, the operations inline too (scene/model.cpp's face normals). Every operation is
// lane by lane and rounds as IEEE single precision does, so the portable
// backend gives the same bits as the others: add, sub, mul, div, sqrt and
// the comparisons are exact to the last bit everywhere, fma fuses on both
// sides (std::fma), and the bit operations work on the floats' bits.
//
// Operations (F is F4 or F8, lanes numbered from 0):
//   F::load(p), F::loadAligned(p)     W floats from p (aligned: 16 or 32 bytes)
//   F::zero(), F::splat(x)            every lane 0 (+0), or x
//   F::set(a, b, c, d)                F4 of these lanes
//   F::bits(u0, u1, u2, u3)           F4 whose lanes hold these bit patterns
//   a.store(p), a.storeAligned(p)     W floats to p
//   a + b, a - b, a * b, a / b        lane by lane
//   fma(a, b, c)                      a·b + c rounded once
//   sqrt(a), min(a, b), max(a, b)     lane by lane (min/max: b when either is NaN, as SSE does)
//   notEqual(a, b)                    all bits set where a != b (or either is NaN), else 0
//   a & b, a ^ b                      on the bits
//   lane<k>(a)                        lane k of a in every lane (F4)
//   shuffle<i, j, k, l>(a, b)         (a[i], a[j], b[k], b[l]) (F4)
//   transpose(a, b, c, d)             four F4 rows become four columns
//   low(a), high(a)                   lanes 0-3 and 4-7 of an F8 as an F4
//   columns(p, x, y, z)               p[k][0..2] of W pointers into lane k of
//                                     x, y, z; reads p[k][3] too

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "math/cpu_features.h"

#if FYREL_X86
#include <immintrin.h>
#elif FYREL_NEON
#include <arm_neon.h>
#endif

namespace fyrel::simd {

namespace portable {

// N floats, every operation a loop over them.
template <int N>
struct Lanes {
    float v[N];

    template <typename Op>
    static Lanes map(const Lanes& a, const Lanes& b, Op op)
    {
        Lanes r;
        for (int i = 0; i < N; ++i) {
            r.v[i] = op(a.v[i], b.v[i]);
        }
        return r;
    }

    template <typename Op>
    static Lanes mapBits(const Lanes& a, const Lanes& b, Op op)
    {
        return map(a, b, [op](float x, float y) {
            return std::bit_cast<float>(op(std::bit_cast<std::uint32_t>(x), std::bit_cast<std::uint32_t>(y)));
        });
    }

    static Lanes load(const float* p)
    {
        Lanes r;
        std::memcpy(r.v, p, sizeof(r.v));
        return r;
    }
    static Lanes loadAligned(const float* p) { return load(p); }
    static Lanes set(float a, float b, float c, float d)
        requires(N == 4)
    {
        return Lanes{{a, b, c, d}};
    }
    static Lanes bits(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
        requires(N == 4)
    {
        return set(std::bit_cast<float>(a), std::bit_cast<float>(b), std::bit_cast<float>(c), std::bit_cast<float>(d));
    }
    static Lanes zero() { return splat(0.0f); }
    static Lanes splat(float x)
    {
        Lanes r;
        for (float& f : r.v) {
            f = x;
        }
        return r;
    }
    void store(float* p) const { std::memcpy(p, v, sizeof(v)); }
    void storeAligned(float* p) const { store(p); }

    friend Lanes operator+(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x + y; }); }
    friend Lanes operator-(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x - y; }); }
    friend Lanes operator*(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x * y; }); }
    friend Lanes operator/(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x / y; }); }
    friend Lanes operator&(const Lanes& a, const Lanes& b)
    {
        return mapBits(a, b, [](std::uint32_t x, std::uint32_t y) { return x & y; });
    }
    friend Lanes operator^(const Lanes& a, const Lanes& b)
    {
        return mapBits(a, b, [](std::uint32_t x, std::uint32_t y) { return x ^ y; });
    }
    friend Lanes fma(const Lanes& a, const Lanes& b, const Lanes& c)
    {
        Lanes r;
        for (int i = 0; i < N; ++i) {
            r.v[i] = std::fma(a.v[i], b.v[i], c.v[i]);
        }
        return r;
    }
    friend Lanes sqrt(const Lanes& a) { return map(a, a, [](float x, float) { return std::sqrt(x); }); }
    friend Lanes min(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x < y ? x : y; }); }
    friend Lanes max(const Lanes& a, const Lanes& b) { return map(a, b, [](float x, float y) { return x > y ? x : y; }); }
    friend Lanes notEqual(const Lanes& a, const Lanes& b)
    {
        return map(a, b, [](float x, float y) { return std::bit_cast<float>(x != y ? ~0u : 0u); });
    }
};

using F4 = Lanes<4>;
using F8 = Lanes<8>;

template <int K>
F4 lane(const F4& a)
{
    return F4::splat(a.v[K]);
}

template <int I, int J, int K, int L>
F4 shuffle(const F4& a, const F4& b)
{
    F4 r;
    r.v[0] = a.v[I], r.v[1] = a.v[J], r.v[2] = b.v[K], r.v[3] = b.v[L];
    return r;
}

inline void transpose(F4& a, F4& b, F4& c, F4& d)
{
    F4* rows[4] = {&a, &b, &c, &d};
    float m[4][4];
    for (int r = 0; r < 4; ++r) {
        rows[r]->store(m[r]);
    }
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) {
            rows[r]->v[k] = m[k][r];
        }
    }
}

inline F4 low(const F8& a)
{
    return F4::load(a.v);
}

inline F4 high(const F8& a)
{
    return F4::load(a.v + 4);
}

template <typename F>
void columns(const float* const* p, F& x, F& y, F& z)
{
    for (std::size_t k = 0; k < sizeof(F::v) / sizeof(float); ++k) {
        x.v[k] = p[k][0];
        y.v[k] = p[k][1];
        z.v[k] = p[k][2];
    }
}

}  // namespace portable

#if FYREL_X86

namespace sse2 {

struct F4 {
    __m128 v;

    F4() = default;
    F4(__m128 x) : v(x) {}  // not explicit: code that holds __m128 passes it as it is

    static F4 load(const float* p) { return _mm_loadu_ps(p); }
    static F4 loadAligned(const float* p) { return _mm_load_ps(p); }
    static F4 zero() { return _mm_setzero_ps(); }
    static F4 splat(float x) { return _mm_set1_ps(x); }
    static F4 set(float a, float b, float c, float d) { return _mm_setr_ps(a, b, c, d); }
    static F4 bits(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
    {
        return _mm_castsi128_ps(_mm_setr_epi32(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                               static_cast<int>(d)));
    }
    void store(float* p) const { _mm_storeu_ps(p, v); }
    void storeAligned(float* p) const { _mm_store_ps(p, v); }

    friend F4 operator+(F4 a, F4 b) { return _mm_add_ps(a.v, b.v); }
    friend F4 operator-(F4 a, F4 b) { return _mm_sub_ps(a.v, b.v); }
    friend F4 operator*(F4 a, F4 b) { return _mm_mul_ps(a.v, b.v); }
    friend F4 operator/(F4 a, F4 b) { return _mm_div_ps(a.v, b.v); }
    friend F4 operator&(F4 a, F4 b) { return _mm_and_ps(a.v, b.v); }
    friend F4 operator^(F4 a, F4 b) { return _mm_xor_ps(a.v, b.v); }
    // SSE2 has no fused multiply-add: no four-wide kernel uses it.
    friend F4 sqrt(F4 a) { return _mm_sqrt_ps(a.v); }
    friend F4 min(F4 a, F4 b) { return _mm_min_ps(a.v, b.v); }
    friend F4 max(F4 a, F4 b) { return _mm_max_ps(a.v, b.v); }
    friend F4 notEqual(F4 a, F4 b) { return _mm_cmpneq_ps(a.v, b.v); }
};

template <int K>
F4 lane(F4 a)
{
    return _mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(K, K, K, K));
}

template <int I, int J, int K, int L>
F4 shuffle(F4 a, F4 b)
{
    return _mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(L, K, J, I));
}

inline void transpose(F4& a, F4& b, F4& c, F4& d)
{
    _MM_TRANSPOSE4_PS(a.v, b.v, c.v, d.v);
}

inline void columns(const float* const* p, F4& x, F4& y, F4& z)
{
    F4 a = F4::load(p[0]), b = F4::load(p[1]), c = F4::load(p[2]), d = F4::load(p[3]);
    transpose(a, b, c, d);
    x = a, y = b, z = c;
}

}  // namespace sse2

namespace avx2 {

struct F8 {
    __m256 v;

    F8() = default;
    FYREL_TARGET_AVX2 F8(__m256 x) : v(x) {}

    FYREL_TARGET_AVX2 static F8 load(const float* p) { return _mm256_loadu_ps(p); }
    FYREL_TARGET_AVX2 static F8 loadAligned(const float* p) { return _mm256_load_ps(p); }
    FYREL_TARGET_AVX2 static F8 zero() { return _mm256_setzero_ps(); }
    FYREL_TARGET_AVX2 static F8 splat(float x) { return _mm256_set1_ps(x); }
    FYREL_TARGET_AVX2 void store(float* p) const { _mm256_storeu_ps(p, v); }
    FYREL_TARGET_AVX2 void storeAligned(float* p) const { _mm256_store_ps(p, v); }

    FYREL_TARGET_AVX2 friend F8 operator+(F8 a, F8 b) { return _mm256_add_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 operator-(F8 a, F8 b) { return _mm256_sub_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 operator*(F8 a, F8 b) { return _mm256_mul_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 operator/(F8 a, F8 b) { return _mm256_div_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 operator&(F8 a, F8 b) { return _mm256_and_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 operator^(F8 a, F8 b) { return _mm256_xor_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 fma(F8 a, F8 b, F8 c) { return _mm256_fmadd_ps(a.v, b.v, c.v); }
    FYREL_TARGET_AVX2 friend F8 sqrt(F8 a) { return _mm256_sqrt_ps(a.v); }
    FYREL_TARGET_AVX2 friend F8 min(F8 a, F8 b) { return _mm256_min_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 max(F8 a, F8 b) { return _mm256_max_ps(a.v, b.v); }
    FYREL_TARGET_AVX2 friend F8 notEqual(F8 a, F8 b) { return _mm256_cmp_ps(a.v, b.v, _CMP_NEQ_UQ); }
};

FYREL_TARGET_AVX2 inline sse2::F4 low(F8 a)
{
    return _mm256_castps256_ps128(a.v);
}

FYREL_TARGET_AVX2 inline sse2::F4 high(F8 a)
{
    return _mm256_extractf128_ps(a.v, 1);
}

// Pointers k and k + 4 share a register, whose halves are transposed as
// four rows are, so that lane k holds pointer k.
FYREL_TARGET_AVX2 inline void columns(const float* const* p, F8& x, F8& y, F8& z)
{
    __m256 r[4];
    for (int k = 0; k < 4; ++k) {
        r[k] = _mm256_set_m128(_mm_loadu_ps(p[k + 4]), _mm_loadu_ps(p[k]));
    }
    const __m256 ab0 = _mm256_unpacklo_ps(r[0], r[1]), ab1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 cd0 = _mm256_unpacklo_ps(r[2], r[3]), cd1 = _mm256_unpackhi_ps(r[2], r[3]);
    x = _mm256_shuffle_ps(ab0, cd0, 0x44);
    y = _mm256_shuffle_ps(ab0, cd0, 0xEE);
    z = _mm256_shuffle_ps(ab1, cd1, 0x44);
}

}  // namespace avx2

#endif  // FYREL_X86

#if FYREL_NEON

namespace neon {

struct F4 {
    float32x4_t v;

    F4() = default;
    F4(float32x4_t x) : v(x) {}

    static F4 load(const float* p) { return vld1q_f32(p); }
    static F4 loadAligned(const float* p) { return vld1q_f32(p); }
    static F4 zero() { return vdupq_n_f32(0.0f); }
    static F4 splat(float x) { return vdupq_n_f32(x); }
    static F4 set(float a, float b, float c, float d) { return float32x4_t{a, b, c, d}; }
    static F4 bits(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
    {
        return vreinterpretq_f32_u32(uint32x4_t{a, b, c, d});
    }
    void store(float* p) const { vst1q_f32(p, v); }
    void storeAligned(float* p) const { vst1q_f32(p, v); }

    friend F4 operator+(F4 a, F4 b) { return vaddq_f32(a.v, b.v); }
    friend F4 operator-(F4 a, F4 b) { return vsubq_f32(a.v, b.v); }
    friend F4 operator*(F4 a, F4 b) { return vmulq_f32(a.v, b.v); }
    friend F4 operator/(F4 a, F4 b) { return vdivq_f32(a.v, b.v); }
    friend F4 operator&(F4 a, F4 b)
    {
        return vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_f32(a.v), vreinterpretq_u32_f32(b.v)));
    }
    friend F4 operator^(F4 a, F4 b)
    {
        return vreinterpretq_f32_u32(veorq_u32(vreinterpretq_u32_f32(a.v), vreinterpretq_u32_f32(b.v)));
    }
    friend F4 fma(F4 a, F4 b, F4 c) { return vfmaq_f32(c.v, a.v, b.v); }
    friend F4 sqrt(F4 a) { return vsqrtq_f32(a.v); }
    // NEON's own min and max return NaN when either is; these return b, as
    // the other backends do.
    friend F4 min(F4 a, F4 b) { return vbslq_f32(vcltq_f32(a.v, b.v), a.v, b.v); }
    friend F4 max(F4 a, F4 b) { return vbslq_f32(vcgtq_f32(a.v, b.v), a.v, b.v); }
    friend F4 notEqual(F4 a, F4 b) { return vreinterpretq_f32_u32(vmvnq_u32(vceqq_f32(a.v, b.v))); }
};

template <int K>
F4 lane(F4 a)
{
    return vdupq_laneq_f32(a.v, K);
}

template <int I, int J, int K, int L>
F4 shuffle(F4 a, F4 b)
{
    return __builtin_shuffle(a.v, b.v, uint32x4_t{I, J, 4 + K, 4 + L});
}

inline void transpose(F4& a, F4& b, F4& c, F4& d)
{
    const float32x4_t ab0 = vzip1q_f32(a.v, b.v), ab1 = vzip2q_f32(a.v, b.v);  // a0 b0 a1 b1, a2 b2 a3 b3
    const float32x4_t cd0 = vzip1q_f32(c.v, d.v), cd1 = vzip2q_f32(c.v, d.v);
    a = vreinterpretq_f32_f64(vzip1q_f64(vreinterpretq_f64_f32(ab0), vreinterpretq_f64_f32(cd0)));
    b = vreinterpretq_f32_f64(vzip2q_f64(vreinterpretq_f64_f32(ab0), vreinterpretq_f64_f32(cd0)));
    c = vreinterpretq_f32_f64(vzip1q_f64(vreinterpretq_f64_f32(ab1), vreinterpretq_f64_f32(cd1)));
    d = vreinterpretq_f32_f64(vzip2q_f64(vreinterpretq_f64_f32(ab1), vreinterpretq_f64_f32(cd1)));
}

inline void columns(const float* const* p, F4& x, F4& y, F4& z)
{
    F4 a = F4::load(p[0]), b = F4::load(p[1]), c = F4::load(p[2]), d = F4::load(p[3]);
    transpose(a, b, c, d);
    x = a, y = b, z = c;
}

}  // namespace neon

#endif  // FYREL_NEON

// The four-wide type that every processor of the build's target runs: for
// code that gives the same bits with any backend and so need not follow the
// choice.
#if FYREL_X86
using Native4 = sse2::F4;
#elif FYREL_NEON
using Native4 = neon::F4;
#else
using Native4 = portable::F4;
#endif

}  // namespace fyrel::simd
