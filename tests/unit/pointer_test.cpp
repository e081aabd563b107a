// Pointer input: GLUT button and drag events placing the attractor. The drag's redisplay
// request is observed through a real GLUT window's display callback.
#include <gtest/gtest.h>

#include <GL/freeglut.h>

#include <climits>

#include "gl_window.h"
#include "pointer.h"

namespace {

// Read before any test runs: the state every program starts from.
const float3 attractorAtStart = attractor;
const int slotsAtStart[2] = {buttonDown[0], buttonDown[1]};

TEST(PointerStart, AttractorAtCentreAndNoButtonHeld) {
  EXPECT_EQ(attractorAtStart.x, 0.0f);
  EXPECT_EQ(attractorAtStart.y, 0.0f);
  EXPECT_EQ(attractorAtStart.z, 0.0f);
  EXPECT_EQ(slotsAtStart[0], 0);
  EXPECT_EQ(slotsAtStart[1], 0);
}

TEST(PixelToView, DividesByTheFixedWindowSizeUnclamped) {
  struct Case {
    int pixel;
    float x, y;  // view x for pixel as x, view y for pixel as y
  } cases[] = {
      {250, 0.0f, 0.0f},  {0, -1.0f, 1.0f},   {500, 1.0f, -1.0f},  {125, -0.5f, 0.5f},
      {-50, -1.2f, 1.2f}, {600, 1.4f, -1.4f}, {1000, 3.0f, -3.0f}, {1, -0.996f, 0.996f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pixelToViewX(c.pixel), c.x) << "x = " << c.pixel;
    EXPECT_EQ(pixelToViewY(c.pixel), c.y) << "y = " << c.pixel;
  }
}

class Pointer : public ::testing::Test {
 protected:
  void SetUp() override {
    attractor = float3{0.25f, -0.75f, 0.0f};
    buttonDown[0] = buttonDown[1] = 0;
  }
  void TearDown() override { EXPECT_EQ(attractor.z, 0.0f) << "z is never written"; }

  static void expectAttractor(float x, float y) {
    EXPECT_EQ(attractor.x, x);
    EXPECT_EQ(attractor.y, y);
  }
};

TEST_F(Pointer, PressOfAnyButtonPlacesTheAttractor) {
  struct Case {
    int button, x, y;
    float viewX, viewY;
    int slot;
  } cases[] = {
      {GLUT_LEFT_BUTTON, 250, 250, 0.0f, 0.0f, 0},   {GLUT_LEFT_BUTTON, 0, 0, -1.0f, 1.0f, 0},
      {GLUT_LEFT_BUTTON, 500, 500, 1.0f, -1.0f, 0},  {GLUT_MIDDLE_BUTTON, -50, 600, -1.2f, -1.4f, 1},
      {GLUT_RIGHT_BUTTON, 1000, 125, 3.0f, 0.5f, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "button " << c.button << " at " << c.x << "," << c.y);
    buttonDown[0] = buttonDown[1] = 0;
    mouse(c.button, GLUT_DOWN, c.x, c.y);
    expectAttractor(c.viewX, c.viewY);
    EXPECT_EQ(buttonDown[c.slot], 1);
    EXPECT_EQ(buttonDown[1 - c.slot], 0);
    mouse(c.button, GLUT_UP, 7, 9);  // release elsewhere: the attractor stays
    expectAttractor(c.viewX, c.viewY);
    EXPECT_EQ(buttonDown[c.slot], 0);
  }
}

TEST_F(Pointer, OtherStatesChangeNothing) {
  for (int state : {2, -1, 100}) {
    mouse(GLUT_LEFT_BUTTON, state, 0, 0);
    expectAttractor(0.25f, -0.75f);
    EXPECT_EQ(buttonDown[0], 0);
  }
  buttonDown[0] = 1;
  mouse(GLUT_LEFT_BUTTON, 2, 0, 0);
  EXPECT_EQ(buttonDown[0], 1);
}

TEST_F(Pointer, WheelAndUnknownButtonsTouchNeitherSlotNorAttractor) {
  for (int held : {0, 1}) {
    for (int button : {3, 4, 5, 7, -1, -2, 1000, INT_MAX, INT_MIN}) {
      for (int state : {GLUT_DOWN, GLUT_UP}) {
        SCOPED_TRACE(testing::Message() << "button " << button << " state " << state << " held " << held);
        buttonDown[0] = buttonDown[1] = held;
        mouse(button, state, 0, 0);
        expectAttractor(0.25f, -0.75f);
        EXPECT_EQ(buttonDown[0], held);
        EXPECT_EQ(buttonDown[1], held);
      }
    }
  }
}

class PointerDrag : public Pointer {
 protected:
  void SetUp() override {
    ASSERT_TRUE(openGlWindow());
    Pointer::SetUp();
    settleGlut();
  }
  // Redisplays GLUT made for what the test did since the last call: one round of GLUT's
  // work, no waiting, so late window-system exposures do not get counted.
  int redisplays() {
    glutMainLoopEvent();
    const int now = displayCalls();
    const int made = now - seen_;
    seen_ = now;
    return made;
  }
  int seen_ = displayCalls();
};

TEST_F(PointerDrag, LeftDragMovesTheAttractorAndAsksForOneRedisplayPerEvent) {
  (void)redisplays();
  mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 250, 250);
  EXPECT_EQ(redisplays(), 0) << "a press alone asks for no redisplay";
  motion(0, 500);
  expectAttractor(-1.0f, -1.0f);
  EXPECT_EQ(redisplays(), 1);
  motion(-50, 600);
  expectAttractor(-1.2f, -1.4f);
  EXPECT_EQ(redisplays(), 1);
  mouse(GLUT_LEFT_BUTTON, GLUT_UP, 400, 400);
  expectAttractor(-1.2f, -1.4f);
  motion(500, 0);  // no button held any more
  expectAttractor(-1.2f, -1.4f);
  EXPECT_EQ(redisplays(), 0);
}

TEST_F(PointerDrag, RightButtonPlacesOnceButDoesNotDrag) {
  (void)redisplays();
  mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 500, 500);
  expectAttractor(1.0f, -1.0f);
  motion(250, 250);
  motion(0, 0);
  expectAttractor(1.0f, -1.0f);
  mouse(GLUT_RIGHT_BUTTON, GLUT_UP, 100, 100);
  expectAttractor(1.0f, -1.0f);
  EXPECT_EQ(redisplays(), 0);
}

TEST_F(PointerDrag, RightClickDuringLeftDragKeepsTheDrag) {
  mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 250, 250);
  mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 500, 0);
  expectAttractor(1.0f, 1.0f);
  mouse(GLUT_RIGHT_BUTTON, GLUT_UP, 500, 0);
  EXPECT_EQ(buttonDown[0], 1);
  motion(0, 250);
  expectAttractor(-1.0f, 0.0f);
  // The middle button shares the right one's slot: releasing it does not end the drag
  // either.
  mouse(GLUT_MIDDLE_BUTTON, GLUT_UP, 0, 0);
  motion(125, 125);
  expectAttractor(-0.5f, 0.5f);
}

TEST_F(PointerDrag, WheelStepsDuringLeftDragKeepTheDrag) {
  mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 250, 250);
  mouse(3, GLUT_DOWN, 0, 0);
  mouse(3, GLUT_UP, 0, 0);
  mouse(4, GLUT_DOWN, 0, 0);
  mouse(4, GLUT_UP, 0, 0);
  motion(500, 500);
  expectAttractor(1.0f, -1.0f);
}

}  // namespace
