// Start-up: device binding, window, initGL, callbacks, main loop.
#include <GL/glew.h>  // before any other OpenGL header

#include <GL/freeglut.h>

#include <cuda_gl_interop.h>

#include <cstdio>
#include <cstdlib>

#include "frame.h"
#include "pointer.h"

void initGL() {
  glewInit();
  if (!glewIsSupported("GL_VERSION_2_0 ")) {
    std::fputs("ERROR: Support for necessary OpenGL extensions missing.", stderr);
    std::fflush(stderr);
    std::exit(0);
  }
  initProgram();
}

void reshape(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(-1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

int main(int argc, char** argv) {
  // Bind the GPU runtime before any OpenGL buffer exists; a failure here surfaces at the
  // first checked call.
  cudaGLSetGLDevice(0);

  glutInit(&argc, argv);
  glutInitWindowSize(kWindowSize, kWindowSize);
  glutInitWindowPosition(windowX, windowY);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
  glutCreateWindow(programTitle);

  initGL();

  glutReshapeFunc(reshape);
  glutDisplayFunc(display);
  glutKeyboardFunc(keyboard);
  glutMouseFunc(mouse);
  glutMotionFunc(motion);
  glutIdleFunc(idle);

  glClearColor(1, 1, 1, 1);
  glutMainLoop();
  return 0;
}
