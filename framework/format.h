#pragma once
// printf-style formatting for the system's texts ("%d", "%s", "%.2f", "%0.2f", "%x", "%%").
// Arguments are type-checked at run time: integers, floating-point numbers, strings and pointers
// are accepted for any conversion and converted as needed, so a mismatch never reads garbage.
#include <cstdint>
#include <string>
#include <type_traits>

struct FormatArg {
  enum Kind { kInt, kUInt, kFloat, kString } kind;
  long long i = 0;
  unsigned long long u = 0;
  long double f = 0;
  const char* s = nullptr;

  template <typename T, std::enable_if_t<std::is_integral<T>::value && std::is_signed<T>::value, int> = 0>
  FormatArg(T v) : kind(kInt), i(v) {}
  template <typename T, std::enable_if_t<std::is_integral<T>::value && !std::is_signed<T>::value, int> = 0>
  FormatArg(T v) : kind(kUInt), u(v) {}
  template <typename T, std::enable_if_t<std::is_enum<T>::value, int> = 0>
  FormatArg(T v) : kind(kInt), i(static_cast<long long>(v)) {}
  template <typename T, std::enable_if_t<std::is_floating_point<T>::value, int> = 0>
  FormatArg(T v) : kind(kFloat), f(v) {}
  FormatArg(const char* v) : kind(kString), s(v ? v : "") {}
  FormatArg(const std::string& v) : kind(kString), s(v.c_str()) {}
};

std::string FormatArgs(const char* format, const FormatArg* args, int count);

template <typename... Args>
std::string Format(const std::string& format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatArgs(format.c_str(), list, static_cast<int>(sizeof...(Args)));
}
