#pragma once

#include <vector>

// Which code the fast scopes run: 512-bit vectors (AVX-512 F, BW, DQ, VL),
// 256-bit vectors (AVX2 with FMA), or the plain arithmetic all the way. The
// widest the processor runs, unless the environment variable
// HUELENS_SCOPE_PATH ("avx512", "avx2" or "plain", read once) asks for a
// narrower one. Every path gives the same bytes.
namespace scopes {

enum class ScopePath { Plain = 0, Avx2 = 1, Avx512 = 2 };

ScopePath scopePath();

// The paths this processor runs, the widest first; always ends with Plain.
std::vector<ScopePath> runnableScopePaths();

const char* scopePathName(ScopePath path);

// Tests: run `path` from now on (narrowed to what the processor runs).
void setScopePath(ScopePath path);

} // namespace scopes
