// Step timing: durations from tick readings, the window of N samples, the report line.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "frame.h"
#include "timing.h"

// The recorder's window in this binary, as a program sets it (velmora-nbody's value).
const int timingWindow = 5;

namespace {

TEST(TickSeconds, TakesDifferencesModulo2To32) {
  struct Case {
    uint32_t from, to;
    float seconds;
  } cases[] = {
      {0, 0, 0.0f},
      {1000, 1016, 0.016f},
      {4294967290u, 10, 0.016f},  // the counter wrapped between the readings
      {4294967295u, 0, 0.001f},
      {0, 1, 0.001f},
  };
  for (const Case& c : cases) EXPECT_EQ(tickSeconds(c.from, c.to), c.seconds) << c.from << " -> " << c.to;
  // Backwards readings are a huge unsigned difference, never a negative duration.
  EXPECT_GT(tickSeconds(10, 4294967290u), 4.0e6f);
}

// A window of n samples per column, driven one idle cycle at a time.
class Recorder {
 public:
  explicit Recorder(int n) : n_(n), cpu_(n, -1.0f), gpu_(n, -1.0f) {}
  // One cycle; the printed line if it reported, else "".
  std::string cycle(float hostSeconds, float deviceSeconds) {
    float host = -1, device = -1;
    if (!recordSample(cpu_.data(), gpu_.data(), n_, index_, hostSeconds, deviceSeconds, host, device))
      return "";
    std::ostringstream line;
    printAverages(line, host, device);
    return line.str();
  }
  int index() const { return index_; }

 private:
  int n_;
  std::vector<float> cpu_, gpu_;
  int index_ = 0;
};

std::string lineAfterWindow(int n, const std::vector<uint32_t>& hostMs,
                            const std::vector<uint32_t>& deviceMs) {
  Recorder r(n);
  for (int i = 0; i < n; ++i) {
    std::string line = r.cycle(tickSeconds(0, hostMs[i]), tickSeconds(0, deviceMs[i]));
    EXPECT_EQ(line, "") << "cycle " << i + 1 << " of " << n;
  }
  return r.cycle(123.0f, 456.0f);
}

TEST(StepTiming, AveragesPrintAsTheProgramsShowThem) {
  struct Case {
    const char* what;
    int n;
    std::vector<uint32_t> hostMs, deviceMs;
    const char* line;
  } cases[] = {
      {"fifty 16 ms device sections", 50, std::vector<uint32_t>(50, 0), std::vector<uint32_t>(50, 16),
       "0\t0.016\n"},
      // The float sum of fifty 0.001f falls just short of 0.05.
      {"fifty 1 ms sections", 50, std::vector<uint32_t>(50, 1), std::vector<uint32_t>(50, 1),
       "0.000999999\t0.000999999\n"},
      {"five mixed samples", 5, {0, 0, 0, 0, 0}, {31, 32, 31, 47, 16}, "0\t0.0314\n"},
      {"columns kept apart", 5, {31, 32, 31, 47, 16}, {1, 1, 1, 1, 1}, "0.0314\t0.001\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(lineAfterWindow(c.n, c.hostMs, c.deviceMs), c.line) << c.what;
}

TEST(StepTiming, UsesTheStreamsSixDigitGeneralFormat) {
  struct Case {
    float value;
    const char* text;
  } cases[] = {{0.0f, "0"},         {0.5f, "0.5"},         {0.0001f, "0.0001"},
               {0.00001f, "1e-05"}, {123456.0f, "123456"}, {1234567.0f, "1.23457e+06"}};
  for (const Case& c : cases) {
    std::ostringstream out;
    printAverages(out, c.value, 0.25f);
    EXPECT_EQ(out.str(), std::string(c.text) + "\t0.25\n");
  }
}

TEST(StepTiming, ReportsEveryNPlusOneCyclesFromFreshSamplesOnly) {
  const int n = 5;
  Recorder r(n);
  std::vector<int> reportingCycles;
  std::vector<std::string> lines;
  for (int cycle = 1; cycle <= 3 * (n + 1); ++cycle) {
    // Window k (1-based) holds k ms per sample; every reporting cycle brings a 9 s sample
    // that must not show up anywhere.
    const bool reporting = cycle % (n + 1) == 0;
    const uint32_t ms = reporting ? 9000 : static_cast<uint32_t>((cycle - 1) / (n + 1) + 1);
    std::string line = r.cycle(tickSeconds(0, ms), tickSeconds(0, 2 * ms));
    if (!line.empty()) {
      reportingCycles.push_back(cycle);
      lines.push_back(line);
      EXPECT_EQ(r.index(), 0);
    }
  }
  EXPECT_EQ(reportingCycles, (std::vector<int>{6, 12, 18}));
  EXPECT_EQ(lines, (std::vector<std::string>{"0.001\t0.002\n", "0.002\t0.004\n", "0.003\t0.006\n"}));
}

TEST(StepTiming, FrameRecorderPrintsToStandardOutput) {
  std::ostringstream captured;
  std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
  std::vector<std::string> afterCycle;
  for (int cycle = 1; cycle <= 2 * (timingWindow + 1); ++cycle) {
    recordStepTimes(tickSeconds(0, 4), tickSeconds(0, static_cast<uint32_t>(cycle)));
    afterCycle.push_back(captured.str());
  }
  std::cout.rdbuf(saved);
  for (int cycle = 1; cycle <= timingWindow; ++cycle) EXPECT_EQ(afterCycle[cycle - 1], "") << cycle;
  // Device samples 1..5 ms, then 7..11 ms (cycle 6's sample was dropped).
  EXPECT_EQ(afterCycle[timingWindow], "0.004\t0.003\n");
  EXPECT_EQ(afterCycle.back(), "0.004\t0.003\n0.004\t0.009\n");
}

}  // namespace
