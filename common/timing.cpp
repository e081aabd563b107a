#include "timing.h"

#include <iostream>
#include <vector>

#include "frame.h"

float tickSeconds(uint32_t from, uint32_t to) {
  const uint32_t ticks = to - from;  // modulo 2^32: a wrap still gives the true difference
  return static_cast<float>(ticks) * 0.001f;
}

bool recordSample(float* cpuTimes, float* gpuTimes, int n, int& sampleIndex, float hostSeconds,
                  float deviceSeconds, float& hostAverage, float& deviceAverage) {
  if (sampleIndex < n) {
    cpuTimes[sampleIndex] = hostSeconds;
    gpuTimes[sampleIndex] = deviceSeconds;
    ++sampleIndex;
    return false;
  }
  // Summed into element 0 in float, one rounding per addition, as the figures depend on it.
  for (int i = 1; i < n; ++i) {
    cpuTimes[0] += cpuTimes[i];
    gpuTimes[0] += gpuTimes[i];
  }
  hostAverage = static_cast<float>(static_cast<double>(cpuTimes[0]) / n);
  deviceAverage = static_cast<float>(static_cast<double>(gpuTimes[0]) / n);
  sampleIndex = 0;
  return true;
}

void printAverages(std::ostream& out, float hostAverage, float deviceAverage) {
  out << hostAverage << "\t" << deviceAverage << std::endl;
}

void recordStepTimes(float hostSeconds, float deviceSeconds) {
  static std::vector<float> cpuTimes(timingWindow, 0.0f);
  static std::vector<float> gpuTimes(timingWindow, 0.0f);
  static int sampleIndex = 0;
  float hostAverage, deviceAverage;
  if (recordSample(cpuTimes.data(), gpuTimes.data(), timingWindow, sampleIndex, hostSeconds, deviceSeconds,
                   hostAverage, deviceAverage))
    printAverages(std::cout, hostAverage, deviceAverage);
}
