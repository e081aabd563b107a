// The tiled kernel's synchronisation without its arithmetic: the same grid, tile fills
// and two barriers per pass, one tile read per pass instead of the pair terms. Its time
// is what the barriers and fills cost.
#pragma once

#include <cuda_runtime.h>

// Runs the passes of a tiled step over n positions on nbodyGridSize(n) blocks of 64
// threads; each thread writes one float to sink (nbodyGridSize(n) * 64 of them), which
// keeps the fills from being optimised away. Waits for the device.
void launchTilePassesOnly(const float4* positions, float* sink, int n);
