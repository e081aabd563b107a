// Pointer input: a press of any button puts the attractor under the pointer, a drag with
// the left button moves it. Pixels map to the view as if the window were still 500 by 500:
// x/250 - 1 and 1 - y/250, unclamped. Wheel steps (buttons 3 and 4) and any other button
// number change nothing.
#pragma once

#include <cuda_runtime.h>

extern float3 attractor;   // view coordinates; z stays 0
extern int buttonDown[2];  // slot 0: left button; slot 1: middle and right

void mouse(int button, int state, int x, int y);
void motion(int x, int y);

// The conversion both callbacks use.
float pixelToViewX(int x);
float pixelToViewY(int y);
