#pragma once

#include <immintrin.h>

#include <cstdint>

// The vector operations the scope kernels are written in, once for eight
// lanes (AVX2 and FMA) and once for sixteen (AVX-512). A kernel written in
// these operations is compiled once per set, each copy under its own target
// (see VectorscopeKernels.inc), so that the 256-bit copy runs on processors
// without AVX-512. F holds floats, I 32-bit integers, M a true or false per
// lane. Each operation is the one instruction (or the few) its name says; the
// arithmetic of both sets is the same but for `reciprocal`, whose estimate
// differs (rcpps: 12 bits, rcp14ps: 14 bits), refined once in both.
// Everything between HUELENS_BEGIN_AVX2 (or HUELENS_BEGIN_AVX512) and
// HUELENS_END_TARGET is built for that processor, by GCC or clang.
#if defined(__clang__)
#define HUELENS_BEGIN_AVX2 _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define HUELENS_BEGIN_AVX512                                                                                          \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512dq,avx512vl,avx2,fma\"))), \
        apply_to = function)")
#define HUELENS_END_TARGET _Pragma("clang attribute pop")
#else
#define HUELENS_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define HUELENS_BEGIN_AVX512 \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512dq,avx512vl,avx2,fma\")")
#define HUELENS_END_TARGET _Pragma("GCC pop_options")
#endif

namespace scopes {

HUELENS_BEGIN_AVX2

struct Lanes8 {
    static constexpr int kCount = 8;
    using F = __m256;
    using I = __m256i;
    using M = __m256;

    static F splat(float v) { return _mm256_set1_ps(v); }
    static I splat(int v) { return _mm256_set1_epi32(v); }
    static F load(const float* p) { return _mm256_loadu_ps(p); }
    static I load(const std::uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static void store(int* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    // kCount bytes as floats, and kCount whole numbers 0 .. 255 as bytes.
    static F loadBytes(const std::uint8_t* p)
    {
        return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static void storeBytes(std::uint8_t* p, I v)
    {
        const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4,
            8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m256i packed
            = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, lowBytes), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
    }

    static F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static I nearestInt(F v) { return _mm256_cvtps_epi32(v); }
    static I truncated(F v) { return _mm256_cvttps_epi32(v); }
    static F asFloat(I v) { return _mm256_castsi256_ps(v); }
    static I asInt(F v) { return _mm256_castps_si256(v); }

    static I add(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I bitAnd(I a, I b) { return _mm256_and_si256(a, b); }
    static I bitOr(I a, I b) { return _mm256_or_si256(a, b); }
    static I shiftRight(I a, int n) { return _mm256_srli_epi32(a, n); }
    static I shiftLeft(I a, int n) { return _mm256_slli_epi32(a, n); }
    static I max(I a, I b) { return _mm256_max_epi32(a, b); }
    static I min(I a, I b) { return _mm256_min_epi32(a, b); }
    static M greater(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, b)); }
    static M equal(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)); }
    static I gather(const int* base, I index) { return _mm256_i32gather_epi32(base, index, 4); }
    // weights[counts] where counts are not 0, else 0.
    static F gatherWhereCounted(const float* weights, I counts)
    {
        return _mm256_testz_si256(counts, counts) ? _mm256_setzero_ps() : _mm256_i32gather_ps(weights, counts, 4);
    }

    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F mulAdd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); } // a b + c, rounded once
    static F mulSub(F a, F b, F c) { return _mm256_fmsub_ps(a, b, c); } // a b - c
    static F negMulAdd(F a, F b, F c) { return _mm256_fnmadd_ps(a, b, c); } // c - a b
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }
    static F abs(F a) { return _mm256_and_ps(a, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff))); }
    static F nearest(F a) { return _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    static F floor(F a) { return _mm256_floor_ps(a); }
    static F reciprocal(F x)
    {
        const F r = _mm256_rcp_ps(x);
        return _mm256_mul_ps(r, _mm256_fnmadd_ps(x, r, _mm256_set1_ps(2.0f)));
    }
    // v[index[k]] in lane k.
    static F permute(F v, I index) { return _mm256_permutevar8x32_ps(v, index); }
    static M less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static M lessOrEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    static M greater(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static M greaterOrEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static M equal(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }

    static M both(M a, M b) { return _mm256_and_ps(a, b); }
    static M butNot(M a, M b) { return _mm256_andnot_ps(b, a); } // a and not b
    static unsigned bits(M m) { return static_cast<unsigned>(_mm256_movemask_ps(m)); }
    static bool all(M m) { return bits(m) == 0xffu; }
    static bool any(M m) { return !_mm256_testz_ps(m, m); }
    static F select(M m, F ifTrue, F ifFalse) { return _mm256_blendv_ps(ifFalse, ifTrue, m); }
    static I select(M m, I ifTrue, I ifFalse)
    {
        return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(ifFalse), _mm256_castsi256_ps(ifTrue), m));
    }
};

HUELENS_END_TARGET

HUELENS_BEGIN_AVX512

struct Lanes16 {
    static constexpr int kCount = 16;
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;

    static F splat(float v) { return _mm512_set1_ps(v); }
    static I splat(int v) { return _mm512_set1_epi32(v); }
    static F load(const float* p) { return _mm512_loadu_ps(p); }
    static I load(const std::uint32_t* p) { return _mm512_loadu_si512(p); }
    static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static void store(int* p, I v) { _mm512_storeu_si512(p, v); }
    static F loadBytes(const std::uint8_t* p)
    {
        return _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }
    static void storeBytes(std::uint8_t* p, I v)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm512_cvtepi32_epi8(v));
    }

    static F toFloat(I v) { return _mm512_cvtepi32_ps(v); }
    static I nearestInt(F v) { return _mm512_cvtps_epi32(v); }
    static I truncated(F v) { return _mm512_cvttps_epi32(v); }
    static F asFloat(I v) { return _mm512_castsi512_ps(v); }
    static I asInt(F v) { return _mm512_castps_si512(v); }

    static I add(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I bitAnd(I a, I b) { return _mm512_and_si512(a, b); }
    static I bitOr(I a, I b) { return _mm512_or_si512(a, b); }
    static I shiftRight(I a, int n) { return _mm512_srli_epi32(a, static_cast<unsigned>(n)); }
    static I shiftLeft(I a, int n) { return _mm512_slli_epi32(a, static_cast<unsigned>(n)); }
    static I max(I a, I b) { return _mm512_max_epi32(a, b); }
    static I min(I a, I b) { return _mm512_min_epi32(a, b); }
    static M greater(I a, I b) { return _mm512_cmpgt_epi32_mask(a, b); }
    static M equal(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static I gather(const int* base, I index) { return _mm512_i32gather_epi32(index, base, 4); }
    // Only the lanes with a count are loaded.
    static F gatherWhereCounted(const float* weights, I counts)
    {
        return _mm512_mask_i32gather_ps(_mm512_setzero_ps(), _mm512_test_epi32_mask(counts, counts), counts, weights, 4);
    }

    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F mulAdd(F a, F b, F c) { return _mm512_fmadd_ps(a, b, c); }
    static F mulSub(F a, F b, F c) { return _mm512_fmsub_ps(a, b, c); }
    static F negMulAdd(F a, F b, F c) { return _mm512_fnmadd_ps(a, b, c); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }
    static F abs(F a) { return _mm512_abs_ps(a); }
    static F nearest(F a) { return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    static F floor(F a) { return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
    static F reciprocal(F x)
    {
        const F r = _mm512_rcp14_ps(x);
        return _mm512_mul_ps(r, _mm512_fnmadd_ps(x, r, _mm512_set1_ps(2.0f)));
    }
    static F permute(F v, I index) { return _mm512_permutexvar_ps(index, v); }
    static M less(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static M lessOrEqual(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ); }
    static M greater(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static M greaterOrEqual(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static M equal(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ); }

    static M both(M a, M b) { return static_cast<M>(a & b); }
    static M butNot(M a, M b) { return static_cast<M>(a & ~b); }
    static unsigned bits(M m) { return m; }
    static bool all(M m) { return m == 0xffff; }
    static bool any(M m) { return m != 0; }
    static F select(M m, F ifTrue, F ifFalse) { return _mm512_mask_blend_ps(m, ifFalse, ifTrue); }
    static I select(M m, I ifTrue, I ifFalse) { return _mm512_mask_blend_epi32(m, ifFalse, ifTrue); }
};

HUELENS_END_TARGET

} // namespace scopes
