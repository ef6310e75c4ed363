#include "platform/program_path.h"

#include <windows.h>

namespace platform {

std::string program_directory() {
  char buf[MAX_PATH + 1] = {0};
  const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  std::string path(buf, n);
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? ".\\" : path.substr(0, slash + 1);
}

}  // namespace platform
