// The frame's per-program buffer size. The state code of both modules creates its
// vertex buffers through the frame, so linking their seeding needs this value; the bench
// has no window and never creates a buffer.
#include "frame.h"

const size_t vboBytes = 0;
