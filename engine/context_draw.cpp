// Vertex output and drawing of a particle context: the writers that put one particle into
// interleaved vertex memory, the filling of the two storages by the walk, and Draw.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "engine/context.h"
#include "engine/vertex_storage.h"
#include "framework/gl_binding.h"

namespace {

// component * 255 rounded to the nearest integer (ties to even), keeping the low 8 bits, so values
// above 1 wrap (1.2 gives 50). The product is taken in double, where it is exact, and rounded once:
// a float product would round first and turn 0.3 (76.500003) into 76 and 0.9 (229.49999) into 230,
// and so would an add-a-large-constant trick evaluated at x87's 80-bit precision.
inline uint8_t colour_byte(float component) {
  const double rounded = std::nearbyint(static_cast<double>(component) * 255.0);
  if (std::fabs(rounded) < 2147483648.0) return static_cast<uint8_t>(static_cast<int64_t>(rounded) & 0xFF);
  if (std::isnan(rounded)) return 0;
  const double wrapped = std::fmod(rounded, 256.0);
  return static_cast<uint8_t>(static_cast<int>(wrapped < 0 ? wrapped + 256.0 : wrapped));
}

// The largest vertex count whose byte size fits the storages' 32-bit sizes in every format.
constexpr uint64_t kMostVertices = std::numeric_limits<uint32_t>::max() / 48u - 64u;

}  // namespace

uint32_t TKZ_Context::VertexFormat() const {
  if (Capabilities[kzcPointSprites]) return GL_C4UB_V3F;
  if (Capabilities[kzcNormals] && !Capabilities[kzcTrails]) return GL_T2F_C4F_N3F_V3F;
  return GL_T2F_C4UB_V3F;
}

uint32_t TKZ_Context::VerticesRequested() const {
  const uint64_t layers = Capabilities[kzcTwoLayers] ? 2 : 1;
  const uint64_t corners = Capabilities[kzcPointSprites] ? 1 : 4;
  const uint64_t n = layers * corners * uint64_t{Particles->Count} * static_cast<uint64_t>(TrailLength - 1);
  return static_cast<uint32_t>(n < kMostVertices ? n : kMostVertices);
}

void TKZ_Context::FillVertexBuffer(const Walk& walk) {
  TGLVertexBufferObject& storage = *VertexBuffer;
  const uint32_t format = VertexFormat();
  storage.Bind();
  storage.Map(format, VerticesRequested());
  // A failed map leaves no memory: the particles are still stepped, nothing is written.
  const uint32_t room = storage.Data && storage.Stride ? storage.Capacity / storage.Stride : 0;
  try {
    storage.Count = ProcessParticles(walk, storage.Data, format, room);
  } catch (...) {
    // A walk ended by an exception draws nothing, and leaves the buffer neither mapped nor bound.
    storage.Count = 0;
    storage.Unmap();
    storage.Unbind();
    throw;
  }
  storage.Unmap();
  storage.Unbind();
}

void TKZ_Context::FillVertexArray(const Walk& walk) {
  TGLVertexArray& storage = *VertexArray;
  const uint32_t format = VertexFormat();
  storage.Map(VerticesRequested(), format);
  // Nothing to draw until the walk has finished: the block may have shrunk below the last count.
  storage.Count = 0;
  const uint32_t room = storage.Data && storage.Stride ? storage.Capacity / storage.Stride : 0;
  storage.Count = ProcessParticles(walk, storage.Data, format, room);
}

uint32_t TKZ_Context::WriteParticle(TKZ_ParticleData& p, uint8_t*& write, uint32_t format, uint32_t room) {
  if (format == GL_C4UB_V3F) {
    if (room < 1) return 0;
    const uint8_t bytes[4] = {colour_byte(p.Color[0]), colour_byte(p.Color[1]), colour_byte(p.Color[2]),
                              colour_byte(p.Color[3])};
    std::memcpy(write + offsetof(T_C4UB_V3F_Vertex, Color), bytes, sizeof bytes);
    std::memcpy(write + offsetof(T_C4UB_V3F_Vertex, Position), p.Position.data(), sizeof(float) * 3);
    write += sizeof(T_C4UB_V3F_Vertex);
    return 1;
  }

  const uint32_t layers = Capabilities[kzcTwoLayers] ? 2 : 1;
  if (layers == 1) p.LayerAlpha[0] = 1.0f;
  // Bone pairs by the trail length, bounded by the bones the particle really has (a hook may have
  // changed them), and nothing unless the whole particle fits the room that is left.
  const size_t bones = std::min(p.Trail.size(), static_cast<size_t>(TrailLength));
  if (bones < 2) return 0;
  const uint64_t needed = uint64_t{layers} * (bones - 1) * 4;
  if (needed > room) return 0;

  // Without a texture the whole image is one cell.
  float rows = 1.0f;
  float columns = 1.0f;
  uint32_t grid_columns = 1;
  if (TextureIndex >= 0 && static_cast<size_t>(TextureIndex) < Textures.size()) {
    const TKZ_Texture& t = Textures[static_cast<size_t>(TextureIndex)];
    grid_columns = t.Columns;
    rows = static_cast<float>(t.Rows);
    columns = static_cast<float>(t.Columns);
  }
  static const int kCorner[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};  // (bone offset, vertex)
  const bool floats = format == GL_T2F_C4F_N3F_V3F;
  for (uint32_t layer = 0; layer < layers; ++layer) {
    const uint32_t cell = p.TextureCells[layer];
    const float column = static_cast<float>(cell % grid_columns);
    const float row = static_cast<float>(cell / grid_columns);
    const float u0 = column / columns;
    const float v0 = (rows - row) / rows;
    const float alpha = p.Color[3] * p.LayerAlpha[layer];
    uint8_t bytes[4] = {colour_byte(p.Color[0]), colour_byte(p.Color[1]), colour_byte(p.Color[2]),
                        colour_byte(alpha)};
    for (size_t j = 0; j + 1 < bones; ++j) {
      for (const auto& corner : kCorner) {
        const TKZ_SkeletonBone& b = p.Trail[j + static_cast<size_t>(corner[0])];
        const int vertex = corner[1];
        const float u = b.TexCoords[vertex][0] / columns + u0;
        const float v = v0 - b.TexCoords[vertex][1] / rows;
        // Field by field straight into the storage: a record built on the stack and copied whole
        // would be read back before its parts are stored, which stalls the store pipeline.
        if (floats) {
          const float fields[12] = {u, v, p.Color[0], p.Color[1], p.Color[2], alpha,
                                    b.Normals[vertex][0], b.Normals[vertex][1], b.Normals[vertex][2],
                                    b.Vertices[vertex][0], b.Vertices[vertex][1], b.Vertices[vertex][2]};
          static_assert(sizeof fields == sizeof(T_T2F_C4F_N3F_V3F_Vertex), "all floats, in memory order");
          std::memcpy(write, fields, sizeof fields);
          write += sizeof(T_T2F_C4F_N3F_V3F_Vertex);
        } else {
          std::memcpy(write + offsetof(T_T2F_C4UB_V3F_Vertex, TexCoord), &u, sizeof u);
          std::memcpy(write + offsetof(T_T2F_C4UB_V3F_Vertex, TexCoord) + sizeof u, &v, sizeof v);
          std::memcpy(write + offsetof(T_T2F_C4UB_V3F_Vertex, Color), bytes, sizeof bytes);
          std::memcpy(write + offsetof(T_T2F_C4UB_V3F_Vertex, Position), b.Vertices[vertex].data(),
                      sizeof(float) * 3);
          write += sizeof(T_T2F_C4UB_V3F_Vertex);
        }
      }
    }
  }
  return static_cast<uint32_t>(needed);
}

void TKZ_Context::Draw(bool with_state) {
  if (!TKZ_Check(!Busy, kKzBusy)) return;
  if (Particles->Count == 0) return;
  const GLenum mode = Capabilities[kzcPointSprites] ? GL_POINTS : GL_QUADS;
  if (with_state) SetRenderState();
  if (StorageMode == kzsBufferObject) {
    VertexBuffer->Draw(mode);
  } else if (StorageMode == kzsVertexArray) {
    VertexArray->Draw(mode);
  }
  if (with_state) RestoreRenderState();
}

void TKZ_Context::SetRenderState() {
  gl.glEnable(GL_BLEND);
  gl.glEnable(GL_ALPHA_TEST);
  gl.glEnable(GL_TEXTURE_2D);
  gl.glAlphaFunc(GL_GREATER, 0.0f);
  // Only a texture that was added is bound; a context without one draws with whatever is bound.
  if (TextureIndex >= 0 && static_cast<size_t>(TextureIndex) < Textures.size()) {
    gl.glBindTexture(GL_TEXTURE_2D, Textures[static_cast<size_t>(TextureIndex)].GLName);
  }
  gl.glBlendFunc(BlendSource, BlendDest);
  if (Capabilities[kzcPointSprites]) {
    gl.glEnable(GL_POINT_SPRITE);
    gl.glTexEnvf(GL_POINT_SPRITE, GL_COORD_REPLACE, 1.0f);
    // Every point of the context takes the head particle's width.
    if (PKZ_ListNode head = Particles->Head()) gl.glPointSize(head->Data.Size[0]);
  }
}

void TKZ_Context::RestoreRenderState() {
  gl.glDisable(GL_BLEND);
  gl.glDisable(GL_ALPHA_TEST);
  gl.glDisable(GL_TEXTURE_2D);
  gl.glBindTexture(GL_TEXTURE_2D, 0);
  if (Capabilities[kzcPointSprites]) gl.glDisable(GL_POINT_SPRITE);
}
