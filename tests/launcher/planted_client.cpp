// A test helper for Windows: what a hostile server could leave in a job's working folder
// under the client's name. It says "planted" and nothing else.
#include <windows.h>

int main() {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "planted\n", 8, &written, nullptr);
  return 0;
}
