#include "engine/vertex_storage.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/fake_gl.h"

namespace {
// Sizes handed to glBufferData, in order.
std::vector<double> buffer_sizes(const FakeGL& fake) {
  std::vector<double> sizes;
  for (const GLCall* c : fake.All("glBufferData")) sizes.push_back(c->args[1]);
  return sizes;
}
}  // namespace

TEST(VertexBufferObject, GrowsWhenTooSmallAndShrinksPastTheReserve) {
  FakeGL fake;
  TGLVertexBufferObject vbo(GL_DYNAMIC_DRAW);
  EXPECT_EQ(vbo.ID, 1u);
  const double s = 24;  // GL_T2F_C4UB_V3F

  vbo.Map(GL_T2F_C4UB_V3F, 0);
  EXPECT_TRUE(buffer_sizes(fake).empty());
  EXPECT_EQ(vbo.Capacity, 0u);
  vbo.Unmap();

  for (uint32_t n : {3u, 3u, 100u, 3u}) {
    vbo.Map(GL_T2F_C4UB_V3F, n);
    EXPECT_NE(vbo.Data, nullptr);
    vbo.Unmap();
    EXPECT_EQ(vbo.Data, nullptr);
  }
  EXPECT_EQ(buffer_sizes(fake), (std::vector<double>{13 * s, 110 * s, 13 * s}));
  EXPECT_EQ(vbo.Capacity, 13u * 24u);
  EXPECT_EQ(fake.Last("glBufferData")->args[3], GL_DYNAMIC_DRAW);
  EXPECT_EQ(fake.Last("glMapBuffer")->args[1], GL_WRITE_ONLY);

  // Sizes are bytes: 6 vertices of stride 48 still fit in 13 of stride 24, 7 do not.
  vbo.Map(GL_T2F_C4F_N3F_V3F, 6);
  EXPECT_EQ(vbo.Capacity, 13u * 24u);
  vbo.Unmap();
  vbo.Map(GL_T2F_C4F_N3F_V3F, 7);
  EXPECT_EQ(vbo.Capacity, 17u * 48u);
  vbo.Unmap();
}

TEST(VertexBufferObject, DrawsTheWrittenCountFromOffsetZero) {
  FakeGL fake;
  {
    TGLVertexBufferObject vbo(GL_DYNAMIC_DRAW);
    vbo.Map(GL_C4UB_V3F, 5);
    vbo.Count = 4;
    vbo.Unmap();
    fake.Clear();
    vbo.Draw(GL_POINTS);
    std::vector<std::string> names;
    for (const auto& c : fake.calls) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"glEnableClientState", "glBindBuffer", "glInterleavedArrays",
                                               "glDrawArrays", "glBindBuffer", "glDisableClientState"}));
    EXPECT_EQ(fake.Last("glInterleavedArrays")->args, (std::vector<double>{GL_C4UB_V3F, 16}));
    EXPECT_EQ(fake.Last("glDrawArrays")->args, (std::vector<double>{GL_POINTS, 0, 4}));
    EXPECT_EQ(fake.Last("glBindBuffer")->args[1], 0);
  }
  EXPECT_EQ(fake.Last("glDeleteBuffers")->args[1], 1);
}

TEST(VertexBufferObject, WithoutBufferObjectsMapsNothingAndCallsNothing) {
  FakeGL fake;
  fake.buffer_objects = false;
  fake.Install();
  TGLVertexBufferObject vbo(GL_DYNAMIC_DRAW);
  vbo.Bind();
  vbo.Map(GL_T2F_C4UB_V3F, 50);
  EXPECT_EQ(vbo.Data, nullptr);
  EXPECT_EQ(vbo.Count, 0u);
  vbo.Unmap();
  vbo.Draw(GL_QUADS);
  EXPECT_TRUE(fake.calls.empty());
}

TEST(VertexArray, GrowsByFiftyKeepsContentsAndShrinksAfresh) {
  FakeGL fake;
  TGLVertexArray va;
  va.Map(0, GL_T2F_C4UB_V3F);
  EXPECT_EQ(va.Data, nullptr);
  EXPECT_EQ(va.Capacity, 0u);
  va.Draw(GL_QUADS);
  EXPECT_TRUE(fake.calls.empty());

  va.Map(3, GL_T2F_C4UB_V3F);
  ASSERT_NE(va.Data, nullptr);
  EXPECT_EQ(va.Capacity, 53u * 24u);
  const uint32_t marker = 0xC0FFEE;
  std::memcpy(va.Data, &marker, sizeof marker);
  void* block = va.Data;
  va.Map(53, GL_T2F_C4UB_V3F);  // fits exactly: nothing changes
  EXPECT_EQ(va.Data, block);
  EXPECT_EQ(va.Capacity, 53u * 24u);

  va.Map(54, GL_T2F_C4UB_V3F);
  EXPECT_EQ(va.Capacity, 104u * 24u);
  uint32_t kept = 0;
  std::memcpy(&kept, va.Data, sizeof kept);
  EXPECT_EQ(kept, marker);

  va.Map(53, GL_T2F_C4UB_V3F);  // 51 vertices spare: one too many
  EXPECT_EQ(va.Capacity, 103u * 24u);
  // A map that reuses the block still addresses its vertices, and only those.
  EXPECT_EQ(va.GetVertex(52), static_cast<uint8_t*>(va.Data) + 52 * 24);
  EXPECT_EQ(va.GetVertex(53), nullptr);
  va.Map(53, GL_T2F_C4UB_V3F);
  EXPECT_NE(va.GetVertex(52), nullptr);
  va.Map(3, GL_V3F);  // unknown format: no stride, nothing addressable
  EXPECT_EQ(va.GetVertex(0), nullptr);
}

TEST(VertexArray, DrawsArraysOrIndices) {
  FakeGL fake;
  TGLVertexArray va;
  va.Map(8, GL_T2F_C4UB_V3F);
  va.Count = 8;
  va.Draw(GL_QUADS);
  EXPECT_EQ(fake.interleaved_pointer, va.Data);
  EXPECT_EQ(fake.Last("glInterleavedArrays")->args, (std::vector<double>{GL_T2F_C4UB_V3F, 24}));
  EXPECT_EQ(fake.Last("glDrawArrays")->args, (std::vector<double>{GL_QUADS, 0, 8}));

  va.SetIndexCount(4);
  va.Draw(GL_QUADS);  // indices are used only when asked for
  EXPECT_EQ(fake.Count("glDrawElements"), 0u);
  va.UseIndices = true;
  va.Draw(GL_QUADS);
  EXPECT_EQ(fake.Last("glDrawElements")->args[1], 4);
  EXPECT_EQ(fake.Last("glDrawElements")->args[2], GL_UNSIGNED_INT);
  EXPECT_EQ(fake.Count("glDrawArrays"), 2u);
}
