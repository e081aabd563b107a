// The checked-call report: one exact line on standard error naming the call site, then
// exit status -1 (255 as the parent sees it).
#include <gtest/gtest.h>

#include <cuda_gl_interop.h>

#include <functional>
#include <string>

#include "checked.h"

namespace {

// The report as a whole-output pattern: metacharacters escaped, anchored at both ends.
std::string exactly(const std::string& text) {
  std::string pattern = "^";
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

std::string report(int line, const char* description) {
  return "cudaSafeCall() Runtime API error in file <tests/unit/checked_test.cpp>, line " +
         std::to_string(line) + " : " + description + ".\n";
}

TEST(CudaSafeCallDeathTest, FailedCallPrintsOneLineAndExitsWith255) {
  const int line = __LINE__ + 1;
  EXPECT_EXIT(cudaSafeCall(cudaMalloc(static_cast<void**>(nullptr), 16)), testing::ExitedWithCode(255),
              exactly(report(line, "invalid argument")));
}

const int kHelperLine = __LINE__ + 1;
void checked(const std::function<cudaError_t()>& call) { cudaSafeCall(call()); }

// The description is the runtime's text for whatever code the call returned.
TEST(CudaSafeCallDeathTest, ReportsTheRuntimesDescription) {
  struct Case {
    std::function<cudaError_t()> call;
    const char* description;
  } cases[] = {
      {[] { return cudaGLUnregisterBufferObject(12345); }, "invalid resource handle"},
      {[] { return cudaGLUnmapBufferObject(777); }, "invalid resource handle"},
      // No OpenGL context in this process.
      {[] { return cudaGLRegisterBufferObject(1); }, "invalid OpenGL or DirectX context"},
      {[] { return cudaErrorAlreadyMapped; }, "resource already mapped"},
      {[] { return cudaErrorUnknown; }, "unknown error"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(checked(c.call), testing::ExitedWithCode(255), exactly(report(kHelperLine, c.description)));
}

TEST(CudaSafeCall, SuccessfulCallRunsOnceAndCarriesOn) {
  int calls = 0;
  checked([&] {
    ++calls;
    return cudaSuccess;
  });
  EXPECT_EQ(calls, 1);
}

}  // namespace
