// A program that only waits: the tests copy it under the names of the suite's programs
// ("zuv.exe", "ZUV.EXE", "zuv.ksef.exe") to see how the installer recognises a running
// ZUV. It does nothing else, so it is safe to start and kill from any test.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  std::this_thread::sleep_for(std::chrono::seconds(seconds > 0 ? seconds : 60));
  return 0;
}
