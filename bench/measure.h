// What both bench programs share: options, repeated timing with a median, and a small
// JSON object writer, so the two programs' figures read alike.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct Options {
  bool json = false;   // one JSON object on stdout, nothing else there
  bool quick = false;  // few repetitions: a smoke run, not a measurement
};

// Accepts --json and --quick; anything else prints the usage to stderr and exits with 2.
Options parseOptions(int argc, char** argv);

struct Repetitions {
  int warmup;     // untimed calls first: page faults, caches, lazy module loading
  int minimum;    // timed calls at least
  int maximum;    // and at most
  double budget;  // seconds of timed calls to aim for between the two
};
Repetitions repetitionsFor(const Options& options, double fullBudgetSeconds);

struct Timing {
  double median = 0;  // seconds per call
  int reps = 0;
};

double medianOf(std::vector<double> samples);

// Calls `step` warmup times, then times each call on the monotonic clock until the
// repetition rule is met.
template <class Step>
Timing timeRepeated(const Repetitions& r, Step&& step) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < r.warmup; ++i) step();
  std::vector<double> samples;
  double total = 0;
  while (static_cast<int>(samples.size()) < r.maximum &&
         (static_cast<int>(samples.size()) < r.minimum || total < r.budget)) {
    const auto start = Clock::now();
    step();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    samples.push_back(seconds);
    total += seconds;
  }
  return {medianOf(samples), static_cast<int>(samples.size())};
}

// Fields in insertion order; numbers that are not finite are written as null.
class JsonObject {
 public:
  JsonObject& number(const std::string& key, double value);
  JsonObject& integer(const std::string& key, long long value);
  JsonObject& text(const std::string& key, const std::string& value);
  JsonObject& boolean(const std::string& key, bool value);
  JsonObject& raw(const std::string& key, const std::string& json);  // already JSON
  JsonObject& object(const std::string& key, const JsonObject& value);
  JsonObject& array(const std::string& key, const std::vector<JsonObject>& values);
  std::string str() const;

 private:
  std::vector<std::string> fields_;
};

// The name of the GPU runtime this build runs kernels on: "host" or "cuda".
const char* runtimeName();
