#pragma once

#include "scopes/FloatReplicas.h"

#include <immintrin.h>

// The vector form of smoothedValue, eight columns at a time (AVX2): with b
// the centre, p1 the sum of the two neighbours and p2 of the two beyond, the
// sum in the given form. Only for code built for AVX2 and FMA.
namespace scopes {

template <int Taps, SumForm Form>
__attribute__((target("avx2,fma"), always_inline)) inline __m256 sum8(
    __m256 k0, __m256 k1, __m256 k2, __m256 b, __m256 p1, __m256 p2)
{
    __m256 s;
    if constexpr (Form == SumForm::NeighboursFirstFused)
        s = _mm256_fmadd_ps(k0, b, _mm256_mul_ps(k1, p1));
    else if constexpr (Form == SumForm::CentreFirstFused)
        s = _mm256_fmadd_ps(k1, p1, _mm256_mul_ps(k0, b));
    else
        s = _mm256_add_ps(_mm256_mul_ps(k0, b), _mm256_mul_ps(k1, p1));
    if constexpr (Taps == 5)
        s = Form == SumForm::Unfused ? _mm256_add_ps(s, _mm256_mul_ps(k2, p2)) : _mm256_fmadd_ps(k2, p2, s);
    return s;
}

// Calls f.template operator()<Form>() with `form` as a compile-time value,
// so that a loop's form is not decided per column.
template <typename F> decltype(auto) withForm(SumForm form, F&& f)
{
    switch (form) {
    case SumForm::NeighboursFirstFused:
        return f(std::integral_constant<SumForm, SumForm::NeighboursFirstFused>());
    case SumForm::CentreFirstFused:
        return f(std::integral_constant<SumForm, SumForm::CentreFirstFused>());
    case SumForm::Unfused:
    default:
        return f(std::integral_constant<SumForm, SumForm::Unfused>());
    }
}

} // namespace scopes
