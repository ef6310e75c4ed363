#pragma once
#include <string>

namespace platform {

// A shared library opened by file name; symbols resolved by name. Closed on destruction.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool Open(const std::string& file_name);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  // The loader's last error text (empty when none).
  static std::string LastError();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
