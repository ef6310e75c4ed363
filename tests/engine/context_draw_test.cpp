// Vertex output and Draw, read back from the storages and the recording GL fake.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/frustum.h"
#include "engine/vertex_storage.h"
#include "tests/support/fake_gl.h"

namespace {

class DrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitContextFrustumModule();
    ctx.Disable(kzcFrustumCulling);
    ctx.SetTemplateLifetime(10);
    ctx.SetTemplateSize(2, 4);
    ctx.SetTemplateColor(1.0f, 0.5f, 1.2f, 0.8f);
  }
  void TearDown() override { DoneContextFrustumModule(); }

  template <typename V>
  std::vector<V> ArrayVertices() {
    const TGLVertexArray& va = ctx.GetVertexArray();
    std::vector<V> out(va.Count);
    std::memcpy(out.data(), va.Data, va.Count * sizeof(V));
    return out;
  }

  std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const GLCall& c : fake.calls) names.push_back(c.name);
    return names;
  }

  FakeGL fake;
  TKZ_Context ctx;
};

}  // namespace

TEST_F(DrawTest, QuadVerticesCarryCellCoordinatesAndRoundedColourBytes) {
  ctx.AddTexture(42, 4, 4);
  ctx.SetTexture(0);
  ctx.SetTemplateTextureCell(6);  // row 1, column 2
  ctx.EmitParticle(10, 20, 30);
  ctx.Process(0.0f);
  EXPECT_EQ(ctx.GetVertexArray().Format, static_cast<uint32_t>(GL_T2F_C4UB_V3F));
  auto v = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  ASSERT_EQ(v.size(), 4u);
  // Corners (bone 0, vertex 0), (0, 1), (1, 1), (1, 0) under the identity view: x by the width,
  // y by the height.
  const float expect_pos[4][3] = {{9, 18, 30}, {9, 22, 30}, {11, 22, 30}, {11, 18, 30}};
  const float expect_uv[4][2] = {{0.5f, 0.75f}, {0.5f, 0.5f}, {0.75f, 0.5f}, {0.75f, 0.75f}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(v[i].Position[0], expect_pos[i][0]) << i;
    EXPECT_EQ(v[i].Position[1], expect_pos[i][1]) << i;
    EXPECT_EQ(v[i].Position[2], expect_pos[i][2]) << i;
    EXPECT_EQ(v[i].TexCoord[0], expect_uv[i][0]) << i;
    EXPECT_EQ(v[i].TexCoord[1], expect_uv[i][1]) << i;
    // 1.0 -> 255; 0.5 -> 127.5 -> 128 (ties to even); 1.2 -> 306 -> wraps to 50; 0.8 -> 204.
    EXPECT_EQ(v[i].Color[0], 255);
    EXPECT_EQ(v[i].Color[1], 128);
    EXPECT_EQ(v[i].Color[2], 50);
    EXPECT_EQ(v[i].Color[3], 204);
  }

  // Negative components wrap the same way: -0.5 -> -128 -> 128.
  ctx.ClearParticles();
  ctx.SetTemplateColor(-0.5f, 0, 0.25f, 1.0f / 255.0f);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);
  v = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  EXPECT_EQ(v[0].Color[0], 128);
  EXPECT_EQ(v[0].Color[2], 64);
  EXPECT_EQ(v[0].Color[3], 1);

  // The product is rounded once, from its exact value: 0.3f * 255 = 76.500003 -> 77 and
  // 0.9f * 255 = 229.49999 -> 229 (a float product would first round to 76.5 and 229.5).
  ctx.ClearParticles();
  ctx.SetTemplateColor(0.3f, 0.9f, 0.7f, 0.3f);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);
  v = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  EXPECT_EQ(v[0].Color[0], 77);
  EXPECT_EQ(v[0].Color[1], 229);
  EXPECT_EQ(v[0].Color[2], 178);
  EXPECT_EQ(v[0].Color[3], 77);
}

TEST_F(DrawTest, LayersCrossFadeOnlyWithTwoLayers) {
  ctx.AddTexture(42, 4, 4);
  ctx.SetTemplateColor(1, 1, 1, 1);
  ctx.EmitParticle(0, 0, 0);
  TKZ_ParticleData& p = ctx.GetParticles().Head()->Data;
  p.TextureCells[0] = 0;
  p.TextureCells[1] = 5;
  p.LayerAlpha = {0.25f, 0.75f};
  ctx.Process(0.0f);
  auto one = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  ASSERT_EQ(one.size(), 4u);
  EXPECT_EQ(one[0].Color[3], 255);  // the colour's alpha alone
  EXPECT_EQ(p.LayerAlpha[0], 1.0f);

  p.LayerAlpha = {0.25f, 0.75f};
  ctx.Enable(kzcTwoLayers);
  ctx.Process(0.0f);
  auto two = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  ASSERT_EQ(two.size(), 8u);
  EXPECT_EQ(two[0].Color[3], 64);   // 0.25 * 255 = 63.75
  EXPECT_EQ(two[4].Color[3], 191);  // 0.75 * 255 = 191.25
  EXPECT_EQ(two[0].TexCoord[0], 0.0f);   // cell 0: column 0
  EXPECT_EQ(two[4].TexCoord[0], 0.25f);  // cell 5: column 1, row 1
  EXPECT_EQ(two[4].TexCoord[1], 0.75f);
}

TEST_F(DrawTest, NormalsFormatAndPointSprites) {
  ctx.Enable(kzcNormals);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);
  EXPECT_EQ(ctx.GetVertexArray().Format, static_cast<uint32_t>(GL_T2F_C4F_N3F_V3F));
  auto n = ArrayVertices<T_T2F_C4F_N3F_V3F_Vertex>();
  ASSERT_EQ(n.size(), 4u);
  for (const auto& vtx : n) {
    EXPECT_NEAR(std::sqrt(vtx.Normal[0] * vtx.Normal[0] + vtx.Normal[1] * vtx.Normal[1] + vtx.Normal[2] * vtx.Normal[2]),
                1.0f, 1e-6f);
    EXPECT_GT(vtx.Normal[2], 0.0f);  // leaning out towards the view axis
    EXPECT_EQ(vtx.Color[2], 1.2f);   // floats are stored as they are
  }

  ctx.Disable(kzcNormals);
  ctx.Enable(kzcPointSprites);
  ctx.SetTemplateSize(7, 1);
  ctx.EmitParticle(3, 4, 5);
  ctx.Process(0.0f);
  EXPECT_EQ(ctx.GetVertexArray().Format, static_cast<uint32_t>(GL_C4UB_V3F));
  auto pts = ArrayVertices<T_C4UB_V3F_Vertex>();
  ASSERT_EQ(pts.size(), 2u);
  EXPECT_EQ(pts[1].Position[0], 3.0f);
  EXPECT_EQ(pts[1].Color[1], 128);

  fake.Clear();
  ctx.Draw(true);
  ASSERT_NE(fake.Last("glPointSize"), nullptr);
  EXPECT_EQ(fake.Last("glPointSize")->args[0], 2.0);  // the head particle's width for all points
  EXPECT_EQ(fake.Last("glDrawArrays")->args, (std::vector<double>{GL_POINTS, 0, 2}));
  EXPECT_EQ(fake.Count("glEnable"), 4u);  // blend, alpha test, texture, point sprite
  EXPECT_EQ(fake.Last("glDisable")->args[0], static_cast<double>(GL_POINT_SPRITE));
}

TEST_F(DrawTest, DrawSetsAndRestoresTheRenderState) {
  ctx.AddTexture(42, 4, 4);
  ctx.SetBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);
  fake.Clear();
  ctx.Draw(true);
  EXPECT_EQ(CallNames(), (std::vector<std::string>{"glEnable", "glEnable", "glEnable", "glAlphaFunc", "glBindTexture",
                                                   "glBlendFunc", "glInterleavedArrays", "glDrawArrays", "glDisable",
                                                   "glDisable", "glDisable", "glBindTexture"}));
  EXPECT_EQ(fake.All("glBindTexture")[0]->args, (std::vector<double>{GL_TEXTURE_2D, 42}));
  EXPECT_EQ(fake.All("glBindTexture")[1]->args, (std::vector<double>{GL_TEXTURE_2D, 0}));
  EXPECT_EQ(fake.Last("glBlendFunc")->args, (std::vector<double>{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
  EXPECT_EQ(fake.Last("glAlphaFunc")->args, (std::vector<double>{GL_GREATER, 0}));
  EXPECT_EQ(fake.Last("glDrawArrays")->args, (std::vector<double>{GL_QUADS, 0, 4}));
  EXPECT_EQ(fake.interleaved_pointer, ctx.GetVertexArray().Data);

  fake.Clear();
  ctx.Draw(false);
  EXPECT_EQ(CallNames(), (std::vector<std::string>{"glInterleavedArrays", "glDrawArrays"}));

  fake.Clear();
  ctx.SetStorageMode(kzsNone);
  ctx.Draw(false);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(DrawTest, WithoutATextureTheWholeImageIsOneCellAndNothingIsBound) {
  ctx.SetTemplateTextureCell(9);  // any cell of a 1 x 1 grid that has no texture
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);
  auto v = ArrayVertices<T_T2F_C4UB_V3F_Vertex>();
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].TexCoord[0], 0.0f);
  EXPECT_EQ(v[2].TexCoord[0], 1.0f);
  EXPECT_TRUE(std::isfinite(v[0].TexCoord[1]));
  fake.Clear();
  ctx.Draw(true);
  ASSERT_EQ(fake.Count("glBindTexture"), 1u);  // only the restore
  EXPECT_EQ(fake.Last("glBindTexture")->args[1], 0.0);
}

TEST_F(DrawTest, BufferObjectStorageIsMappedFilledAndDrawn) {
  ctx.SetStorageMode(kzsBufferObject);
  ctx.EmitParticle(1, 2, 3);
  ctx.EmitParticle(4, 5, 6);
  fake.Clear();
  ctx.Process(0.0f);
  const GLCall* data = fake.Last("glBufferData");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->args[1], (8 + 10) * 24.0);  // 8 vertices requested plus the reserve of 10
  EXPECT_EQ(fake.Count("glMapBuffer"), 1u);
  EXPECT_EQ(fake.Count("glUnmapBuffer"), 1u);
  EXPECT_EQ(ctx.GetVertexBuffer().Count, 8u);
  EXPECT_EQ(ctx.GetVertexBuffer().Data, nullptr);  // unmapped after the walk
  T_T2F_C4UB_V3F_Vertex last;
  std::memcpy(&last, fake.buffer_data[ctx.GetVertexBuffer().ID].data() + 7 * 24, 24);
  EXPECT_EQ(last.Position[0], 5.0f);
  EXPECT_EQ(last.Position[1], 3.0f);
  fake.Clear();
  ctx.Draw(false);
  EXPECT_EQ(fake.Last("glDrawArrays")->args, (std::vector<double>{GL_QUADS, 0, 8}));
}

TEST_F(DrawTest, HooksThatAddBonesOrLayersNeverWritePastTheStorage) {
  // A step hook that turns on two layers mid-walk doubles what each later particle writes; the
  // writer stops at the room the storage was mapped with.
  struct Grow {
    static void OnStep(void*, PKZ_ParticleData, TKZ_Context* c) { c->Enable(kzcTwoLayers); }
  };
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Of(&Grow::OnStep));
  for (int i = 0; i < 60; ++i) ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.0f);  // 240 vertices requested, 290 mapped
  const TGLVertexArray& va = ctx.GetVertexArray();
  EXPECT_LE(va.Count * va.Stride, va.Capacity);
  EXPECT_EQ(va.Count, 288u);  // 36 particles of 8 vertices fit in 290; the other 24 write nothing
}
