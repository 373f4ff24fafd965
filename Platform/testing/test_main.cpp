#include <gtest/gtest.h>

#include "pal_testing.h"

int main(int argc, char** argv) {
  int exit_code = 0;
  if (pal_testing::MaybeRunChild(argc, argv, &exit_code)) return exit_code;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
