#pragma once
// A recording fake of the OpenGL table: serves the model-view and projection matrices, viewport
// and texture/buffer names a test sets, and records every call with its numeric arguments.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/gl_binding.h"

struct GLCall {
  std::string name;
  std::vector<double> args;  // numeric arguments; pointers are recorded as 0
};

class FakeGL {
 public:
  // Installs the fake into `gl` (and makes it the current fake); the destructor clears `gl`.
  FakeGL();
  ~FakeGL();
  FakeGL(const FakeGL&) = delete;
  FakeGL& operator=(const FakeGL&) = delete;

  static FakeGL* Current();

  // Column-major 4x4 matrices served by glGetFloatv.
  std::array<float, 16> modelview{};
  std::array<float, 16> projection{};
  std::array<int, 4> viewport{0, 0, 640, 480};
  std::string extensions = "GL_ARB_multitexture GL_EXT_texture ";
  bool recording = true;  // false: count nothing (benchmarks)
  // Buffer objects: when false, the buffer entry points are left out of the table.
  bool buffer_objects = true;

  std::vector<GLCall> calls;
  void Clear() { calls.clear(); }
  size_t Count(const std::string& name) const;
  const GLCall* Last(const std::string& name) const;
  std::vector<const GLCall*> All(const std::string& name) const;

  // State the fake keeps.
  uint32_t next_texture = 1;
  uint32_t next_buffer = 1;
  std::vector<uint8_t> mapped;           // memory handed out by glMapBuffer
  std::vector<std::vector<uint8_t>> buffer_data;  // per buffer name, the size from glBufferData
  uint32_t bound_array_buffer = 0;
  GLint texture_param = GL_LINEAR;       // served by glGetTexParameteriv
  // The last pointer handed to glInterleavedArrays (vertex data that a draw call reads).
  const void* interleaved_pointer = nullptr;
  GLenum interleaved_format = 0;
  // A copy of the pixels of the last glTexImage2D of GL_RGBA / GL_UNSIGNED_BYTE data.
  std::vector<uint8_t> tex_image;
  int tex_image_width = 0;
  int tex_image_height = 0;

  void Record(const char* name, std::vector<double> args);
  void Install();

  static void SetIdentity(std::array<float, 16>& m);
};
