#include "gl_window.h"

#include <GL/glew.h>  // before any other OpenGL header

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

constexpr int kWindowSide = 24;
constexpr int kCellSide = 32;     // window plus a gap
constexpr int kScreenCells = 96;  // per row and column of the 3072x3072 screen (xvfb.sh)

int displays = 0;

void countingDisplay() {
  ++displays;
  glutSwapBuffers();
}

std::string displayName() {
  if (const char* dir = std::getenv("VELMORA_XVFB_DIR")) {
    std::ifstream file(std::string(dir) + "/display");
    std::string name;
    if (file >> name) return name;
  }
  const char* name = std::getenv("DISPLAY");
  return name ? name : "";
}

bool open() {
  const std::string name = displayName();
  if (name.empty()) {
    std::fputs("no X display: run through ctest (fixture unit_xvfb) or set DISPLAY\n", stderr);
    return false;
  }
  // GLUT ends the process on a display it cannot open; find out first.
  Display* probe = XOpenDisplay(name.c_str());
  if (probe == nullptr) {
    std::fprintf(stderr, "cannot open X display %s\n", name.c_str());
    return false;
  }
  XCloseDisplay(probe);
  setenv("DISPLAY", name.c_str(), 1);

  int argc = 1;
  char program[] = "velmora-unit";
  char* argv[] = {program, nullptr};
  glutInit(&argc, argv);
  // Tests run in parallel on one X server. A window covered by another one is not redrawn,
  // so each process puts its small window in a place of its own on a large screen.
  const int slot = static_cast<int>(getpid() % (kScreenCells * kScreenCells));
  glutInitWindowSize(kWindowSide, kWindowSide);
  glutInitWindowPosition(slot % kScreenCells * kCellSide, slot / kScreenCells * kCellSide);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
  glutCreateWindow("velmora unit");
  glutDisplayFunc(countingDisplay);
  if (glewInit() != GLEW_OK) {
    std::fputs("glewInit failed\n", stderr);
    return false;
  }
  // The window's first exposure brings the first display; wait for it so later counts
  // see only what a test caused.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (displays == 0 && std::chrono::steady_clock::now() < deadline) {
    glutMainLoopEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  settleGlut();
  return displays > 0;
}

}  // namespace

bool openGlWindow() {
  static const bool opened = open();
  return opened;
}

void settleGlut() {
  // Until GLUT has had nothing to display for a while: the window's first exposure can
  // bring more than one display, late under load.
  using Clock = std::chrono::steady_clock;
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  auto quietSince = Clock::now();
  int seen = displays;
  while (Clock::now() - quietSince < std::chrono::milliseconds(500) && Clock::now() < giveUp) {
    glutMainLoopEvent();
    if (displays != seen) {
      seen = displays;
      quietSince = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int displayCalls() { return displays; }
