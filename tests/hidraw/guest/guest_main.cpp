// Entry point of the guest test program. The QEMU tier's init script runs
// it and reads its exit status from the serial console.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
