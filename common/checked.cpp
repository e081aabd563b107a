#include "checked.h"

#include <cstdio>
#include <cstdlib>

void reportRuntimeError(cudaError_t error, const char* file, int line) {
  std::fprintf(stderr, "cudaSafeCall() Runtime API error in file <%s>, line %i : %s.\n", file, line,
               cudaGetErrorString(error));
  std::exit(-1);
}
