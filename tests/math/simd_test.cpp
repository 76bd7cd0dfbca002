// Every vector backend the processor runs against the portable one: each
// operation of math/simd.h on every pairing of awkward values (signed zeros,
// subnormals, infinities, NaN, values whose products round or overflow) must
// give the same bits, any NaN matching any NaN.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "math/simd.h"

using namespace fyrel;
using namespace fyrel::simd;

namespace {

const char* const kOperations[] = {"+", "-", "*", "/", "fma", "sqrt", "min", "max", "notEqual", "&", "^"};
constexpr int kOperationCount = sizeof(kOperations) / sizeof(kOperations[0]);

template <typename F>
[[gnu::always_inline]] inline F apply(int op, F a, F b, F c)
{
    switch (op) {
    case 0: return a + b;
    case 1: return a - b;
    case 2: return a * b;
    case 3: return a / b;
    case 4:
        if constexpr (requires { fma(a, b, c); }) {
            return fma(a, b, c);
        }
        return c;  // SSE2 has no fused multiply-add
    case 5: return sqrt(a);
    case 6: return min(a, b);
    case 7: return max(a, b);
    case 8: return notEqual(a, b);
    case 9: return a & b;
    default: return a ^ b;
    }
}

// Operation op over the lanes of a, b and c (sizes a multiple of F's width).
template <typename F>
[[gnu::always_inline]] inline std::vector<float> applyAll(int op, const std::vector<float>& a,
                                                          const std::vector<float>& b, const std::vector<float>& c)
{
    constexpr std::size_t width = sizeof(F) / sizeof(float);
    std::vector<float> out(a.size());
    for (std::size_t i = 0; i < a.size(); i += width) {
        apply(op, F::load(&a[i]), F::load(&b[i]), F::load(&c[i])).store(&out[i]);
    }
    return out;
}

#if FYREL_X86
FYREL_TARGET_AVX2 std::vector<float> applyAvx2(int op, const std::vector<float>& a, const std::vector<float>& b,
                                               const std::vector<float>& c)
{
    return applyAll<avx2::F8>(op, a, b, c);
}
#endif

bool sameBits(float x, float y)
{
    return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y) || (std::isnan(x) && std::isnan(y));
}

}  // namespace

TEST(Simd, EveryBackendComputesWhatThePortableOneDoes)
{
    const float values[] = {0.0f, -0.0f, 1.0f, -1.5f, 3.0f, 1e-40f, -1e-45f, 1e30f, -3e38f, 0.1f, 7.0f / 3.0f,
                            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(), 16777217.0f, 2.5e-20f};
    constexpr std::size_t n = sizeof(values) / sizeof(values[0]);
    std::vector<float> a, b, c;
    for (std::size_t i = 0; i < n * n; ++i) {  // every pair, c varying too
        a.push_back(values[i % n]);
        b.push_back(values[i / n]);
        c.push_back(values[(7 * i + 3) % n]);
    }
    for (int op = 0; op < kOperationCount; ++op) {
        SCOPED_TRACE(kOperations[op]);
        const std::vector<float> expected = applyAll<portable::F4>(op, a, b, c);
        std::vector<std::pair<const char*, std::vector<float>>> results;
        results.emplace_back("portable eight-wide", applyAll<portable::F8>(op, a, b, c));
#if FYREL_X86
        if (op != 4) {
            results.emplace_back("sse2", applyAll<sse2::F4>(op, a, b, c));
        }
        if (vectorBackendAvailable(VectorBackend::Avx2)) {
            results.emplace_back("avx2", applyAvx2(op, a, b, c));
        }
#endif
#if FYREL_NEON
        results.emplace_back("neon", applyAll<neon::F4>(op, a, b, c));
#endif
        for (const auto& [backend, got] : results) {
            for (std::size_t i = 0; i < a.size(); ++i) {
                ASSERT_TRUE(sameBits(got[i], expected[i]))
                    << backend << " " << a[i] << " " << kOperations[op] << " " << b[i] << " (" << c[i]
                    << "): " << got[i] << ", portable " << expected[i];
            }
        }
    }
}
