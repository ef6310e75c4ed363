// Shape emitters on a real context through the recording GL fake, with the shared generator seeded.
#include "engine/emitters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/context.h"
#include "engine/frustum.h"
#include "framework/random.h"
#include "tests/support/fake_gl.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const TKZ_Matrixf3 kQuarterTurnZ = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};  // x -> y, y -> -x

struct Spark {
  TKZ_Vectorf3 pos, vel;
  float life;
};

float Len(const TKZ_Vectorf3& v) { return KZ_LengthVectorf3(v); }
float Rho(const TKZ_Vectorf3& p) { return std::hypot(p[0], p[2]); }

// A 64 x 64 byte sheet (4-pixel cells) with the given pixels lit.
std::vector<uint8_t> Sheet(std::initializer_list<std::pair<int, int>> lit) {
  std::vector<uint8_t> px(64 * 64, 0);
  for (const auto& p : lit) px[static_cast<size_t>(p.second * 64 + p.first)] = 255;
  return px;
}

class EmitterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitContextFrustumModule();
    FakeGL::SetIdentity(fake.modelview);
    RandSeed(1234);
  }
  void TearDown() override { DoneContextFrustumModule(); }

  // One emission pass of `count` particles into an empty context, not stepped.
  std::vector<Spark> EmitFresh(TKZU_CustomEmitter& e, int32_t count) {
    ctx.ClearParticles();
    e.SetContext(&ctx);
    e.ParticleCount = count;
    e.Emit();
    std::vector<Spark> out;
    TKZ_LinkedList& l = ctx.GetParticles();
    for (PKZ_ListNode n = l.Head(); n; n = l.NextOf(n)) out.push_back({n->Data.Position, n->Data.Velocity, n->Data.LifeTime});
    return out;
  }

  FakeGL fake;
  TKZ_Context ctx;
};

}  // namespace

TEST_F(EmitterTest, UpdatesKeepThePopulationUpRampInAndFade) {
  TKZU_SphereEmitter e;
  e.SetContext(&ctx);
  e.MinLifetime = e.MaxLifetime = 1.0f;
  e.Update(0.5f);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);  // ParticleCount 0 never emits
  e.ParticleCount = 100;
  std::vector<uint32_t> counts;
  for (int i = 0; i < 4; ++i, counts.push_back(ctx.GetParticleCount())) e.Update(0.6f);
  // All at once, none while they live, all again once they were released together.
  EXPECT_EQ(counts, (std::vector<uint32_t>{100, 100, 0, 100}));

  ctx.ClearParticles();
  e.FadeInTime = 2.0f;
  e.Age = 0.5f;
  EXPECT_EQ(e.ParticlesToEmit(), 25);
  e.SetEmitting(false);  // pauses and restarts the ramp
  EXPECT_EQ(e.Age, 0.0f);
  e.Update(kNaN);  // a broken frame time is not counted
  for (int i = 0; i < 6; ++i) e.Update(0.5f);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);
  EXPECT_FLOAT_EQ(e.Age, 2.0f);  // stops once Lifetime and FadeInTime have passed

  e.SetEmitting(true);
  e.FadeDistance = 10.0f;
  e.SetPosition(3.0f, 4.0f, 0.0f);  // 5 from the model-view translation
  e.Update(0.0f);
  EXPECT_FLOAT_EQ(e.DistanceFactor, 0.5f);
  EXPECT_EQ(ctx.GetParticleCount(), 50u);
  ctx.ClearParticles();
  e.SetPosition(6.0f, 8.0f, 0.0f);
  e.Update(0.0f);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);
  // Values that are not numbers, or far out of range, aim at nothing rather than at garbage.
  e.FadeDistance = kNaN;
  e.Update(0.0f);
  EXPECT_EQ(e.DistanceFactor, 0.0f);
  e.FadeInTime = -1e-30f;
  e.DistanceFactor = 1.0f;
  EXPECT_EQ(e.ParticlesToEmit(), 0);
}

TEST_F(EmitterTest, VelocityRulesAndTheOrderOfDraws) {
  TKZU_SphereEmitter e;
  e.MinRadius = 1.0f;
  e.MaxRadius = 3.0f;
  e.Speed = 3.0f;
  e.SetPosition(10.0f, 0.0f, 0.0f);
  for (const Spark& s : EmitFresh(e, 50)) {  // radial from the centre
    const TKZ_Vectorf3 local = KZ_SubVectorf3(s.pos, e.Position);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(s.vel[k], 3.0f * local[k] / Len(local), 1e-4);
  }
  // Random mode: radius, direction z y x, velocity z y x, lifetime.
  e.VelocityMode = 1;
  e.SetRandomScale(1.0f, 2.0f, 4.0f);
  e.MinLifetime = 1.0f;
  e.MaxLifetime = 3.0f;
  RandSeed(99);
  float r[8];
  for (float& v : r) v = static_cast<float>(Random());
  RandSeed(99);
  const std::vector<Spark> one = EmitFresh(e, 1);
  ASSERT_EQ(one.size(), 1u);
  const TKZ_Vectorf3 dir = KZ_NormalizeVectorf3({r[3] - 0.5f, r[2] - 0.5f, r[1] - 0.5f});
  const TKZ_Vectorf3 vel = KZ_NormalizeVectorf3({r[6] - 0.5f, (r[5] - 0.5f) * 2, (r[4] - 0.5f) * 4});
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(one[0].pos[k], e.Position[k] + dir[k] * (1.0f + 2.0f * r[0]), 1e-5);
    EXPECT_NEAR(one[0].vel[k], 3.0f * vel[k], 1e-5);
  }
  EXPECT_NEAR(one[0].life, 1.0f + 2.0f * r[7], 1e-6);
  // Any other mode follows the bias alone, turned by the velocity matrix.
  e.VelocityMode = 7;
  e.SetVelocityBias(0.0f, 2.0f, 0.0f);
  e.SetVelocityMatrix(kQuarterTurnZ);
  for (const Spark& s : EmitFresh(e, 5)) EXPECT_EQ(s.vel, KZ_MakeVectorf3(-3.0f, 0.0f, 0.0f));
}

TEST_F(EmitterTest, SpheresBoxesAndConesKeepTheirShape) {
  TKZU_SphereEmitter sphere;
  sphere.MinRadius = sphere.MaxRadius = 2.0f;
  sphere.SetPosition(1.0f, 2.0f, 3.0f);
  for (const Spark& s : EmitFresh(sphere, 200)) EXPECT_NEAR(Len(KZ_SubVectorf3(s.pos, sphere.Position)), 2.0f, 1e-5);

  TKZU_CubeEmitter cube;
  cube.BoxSize = {2.0f, 4.0f, 6.0f};
  cube.Orientation = kQuarterTurnZ;  // the 4-unit edge now lies along x
  TKZ_Vectorf3 most{};
  for (const Spark& s : EmitFresh(cube, 300))
    for (int k = 0; k < 3; ++k) most[k] = std::max(most[k], std::fabs(s.pos[k]));
  EXPECT_TRUE(most[0] <= 2.0f && most[0] > 1.5f && most[1] <= 1.0f && most[2] <= 3.0f && most[2] > 2.5f);

  TKZU_ConeEmitter cone;  // volume, turned like the box
  cone.BottomRadius = 2.0f;
  cone.TopRadius = 0.5f;
  cone.ConeHeight = 3.0f;
  cone.Orientation = kQuarterTurnZ;
  for (bool uniform : {true, false}) {
    cone.UniformDensity = uniform;
    for (const Spark& s : EmitFresh(cone, 300)) {
      const TKZ_Vectorf3 local = {s.pos[1], -s.pos[0], s.pos[2]};
      const float t = -local[1] / 3.0f;
      EXPECT_TRUE(t >= 0.0f && t <= 1.0f + 1e-6f && Rho(local) <= 1.5f * t + 0.5f + 1e-4f);
    }
  }
  // Without any radius a surface has no area: its particles go to the side, the (turned) axis.
  cone.Surface = true;
  cone.BottomRadius = cone.TopRadius = 0.0f;
  const std::vector<Spark> axis = EmitFresh(cone, 50);
  ASSERT_EQ(axis.size(), 50u);
  for (const Spark& s : axis) EXPECT_TRUE(s.pos[1] == 0.0f && s.pos[2] == 0.0f && s.pos[0] >= 0.0f && s.pos[0] <= 3.0f);
}

TEST_F(EmitterTest, ConeSurfaceSharesFollowTheAreasAndSpreadEvenly) {
  TKZU_ConeEmitter e;
  e.Surface = true;
  e.BottomRadius = 1.0f;
  e.ConeHeight = 1.0f;
  // Particles on the bottom disc, the top disc and the side.
  auto shares = [&](int32_t n) {
    std::vector<int> c(3, 0);
    for (const Spark& s : EmitFresh(e, n)) {
      const float t = -s.pos[1] / e.ConeHeight;
      const int where = std::fabs(s.pos[1]) < 1e-6f ? 1 : std::fabs(t - 1.0f) < 1e-6f ? 0 : 2;
      ++c[where];
      if (where == 2) {
        EXPECT_NEAR(Rho(s.pos), (e.BottomRadius - e.TopRadius) * t + e.TopRadius, 1e-4);
      }
    }
    return c;
  };
  // A full cone: bottom to side as 1 to sqrt(2); the remainder of 1 goes where Random(3) says.
  bool seen[3] = {};
  for (uint32_t seed = 1; seed < 40; ++seed) {
    RandSeed(seed);
    const int pick = Random(3);
    seen[pick] = true;
    std::vector<int> expected = {41, 0, 58};
    ++expected[pick];
    RandSeed(seed);
    EXPECT_EQ(shares(100), expected);
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2]);

  // Uniform density puts the mean height fraction of the side where its area is, whichever end is
  // wide.
  auto mean_fraction = [&]() {
    double sum = 0;
    const std::vector<Spark> sparks = EmitFresh(e, 4000);
    for (const Spark& s : sparks) sum -= s.pos[1];
    return sum / static_cast<double>(sparks.size());
  };
  e.BottomCap = e.TopCap = false;
  EXPECT_NEAR(mean_fraction(), 2.0 / 3.0, 0.03);
  e.BottomRadius = 0.0f;
  e.TopRadius = 1.0f;
  EXPECT_NEAR(mean_fraction(), 1.0 / 3.0, 0.03);

  // A truncated cone's side counts both radii: areas 4, 1 and 6 (times pi).
  e.BottomCap = e.TopCap = true;
  e.BottomRadius = 2.0f;
  e.ConeHeight = std::sqrt(3.0f);
  const std::vector<int> c = shares(100);
  EXPECT_TRUE(c[0] >= 36 && c[0] <= 37 && c[1] >= 9 && c[1] <= 10 && c[2] >= 54 && c[2] <= 55)
      << c[0] << " " << c[1] << " " << c[2];
  e.BottomCap = false;
  EXPECT_EQ(shares(100)[0], 0);
}

TEST_F(EmitterTest, FontMapMeasuresCellsFromTheSheet) {
  const std::vector<uint8_t> one = Sheet({{4, 16}});  // top-left pixel of the cell of 'A'
  TKZU_FontMap a(one.data(), 64, 64, 1, 0.5f, kzuSampleByte);
  EXPECT_TRUE(a.CellWidth == 4 && a.MaxWidth == 0.25f && a.MaxHeight == 0.25f);  // 1 / CellWidth
  ASSERT_EQ(a.CharacterMaps['A'].Points.size(), 1u);
  EXPECT_EQ(a.CharacterMaps['A'].Points[0], KZ_MakeVectorf2(0.0f, 0.0f));
  EXPECT_EQ(a.CharacterMaps['A'].Width, 1.0f);
  EXPECT_TRUE(a.CharacterMaps['@'].Points.empty() && a.CharacterMaps['@'].Width == 0.0f);

  // 'B' is a 3 x 4 block from its cell's top-left, 'g' one pixel: extents relative to the largest.
  std::vector<uint8_t> px = Sheet({{7 * 4, 6 * 4 + 1}});
  for (int y = 16; y < 20; ++y)
    for (int x = 8; x < 11; ++x) px[static_cast<size_t>(y * 64 + x)] = 200;
  TKZU_FontMap b(px.data(), 64, 64, 1, 0.5f, kzuSampleByte);
  EXPECT_TRUE(b.MaxWidth == 0.5f && b.MaxHeight == 0.75f);
  const TKZU_CharacterMap& big = b.CharacterMaps['B'];
  ASSERT_EQ(big.Points.size(), 12u);
  EXPECT_EQ(big.Points.front(), KZ_MakeVectorf2(0.0f, 1.0f));  // the first pixel row is the top
  EXPECT_EQ(big.Points.back(), KZ_MakeVectorf2(1.0f, 0.0f));
  EXPECT_FLOAT_EQ(b.CharacterMaps['g'].Width, 0.5f);
  EXPECT_FLOAT_EQ(b.CharacterMaps['g'].Height, 1.0f / 3.0f);
  EXPECT_EQ(std::vector<int>({b.CharacterMaps['g'].VerticalClass, b.CharacterMaps['-'].VerticalClass,
                              b.CharacterMaps['"'].VerticalClass, b.CharacterMaps[0].VerticalClass}),
            std::vector<int>({3, 2, 1, 0}));

  // Floats read every second sample; odd sizes stay within the 256 characters.
  std::vector<float> f(17 * 33 * 2, 1.0f);
  for (size_t i = 0; i < f.size(); i += 2) f[i] = (i == (32 * 17 + 16) * 2) ? 0.7f : 0.0f;
  EXPECT_EQ(TKZU_FontMap(f.data(), 17, 33, 2, 0.5f, kzuSampleSingle).CharacterMaps[10 * 16 + 8].Points.size(), 1u);
  // Missing, empty, unknown and dark sheets give an empty map without dividing by zero.
  for (const TKZU_FontMap& m : {TKZU_FontMap(nullptr, 64, 64, 1, 0.5f, 0), TKZU_FontMap(one.data(), 0, 64, 1, 0.5f, 0),
                                TKZU_FontMap(one.data(), 64, 64, 1, 0.5f, 9), TKZU_FontMap(one.data(), 64, 64, 1, 2.0f, 0)}) {
    EXPECT_TRUE(m.MaxWidth == 0.0f && m.CharacterMaps['A'].Points.empty() && m.CharacterMaps['A'].Width == 0.0f);
  }
}

TEST_F(EmitterTest, FontEmitterWritesTheText) {
  TKZU_FontEmitter e;
  e.SetText("AB");  // no map yet: ignored
  EXPECT_TRUE(e.Text.empty());
  const std::vector<uint8_t> px = Sheet({{4, 16}, {8, 16}});  // 'A' and 'B', one pixel each
  TKZU_FontMap map(px.data(), 64, 64, 1, 0.5f, kzuSampleByte);
  e.FontMap = &map;
  for (const char* text : {"", " \r\n", "xyz"}) {  // no character with points
    e.SetText(text);
    EXPECT_TRUE(EmitFresh(e, 100).empty() && std::isfinite(e.TextWidth));
  }
  // Glyphs one unit wide: 'B' starts a glyph and a jitter cell after 'A'; the base line lies one
  // line below the origin.
  e.GlyphSize = 4.0f;
  e.SetText("AB");
  EXPECT_EQ(e.TotalPoints, 2);
  e.SetPosition(10.0f, 0.0f, 0.0f);
  int on_b = 0;
  for (const Spark& s : EmitFresh(e, 100)) {
    const bool b = s.pos[0] > 11.0f;
    on_b += b;
    EXPECT_TRUE(std::fabs(s.pos[0] - (b ? 12.0f : 10.0f)) <= 0.5f && std::fabs(s.pos[1] + 1.0f) <= 0.5f);
  }
  EXPECT_TRUE(on_b == 50 && e.TextWidth == 4.0f && e.TextHeight == -1.0f);
  e.SetText("A\nB");
  EmitFresh(e, 10);
  EXPECT_EQ(e.TextHeight, -2.0f);
  // The point includes Position, and the radial velocity is measured to that very point (Position
  // is not added a second time): from the origin, 'A' at about (10, -1, 0) flies along x.
  e.SetText("A");
  e.Speed = 1.0f;
  const std::vector<Spark> sparks = EmitFresh(e, 20);
  ASSERT_EQ(sparks.size(), 20u);
  for (const Spark& s : sparks) {
    EXPECT_EQ(s.vel, KZ_ScaleVectorf3(KZ_TransformVectorf3(KZ_NormalizeVectorf3(s.pos), e.VelocityMatrix), 1.0f));
    EXPECT_NEAR(s.vel[0], 0.99f, 0.015f);
    EXPECT_NEAR(s.vel[1], -0.1f, 0.06f);
  }
  // One particle by the layout's sum, in its order: point x w + pen x + jitter + Position + centring.
  RandSeed(5);
  Random(1);  // the point of 'A'
  const float jx = 4.0f * (static_cast<float>(Random()) - 0.5f) / 4.0f;
  const float jy = 4.0f * (static_cast<float>(Random()) - 0.5f) / 4.0f;
  RandSeed(5);
  const std::vector<Spark> one = EmitFresh(e, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].pos, KZ_TransformVectorf3({0.0f * 1.0f + 0.0f + jx + 10.0f + 0.0f, 0.0f * 1.0f + -1.0f + jy + 0.0f, 0.0f},
                                             e.Orientation));
  // Turned text: the layout, Position included, turns about the origin.
  e.Orientation = kQuarterTurnZ;
  for (const Spark& s : EmitFresh(e, 20)) EXPECT_LT(Len(KZ_SubVectorf3(s.pos, {1.0f, 10.0f, 0.0f})), 0.75f);
}

TEST_F(EmitterTest, FacesFromPrimitivesAreFilledByArea) {
  const TKZ_Vectorf3 v[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  TKZU_FaceEmitter e;
  auto feed = [&](int32_t mode, int count) {
    e.ResetDefaults();
    e.BeginFaces(mode);
    for (int i = 0; i < count; ++i) e.AddVertex(v[i]);
    e.EndFaces();
    return e.Faces.size();
  };
  EXPECT_TRUE(feed(kzuFaceTriangles, 7) == 2u && feed(kzuFaceStrip, 5) == 3u && feed(kzuFaceQuads, 8) == 4u);
  EXPECT_EQ(feed(kzuFaceQuads, 4), 2u);
  EXPECT_EQ(e.VertexCount, 0);
  EXPECT_EQ(e.Faces[0].Vertex, v[3]);  // (v3, v0, v2), then (v0, v1, v2)
  EXPECT_EQ(e.Faces[1].Edge2, KZ_SubVectorf3(v[2], v[1]));
  EXPECT_EQ(feed(kzuFaceFan, 4), 2u);  // M P1 P2 P3: (P2, P1, M), (P3, P2, M)
  EXPECT_TRUE(e.Faces[0].Vertex == v[2] && e.Faces[0].Edge1 == KZ_SubVectorf3(v[1], v[2]));
  EXPECT_TRUE(e.Faces[1].Vertex == v[3] && e.Faces[1].Edge2 == KZ_SubVectorf3(v[0], v[2]));
  EXPECT_TRUE(feed(9, 6) == 0u && e.VertexCount == 0);
  // Counts set at either end wrap round without overflow, keeping their remainders by 2, 3 and 4.
  for (int32_t mode : {kzuFaceStrip, kzuFaceQuads, kzuFaceFan}) {
    e.ResetDefaults();
    e.BeginFaces(mode);
    e.VertexCount = std::numeric_limits<int32_t>::min();
    e.AddVertex(v[1]);
    EXPECT_TRUE(e.Faces.empty() && e.VertexCount == std::numeric_limits<int32_t>::min() + 1) << mode;
    e.VertexCount = std::numeric_limits<int32_t>::max();
    e.AddVertex(v[2]);  // 2^31 - 1: a strip's or fan's face, a quad's last vertex
    EXPECT_EQ(e.Faces.size(), mode == kzuFaceQuads ? 2u : 1u) << mode;
    // Past a quad the count starts again; else it keeps 2^31's remainders (2^31 mod 12 is 8).
    EXPECT_TRUE(mode == kzuFaceQuads ? e.VertexCount == 0 : e.VertexCount > 1 && e.VertexCount % 12 == 8) << mode;
  }

  e.ResetDefaults();
  e.AddFace({0, 0, 0}, {3, 0, 0}, {3, 4, 0});
  EXPECT_FLOAT_EQ(e.Faces[0].Area, 6.0f);
  EXPECT_TRUE(e.Faces[0].Frame.Col2 == KZ_MakeVectorf3(0, 0, 1) && e.Faces[0].Frame.Col1 == KZ_MakeVectorf3(0, -1, 0));
  e.AddFace({0.1f, 0.2f, 0.3f}, {0.4f, 0.8f, 1.2f}, {1.3f, 2.6f, 3.9f});  // parallel edges
  EXPECT_NEAR(e.Faces[1].Area, 0.0f, 1e-6);

  TKZU_FaceEmitter f;
  f.AddFace({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
  EXPECT_TRUE(EmitFresh(f, 100).empty());  // no area
  f.ResetDefaults();
  f.AddFace({0, 0, 0}, {1, 0, 0}, {1, 1, 0});  // area 0.5
  f.AddFace({0, 0, 5}, {3, 0, 5}, {3, 1, 5});  // area 1.5
  EXPECT_TRUE(EmitFresh(f, 0).empty());
  int on_first = 0;
  for (const Spark& s : EmitFresh(f, 100)) {
    const float w = s.pos[2] == 0.0f ? 1.0f : 3.0f;  // inside: 0 <= y <= x / w <= 1
    on_first += s.pos[2] == 0.0f;
    EXPECT_TRUE(s.pos[0] <= w + 1e-5f && s.pos[1] >= 0.0f && s.pos[1] <= s.pos[0] / w + 1e-5f);
  }
  EXPECT_EQ(on_first, 26);  // 25 by area plus one for the full ramp
  EXPECT_EQ(ctx.GetParticleCount(), 26u + 76u);
}

TEST_F(EmitterTest, EmitterRunsAsAnEffectAndWindsDown) {
  InitEffectManagerModule();
  TKZU_EffectManager manager;
  auto* e = new TKZU_SphereEmitter();
  e->SetContext(&ctx);
  ctx.Disable(kzcFrustumCulling);
  e->ParticleCount = 10;
  e->MinRadius = e->MaxRadius = 0.5f;
  e->MinLifetime = e->MaxLifetime = 0.25f;
  e->Lifetime = 0.3f;
  e->AddBlendPass(GL_SRC_ALPHA, GL_ONE);
  e->AddBlendPass(GL_ONE, GL_ONE);
  ctx.SetStorageMode(kzsNone);
  manager.SetSceneVector(1.0f, 2.0f, 3.0f);
  manager.AddEffect(e, true);
  TKZ_Vectorf3 wind{}, lo{}, hi{};
  ctx.GetParameter(kzpWind, &wind);
  EXPECT_TRUE(ctx.GetStorageMode() == kzsVertexArray && wind == KZ_MakeVectorf3(1.0f, 2.0f, 3.0f));

  manager.Update(0.1f);
  EXPECT_EQ(ctx.GetParticleCount(), 10u);
  ctx.GetParameter(kzpBoundsMin, &lo);
  ctx.GetParameter(kzpBoundsMax, &hi);
  EXPECT_TRUE(e->CullBoxMin == lo && e->CullBoxMax == hi && lo[0] < hi[0]);
  fake.Clear();
  manager.Render(true);
  std::vector<std::vector<double>> blends;
  for (const GLCall* c : fake.All("glBlendFunc")) blends.push_back(c->args);
  EXPECT_EQ(blends, (std::vector<std::vector<double>>{{GL_SRC_ALPHA, GL_ONE}, {GL_ONE, GL_ONE}}));
  EXPECT_EQ(fake.Count("glDrawArrays"), 2u);

  // Its lifetime runs out, it stops emitting, and the manager frees it once its particles are gone.
  for (int updates = 0; manager.Count > 0 && updates < 50; ++updates) {
    manager.Update(0.1f);
    EXPECT_LE(ctx.GetParticleCount(), 10u);
  }
  EXPECT_EQ(manager.Count + ctx.GetParticleCount(), 0u);

  // Without a context it draws nothing and only reports its end.
  auto* bare = new TKZU_CubeEmitter();
  bare->AddBlendPass(GL_ONE, GL_ONE);
  manager.AddEffect(bare, true);
  fake.Clear();
  manager.Render(true);
  EXPECT_EQ(fake.Count("glBlendFunc"), 0u);
  bare->Finish();
  manager.Update(0.1f);
  manager.Update(0.1f);
  EXPECT_EQ(manager.Count, 0u);
  DoneEffectManagerModule();
}
