#pragma once
// What differs between the Linux and the Windows test builds: environment variables, counting the
// process's open files, and the clock lines the application base logs at start-up.
#include <string>

void set_env(const char* name, const char* value);
void unset_env(const char* name);

// The process's open file descriptors (on Windows those of the C run-time, through which the
// program's streams open files): a file that is never closed raises the count.
int OpenFileDescriptors();

// The log line of the application clock this build reads.
std::string clock_log_line();
// Windows only: the start of the counter-frequency line that follows it (empty on Linux).
std::string clock_frequency_log_line();

// Makes a named pipe at path (a file-system object that is not a regular file); false where the
// file system has none (Windows keeps its named pipes outside the file system).
bool make_pipe(const std::string& path);
