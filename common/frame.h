// The viewer frame shared by the three programs: start-up, window and main loop.
//
// The frame owns main(), initGL() and reshape(). Each program supplies the values and
// functions declared under "per program" below; the frame calls them in a fixed order.
// The view is always the square -1..1 on both axes, stretched to the window.
#pragma once

#include <cstddef>

// Per program.
extern const char* const programTitle;  // window title
extern const int windowX, windowY;      // window position, pixels
extern const size_t vboBytes;           // size of each of the two shared vertex buffers
extern const int timingWindow;          // steps averaged by each timing line

void initProgram();  // creates buffers and arrays; the tail of initGL
void display();
void keyboard(unsigned char key, int x, int y);
void idle();

// The frame's own.
constexpr int kWindowSize = 500;  // pixels, both ways; the pointer mapping relies on it

void initGL();
void reshape(int width, int height);
