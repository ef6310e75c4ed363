#include "framework/format.h"

#include <cstdio>
#include <vector>

namespace {

std::string vformat_one(const std::string& spec, char conv, const FormatArg* arg) {
  // `spec` holds the flags, width and precision between '%' and the conversion letter.
  std::vector<char> buf(64);
  auto run = [&](auto fn) {
    int n = fn(buf.data(), buf.size());
    if (n >= 0 && static_cast<size_t>(n) >= buf.size()) {
      buf.resize(static_cast<size_t>(n) + 1);
      n = fn(buf.data(), buf.size());
    }
    return n < 0 ? std::string() : std::string(buf.data(), static_cast<size_t>(n));
  };
  const std::string pct = "%" + spec;
  switch (conv) {
    case 'd': case 'i': {
      long long v = 0;
      if (arg) v = arg->kind == FormatArg::kInt ? arg->i : arg->kind == FormatArg::kUInt ? static_cast<long long>(arg->u)
                 : arg->kind == FormatArg::kFloat ? static_cast<long long>(arg->f) : 0;
      const std::string f = pct + "lld";
      return run([&](char* b, size_t n) { return std::snprintf(b, n, f.c_str(), v); });
    }
    case 'u': case 'x': case 'X': {
      unsigned long long v = 0;
      if (arg) v = arg->kind == FormatArg::kUInt ? arg->u : arg->kind == FormatArg::kInt ? static_cast<unsigned long long>(arg->i)
                 : arg->kind == FormatArg::kFloat ? static_cast<unsigned long long>(arg->f) : 0;
      const std::string f = pct + "ll" + conv;
      return run([&](char* b, size_t n) { return std::snprintf(b, n, f.c_str(), v); });
    }
    case 'f': case 'e': case 'g': case 'E': case 'G': {
      long double v = 0;
      if (arg) v = arg->kind == FormatArg::kFloat ? arg->f : arg->kind == FormatArg::kInt ? static_cast<long double>(arg->i)
                 : arg->kind == FormatArg::kUInt ? static_cast<long double>(arg->u) : 0;
      const std::string f = pct + "L" + conv;
      return run([&](char* b, size_t n) { return std::snprintf(b, n, f.c_str(), v); });
    }
    case 's': {
      std::string v;
      if (arg) {
        if (arg->kind == FormatArg::kString) v = arg->s;
        else if (arg->kind == FormatArg::kInt) v = std::to_string(arg->i);
        else if (arg->kind == FormatArg::kUInt) v = std::to_string(arg->u);
        else v = vformat_one("", 'g', arg);
      }
      const std::string f = pct + "s";
      return run([&](char* b, size_t n) { return std::snprintf(b, n, f.c_str(), v.c_str()); });
    }
    default:
      return pct + conv;
  }
}

}  // namespace

std::string FormatArgs(const char* format, const FormatArg* args, int count) {
  std::string out;
  int next = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      ++p;
      continue;
    }
    const char* q = p + 1;
    while (*q && std::string("-+ #0123456789.").find(*q) != std::string::npos) ++q;
    if (!*q) {
      out.append(p);
      break;
    }
    const std::string spec(p + 1, q);
    const FormatArg* arg = next < count ? &args[next] : nullptr;
    ++next;
    out += vformat_one(spec, *q, arg);
    p = q;
  }
  return out;
}
