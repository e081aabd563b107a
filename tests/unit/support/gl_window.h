// A real OpenGL context for the tests that need one: one small GLUT window per process, in
// a place of its own, on the X server of the unit_xvfb ctest fixture (its display
// is read from $VELMORA_XVFB_DIR/display) or, run by hand, on $DISPLAY. GLEW is loaded.
#pragma once

// Opens the window on first use; false, with the reason on standard error, if there is no
// display to open it on.
bool openGlWindow();

// Lets GLUT handle what is pending (events, redisplays) until nothing is left.
void settleGlut();

// Display callbacks GLUT has made in the window so far.
int displayCalls();
