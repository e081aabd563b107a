// main() for every unit test binary. Being an object file, not an archive member, it is
// linked before the frame library is searched, so the frame's own main() (and with it the
// program values it needs) never comes in.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
