#pragma once
#include <string>

namespace platform {

// The directory of the running program's file, with a trailing separator.
std::string program_directory();

// The platform's path separator.
#ifdef _WIN32
constexpr char kPathDelim = '\\';
#else
constexpr char kPathDelim = '/';
#endif

}  // namespace platform
