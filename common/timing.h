// Step timing: every idle cycle hands in the durations of its host and device sections;
// after timingWindow samples the next cycle prints their averages, in seconds, as
// "<host>\t<device>\n" on standard output (6 significant digits, as an ostream prints a
// float) and drops its own sample.
#pragma once

#include <cstdint>
#include <iosfwd>

// The millisecond tick counter: 32 bits, wrapping; differences are taken modulo 2^32.
uint32_t tickCount();

// Seconds between two tick readings, as a float.
float tickSeconds(uint32_t from, uint32_t to);

// The frame's recorder: keeps timingWindow samples per column and prints to std::cout.
void recordStepTimes(float hostSeconds, float deviceSeconds);

// One recording step over caller-owned windows of n samples. Returns true, with the
// averages, when the sample was a report instead of a stored sample.
bool recordSample(float* cpuTimes, float* gpuTimes, int n, int& sampleIndex, float hostSeconds,
                  float deviceSeconds, float& hostAverage, float& deviceAverage);

void printAverages(std::ostream& out, float hostAverage, float deviceAverage);
