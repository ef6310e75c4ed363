#pragma once
// Interleaved vertex storage of a particle context: a GL vertex buffer object mapped for writing, or
// a client-side vertex array, holding one of three interleaved vertex formats. The particle walk
// writes each visible particle straight into the storage with the writers below, and the context's
// draw hands the storage to GL in one call.
#include <cstdint>
#include <vector>

#include "framework/gl_binding.h"

// The three interleaved vertex records; field order is the memory order GL expects.
struct T_C4UB_V3F_Vertex {  // GL_C4UB_V3F
  uint8_t Color[4];
  float Position[3];
};
struct T_T2F_C4UB_V3F_Vertex {  // GL_T2F_C4UB_V3F
  float TexCoord[2];
  uint8_t Color[4];
  float Position[3];
};
struct T_T2F_C4F_N3F_V3F_Vertex {  // GL_T2F_C4F_N3F_V3F
  float TexCoord[2];
  float Color[4];
  float Normal[3];
  float Position[3];
};
using P_C4UB_V3F_Vertex = T_C4UB_V3F_Vertex*;
using P_T2F_C4UB_V3F_Vertex = T_T2F_C4UB_V3F_Vertex*;
using P_T2F_C4F_N3F_V3F_Vertex = T_T2F_C4F_N3F_V3F_Vertex*;

static_assert(sizeof(T_C4UB_V3F_Vertex) == 16, "GL_C4UB_V3F stride");
static_assert(sizeof(T_T2F_C4UB_V3F_Vertex) == 24, "GL_T2F_C4UB_V3F stride");
static_assert(sizeof(T_T2F_C4F_N3F_V3F_Vertex) == 48, "GL_T2F_C4F_N3F_V3F stride");

// Bytes per vertex of one of the three formats above, 0 for any other code.
uint32_t vertex_stride(uint32_t format);

// A GL vertex buffer object, mapped write-only while the walk fills it. When the driver has no
// buffer objects (the entry points are missing) it holds no buffer and never maps: Data stays
// nullptr, and the caller must then write nothing.
class TGLVertexBufferObject {
 public:
  explicit TGLVertexBufferObject(uint32_t usage);
  virtual ~TGLVertexBufferObject();
  TGLVertexBufferObject(const TGLVertexBufferObject&) = delete;
  TGLVertexBufferObject& operator=(const TGLVertexBufferObject&) = delete;

  void Bind();
  void Unbind();
  // Binds and maps room for n vertices of `format`; the buffer is reallocated when it is too small,
  // or when it would leave more than `Reserve` vertices unused. Data is the write pointer
  // afterwards (nullptr when the map failed).
  void Map(uint32_t format, uint32_t n);
  void Unmap();
  void Draw(GLenum mode);

  uint32_t ID = 0;
  void* Data = nullptr;
  uint32_t Capacity = 0;  // bytes
  uint32_t Reserve = 10;  // spare vertices allocated beyond a request
  uint32_t Count = 0;     // vertices written
  uint32_t Usage = 0;
  uint32_t Format = 0;
  uint32_t Stride = 0;
};

// A client-side vertex array in one block of memory that is reused from frame to frame.
class TGLVertexArray {
 public:
  TGLVertexArray() = default;
  virtual ~TGLVertexArray();
  TGLVertexArray(const TGLVertexArray&) = delete;
  TGLVertexArray& operator=(const TGLVertexArray&) = delete;

  // Makes room for n vertices of `format`: grows to n + GrowthStep vertices when too small (keeping
  // the contents) and shrinks to that size when more than GrowthStep vertices would stay unused.
  // The caller writes from Data, which is nullptr only when nothing could be allocated.
  void Map(uint32_t n, uint32_t format);
  // Vertex i of the last Map, or nullptr past it.
  void* GetVertex(uint32_t i);
  void SetIndexCount(uint32_t n);
  void Draw(GLenum mode);

  void* Data = nullptr;
  uint32_t Capacity = 0;     // bytes
  uint32_t GrowthStep = 50;  // spare vertices allocated beyond a request
  uint32_t Count = 0;        // vertices written
  uint32_t MappedCount = 0;  // vertices addressable through GetVertex
  uint32_t Format = 0;
  uint32_t Stride = 0;
  bool UseIndices = false;
  std::vector<uint32_t> Indices;
};
