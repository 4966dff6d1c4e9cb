// varnel-sim: placeholder until the simulator host lands.
#include <cstdio>
int main() {
  std::puts("varnel-sim: not built yet");
  return 1;
}
