#include "platform/dynamic_library.h"

#include <windows.h>

namespace platform {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& file_name) {
  Close();
  handle_ = reinterpret_cast<void*>(LoadLibraryA(file_name.c_str()));
  return handle_ != nullptr;
}

void DynamicLibrary::Close() {
  if (handle_) {
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

std::string DynamicLibrary::LastError() {
  const DWORD code = GetLastError();
  return code ? "error " + std::to_string(static_cast<unsigned long>(code)) : "";
}

}  // namespace platform
