// Fault injection for tests of the programs' failure paths. HOSTGPU_FAIL=<call>[:<n>] makes
// the n-th call (default the first) of that kind fail as the real runtime would fail it;
// <call> is one of register, unregister, map, unmap, malloc. Unset, nothing ever fails
// on purpose.
#pragma once

#include <cuda_runtime.h>

namespace hostgpu {

enum class Call { Register, Unregister, Map, Unmap, Malloc };

bool injectedFault(Call call);

// Remembers error for cudaGetLastError and returns it.
cudaError_t record(cudaError_t error);

}  // namespace hostgpu
