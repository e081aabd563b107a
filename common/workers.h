// A fixed pool of worker threads, one per core, shared by everything in the process that
// splits work across cores (the host swarm step, the host GPU runtime's blocks).
//
// parallelFor hands out [0, count) in chunks of `chunk` items; the calling thread works
// too and the call returns when every chunk is done. A parallelFor issued from inside a
// worker runs inline on that worker. Work items must not depend on which thread runs them.
#pragma once

#include <cstddef>

using WorkFn = void (*)(void* context, size_t begin, size_t end);

void parallelFor(size_t count, size_t chunk, WorkFn fn, void* context);

// Number of threads parallelFor uses, the caller included; VELMORA_THREADS overrides it.
unsigned workerCount();
