#include <cstdio>

int main() {
  std::puts("ZUV - instalacja");
  return 0;
}
