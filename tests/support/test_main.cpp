// Entry point of every test executable: no test may put a datagram on a real network,
// so the UDP layer refuses every destination outside 127.0.0.0/8.
#include <gtest/gtest.h>

#include "comm/uUdpEndpoint.h"

int main(int argc, char** argv) {
  SetUdpLoopbackOnly(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
