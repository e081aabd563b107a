// The classic C runtime generator the seeding depends on, supplied here so every platform
// draws the same sequence: 32-bit state from 1, state = state * 214013 + 2531011, result
// (state >> 16) & 0x7FFF. Never reseeded: one sequence per process.
#pragma once

namespace crt {

constexpr int kRandMax = 32767;  // results are 0 .. kRandMax

int rand();

}  // namespace crt
