#include "engine/vertex_storage.h"

#include <cstdlib>
#include <limits>

namespace {
bool buffer_objects_available() {
  return gl.glGenBuffers && gl.glDeleteBuffers && gl.glBindBuffer && gl.glBufferData && gl.glMapBuffer &&
         gl.glUnmapBuffer;
}

// Byte sizes are kept in 32 bits; a request that does not fit is refused rather than wrapped.
bool fits_32(uint64_t bytes) { return bytes <= std::numeric_limits<uint32_t>::max(); }
}  // namespace

uint32_t vertex_stride(uint32_t format) {
  switch (format) {
    case GL_C4UB_V3F:
      return sizeof(T_C4UB_V3F_Vertex);
    case GL_T2F_C4UB_V3F:
      return sizeof(T_T2F_C4UB_V3F_Vertex);
    case GL_T2F_C4F_N3F_V3F:
      return sizeof(T_T2F_C4F_N3F_V3F_Vertex);
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// TGLVertexBufferObject

TGLVertexBufferObject::TGLVertexBufferObject(uint32_t usage) : Usage(usage) {
  if (buffer_objects_available()) gl.glGenBuffers(1, &ID);
}

TGLVertexBufferObject::~TGLVertexBufferObject() {
  if (ID != 0 && buffer_objects_available()) gl.glDeleteBuffers(1, &ID);
}

void TGLVertexBufferObject::Bind() {
  if (!buffer_objects_available()) return;
  gl.glEnableClientState(GL_VERTEX_ARRAY);
  gl.glBindBuffer(GL_ARRAY_BUFFER, ID);
}

void TGLVertexBufferObject::Unbind() {
  if (!buffer_objects_available()) return;
  gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
  gl.glDisableClientState(GL_VERTEX_ARRAY);
}

void TGLVertexBufferObject::Map(uint32_t format, uint32_t n) {
  Count = 0;
  Data = nullptr;
  Format = format;
  if (const uint32_t stride = vertex_stride(format)) Stride = stride;
  if (!buffer_objects_available()) return;
  Bind();
  const uint64_t wanted = uint64_t{n} * Stride;
  const uint64_t with_reserve = (uint64_t{n} + Reserve) * Stride;
  if (wanted > Capacity || with_reserve < Capacity) {
    if (!fits_32(with_reserve)) return;
    Capacity = static_cast<uint32_t>(with_reserve);
    gl.glBufferData(GL_ARRAY_BUFFER, static_cast<starlace_GLsizeiptr>(Capacity), nullptr, Usage);
  }
  Data = gl.glMapBuffer(GL_ARRAY_BUFFER, GL_WRITE_ONLY);
}

void TGLVertexBufferObject::Unmap() {
  if (!buffer_objects_available()) return;
  // Unmapping a buffer that never mapped is a GL error; the pointer is dead afterwards either way.
  if (Data) gl.glUnmapBuffer(GL_ARRAY_BUFFER);
  Data = nullptr;
  Unbind();
}

void TGLVertexBufferObject::Draw(GLenum mode) {
  if (!buffer_objects_available()) return;
  Bind();
  gl.glInterleavedArrays(Format, static_cast<GLsizei>(Stride), nullptr);
  gl.glDrawArrays(mode, 0, static_cast<GLsizei>(Count));
  Unbind();
}

// ---------------------------------------------------------------------------------------------
// TGLVertexArray

TGLVertexArray::~TGLVertexArray() { std::free(Data); }

void TGLVertexArray::Map(uint32_t n, uint32_t format) {
  Format = format;
  MappedCount = 0;
  Stride = vertex_stride(format);
  const uint64_t wanted = uint64_t{n} * Stride;
  const uint64_t needed = (uint64_t{n} + GrowthStep) * Stride;
  if (wanted > Capacity) {
    void* grown = fits_32(needed) ? std::realloc(Data, static_cast<size_t>(needed)) : nullptr;
    if (!grown) {
      // Out of memory: hold nothing rather than a block too small for the request.
      std::free(Data);
      Data = nullptr;
      Capacity = 0;
      return;
    }
    Data = grown;
    Capacity = static_cast<uint32_t>(needed);
  } else if (needed < Capacity) {
    std::free(Data);
    Data = std::malloc(static_cast<size_t>(needed));
    Capacity = Data ? static_cast<uint32_t>(needed) : 0;
  }
  // The block holds at least n vertices now, whichever branch ran (or none did).
  if (Data && Stride > 0) MappedCount = n;
}

void* TGLVertexArray::GetVertex(uint32_t i) {
  if (i >= MappedCount) return nullptr;
  return static_cast<uint8_t*>(Data) + uint64_t{i} * Stride;
}

void TGLVertexArray::SetIndexCount(uint32_t n) { Indices.resize(n); }

void TGLVertexArray::Draw(GLenum mode) {
  if (!Data) return;
  gl.glInterleavedArrays(Format, static_cast<GLsizei>(Stride), Data);
  if (UseIndices && !Indices.empty()) {
    gl.glDrawElements(mode, static_cast<GLsizei>(Indices.size()), GL_UNSIGNED_INT, Indices.data());
  } else {
    gl.glDrawArrays(mode, 0, static_cast<GLsizei>(Count));
  }
}
