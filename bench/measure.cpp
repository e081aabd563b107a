#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0)
      options.json = true;
    else if (std::strcmp(argv[i], "--quick") == 0)
      options.quick = true;
    else {
      std::fprintf(stderr, "%s: unknown option '%s'\nusage: %s [--json] [--quick]\n", argv[0], argv[i],
                   argv[0]);
      std::exit(2);
    }
  }
  return options;
}

Repetitions repetitionsFor(const Options& options, double fullBudgetSeconds) {
  if (options.quick) return {1, 2, 3, 0.0};
  return {3, 10, 2000, fullBudgetSeconds};
}

double medianOf(std::vector<double> samples) {
  if (samples.empty()) return NAN;
  const size_t half = samples.size() / 2;
  std::nth_element(samples.begin(), samples.begin() + half, samples.end());
  if (samples.size() % 2 == 1) return samples[half];
  const double upper = samples[half];
  return (*std::max_element(samples.begin(), samples.begin() + half) + upper) / 2;
}

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

JsonObject& JsonObject::number(const std::string& key, double value) {
  if (!std::isfinite(value)) return raw(key, "null");
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return raw(key, text);
}

JsonObject& JsonObject::integer(const std::string& key, long long value) {
  return raw(key, std::to_string(value));
}

JsonObject& JsonObject::text(const std::string& key, const std::string& value) {
  return raw(key, quoted(value));
}

JsonObject& JsonObject::boolean(const std::string& key, bool value) {
  return raw(key, value ? "true" : "false");
}

JsonObject& JsonObject::raw(const std::string& key, const std::string& json) {
  fields_.push_back(quoted(key) + ":" + json);
  return *this;
}

JsonObject& JsonObject::object(const std::string& key, const JsonObject& value) {
  return raw(key, value.str());
}

JsonObject& JsonObject::array(const std::string& key, const std::vector<JsonObject>& values) {
  std::string json = "[";
  for (size_t i = 0; i < values.size(); ++i) json += (i ? "," : "") + values[i].str();
  return raw(key, json + "]");
}

std::string JsonObject::str() const {
  std::string json = "{";
  for (size_t i = 0; i < fields_.size(); ++i) json += (i ? "," : "") + fields_[i];
  return json + "}";
}

const char* runtimeName() { return VELMORA_GPU_RUNTIME_NAME; }
