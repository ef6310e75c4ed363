// Stands in for the program in the harness's own test: commits the fault its argument names, then
// ends as the program would.
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
void* volatile g_kept;
__attribute__((noinline)) void leak() {
  g_kept = std::malloc(64);
  g_kept = nullptr;
}
}  // namespace

int main(int argc, char** argv) {
  const char* fault = argc > 1 ? argv[1] : "";
  if (!std::strcmp(fault, "use-after-free")) {
    char* volatile p = new char[8];
    delete[] p;
    return p[0];
  }
  if (!std::strcmp(fault, "overflow")) {
    volatile int big = INT_MAX;
    return big + 1 == 0;
  }
  if (!std::strcmp(fault, "leak")) leak();
  return 0;
}
