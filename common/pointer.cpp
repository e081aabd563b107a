#include "pointer.h"

#include <GL/freeglut.h>

#include "frame.h"

float3 attractor = {0, 0, 0};
int buttonDown[2] = {0, 0};

float pixelToViewX(int x) { return static_cast<float>((x / double(kWindowSize) - 0.5) * 2); }
float pixelToViewY(int y) { return static_cast<float>((y / double(kWindowSize) - 0.5) * -2); }

void mouse(int button, int state, int x, int y) {
  if (button < GLUT_LEFT_BUTTON || button > GLUT_RIGHT_BUTTON) return;
  const int slot = button == GLUT_RIGHT_BUTTON ? 1 : button;
  if (state == GLUT_DOWN) {
    buttonDown[slot] = 1;
    attractor.x = pixelToViewX(x);
    attractor.y = pixelToViewY(y);
  } else if (state == GLUT_UP) {
    buttonDown[slot] = 0;
  }
}

void motion(int x, int y) {
  if (buttonDown[0] == 0) return;
  attractor.x = pixelToViewX(x);
  attractor.y = pixelToViewY(y);
  glutPostRedisplay();
}
