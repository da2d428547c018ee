#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace scopes {

// a * b + c rounded once to single precision, as the processor's fused
// multiply-add instruction gives it (OpenCV's vector code uses that
// instruction). The C library's fmaf is no replacement: MinGW-w64's rounds
// twice, so on Windows it misses the instruction's result in about one case
// in four.
//
// The product of two floats is exact in double precision. The double sum is
// then rounded to odd (its last bit set whenever the sum was not exact),
// which makes the final rounding to single precision the correct rounding of
// the exact a * b + c: double has more than twice float's precision plus
// two bits (Boldo and Melquiond, "Emulation of FMA and correctly rounded
// sums: proved algorithms using rounding to odd", 2008).
inline float fusedMultiplyAdd(float a, float b, float c)
{
    const double product = static_cast<double>(a) * static_cast<double>(b);
    const double addend = c;
    const double sum = product + addend;
    if (!std::isfinite(sum))
        return static_cast<float>(sum);
    // The sum's rounding error, exactly (Knuth's two-sum).
    const double addendPart = sum - product;
    const double error = (product - (sum - addendPart)) + (addend - addendPart);
    std::uint64_t bits;
    std::memcpy(&bits, &sum, sizeof bits);
    if (error != 0.0 && (bits & 1) == 0) {
        // The exact value lies between the sum and its neighbour on the
        // error's side: the odd one of the two is that neighbour.
        bits = (error > 0.0) == (sum > 0.0) ? bits + 1 : bits - 1;
        double odd;
        std::memcpy(&odd, &bits, sizeof odd);
        return static_cast<float>(odd);
    }
    return static_cast<float>(sum);
}

} // namespace scopes
