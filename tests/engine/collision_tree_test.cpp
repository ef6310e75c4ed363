// The collision tree: its index, the bounce it answers, the face builder, drawing, and its life
// beside the particle contexts that list it.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "engine/collision.h"
#include "engine/collision_primitives.h"
#include "engine/context.h"
#include "engine/frustum.h"
#include "tests/support/fake_gl.h"
#include "tests/engine/expect_vector.h"

namespace {

TKZ_Matrixf4 Translate(float x, float y, float z) {
  TKZ_Matrixf4 m;
  KZ_IdentityMatrixf4(m);
  m.Col3 = {x, y, z, 1};
  return m;
}

// A particle with one cache entry, a standard material (damping 1) and a step from `from` to `to`.
struct Particle {
  TKZ_Material material{"particle"};
  TKZ_ParticleData p;
  Particle(TKZ_Vectorf3 from, TKZ_Vectorf3 to, TKZ_Vectorf3 velocity) {
    material.Damping = 1.0f;
    p.Material = &material;
    p.CollisionInfo.resize(1);
    Step(from, to, velocity);
  }
  void Step(TKZ_Vectorf3 from, TKZ_Vectorf3 to, TKZ_Vectorf3 velocity) {
    p.OldPosition = from;
    p.Position = to;
    p.Velocity = velocity;
  }
};

// The three vertices a face was made from, in the order given.
std::vector<TKZ_Vectorf3> VerticesOf(const TKZ_CollisionPrimitive* primitive) {
  const auto* f = dynamic_cast<const TKZ_Col_Face*>(primitive);
  if (!f) return {};
  return {KZ_AddVectorf3(f->Origin, f->Edge1), f->Origin, KZ_AddVectorf3(f->Origin, f->Edge2)};
}

}  // namespace

TEST(CollisionTree, ASphereBouncesAParticleAndOnlyNearParticlesAreTested) {
  TKZ_CollisionTree tree;
  EXPECT_EQ(tree.CurrentMaterial->Name, "kz_collision_mat_default");
  EXPECT_FLOAT_EQ(tree.Tolerance, 0.3f);
  tree.AddSphere(1);
  EXPECT_VEC(tree.Primitives[0]->BoxMin, -1.3f, -1.3f, -1.3f);
  EXPECT_EQ(tree.Primitives[0]->Material, tree.DefaultMaterial.get());

  Particle a({0, 1.2f, 0}, {0, 0.5f, 0}, {0, -10, 0});
  EXPECT_FALSE(tree.TestParticle(&a.p, 0, nullptr));  // not indexed yet
  tree.Rebuild();
  ASSERT_TRUE(tree.TestParticle(&a.p, 0, nullptr));
  EXPECT_VEC(a.p.Velocity, 0, 10, 0);  // default material 0 x particle 1: full speed
  EXPECT_VEC(a.p.Position, 0, 1, 0);
  EXPECT_VEC(a.p.OldPosition, 0, 1.2f, 0);
  EXPECT_EQ(a.p.CollisionInfo[0].Candidates, std::vector<int32_t>{0});

  Particle distant({0, 5, 0}, {0, 0.5f, 0}, {0, -10, 0});
  EXPECT_FALSE(tree.TestParticle(&distant.p, 0, nullptr));
  EXPECT_TRUE(distant.p.CollisionInfo[0].Candidates.empty());
  EXPECT_VEC(distant.p.Velocity, 0, -10, 0);

  Particle inside({1.25f, 0, 0}, {-5, 0, 0}, {-1, 0, 0});
  EXPECT_TRUE(tree.TestParticle(&inside.p, 0, nullptr));
  Particle outside({1.35f, 0, 0}, {-5, 0, 0}, {-1, 0, 0});
  EXPECT_FALSE(tree.TestParticle(&outside.p, 0, nullptr));

  // An entry the particle does not have is not touched.
  EXPECT_FALSE(tree.TestParticle(&a.p, 1, nullptr));
  EXPECT_FALSE(tree.TestParticle(&a.p, -1, nullptr));
}

TEST(CollisionTree, MaterialsScaleTheBounce) {
  struct Case {
    float primitive, particle, speed;
  };
  for (const Case c : {Case{0.5f, 0.5f, 7.5f}, Case{1, 1, 0}, Case{0, 0.9f, 10}, Case{0.25f, 1, 7.5f}, Case{2, 1, 0}}) {
    TKZ_CollisionTree tree;
    TKZ_Material m("rubber");
    m.Damping = c.primitive;
    tree.SetMaterial(&m);
    tree.AddSphere(1);
    tree.SetMaterial(nullptr);
    EXPECT_EQ(tree.CurrentMaterial, tree.DefaultMaterial.get());
    tree.Rebuild();
    Particle p({0, 1.2f, 0}, {0, 0.5f, 0}, {0, -10, 0});
    p.material.Damping = c.particle;
    ASSERT_TRUE(tree.TestParticle(&p.p, 0, nullptr));
    EXPECT_VEC(p.p.Velocity, 0, c.speed, 0);
  }
}

TEST(CollisionTree, IndexFollowsRebuildAndCachedLeavesAreReused) {
  TKZ_CollisionTree tree;
  tree.Rebuild();
  Particle p({0, 1.2f, 0}, {0, 0.5f, 0}, {0, -10, 0});
  EXPECT_FALSE(tree.TestParticle(&p.p, 0, nullptr));  // no primitives

  tree.AddSphere(1);
  EXPECT_FALSE(tree.TestParticle(&p.p, 0, nullptr));  // not until the next Rebuild
  tree.Rebuild();
  EXPECT_TRUE(tree.TestParticle(&p.p, 0, nullptr));
  const TKZ_CollisionInformation first = p.p.CollisionInfo[0];
  ASSERT_NE(first.NodeX, nullptr);

  // The same cells next step: the same leaves, so the candidate list is not merged again.
  p.Step({0, 1.1f, 0}, {0, 0.4f, 0}, {0, -10, 0});
  p.p.CollisionInfo[0].Candidates.clear();
  EXPECT_FALSE(tree.TestParticle(&p.p, 0, nullptr));
  EXPECT_TRUE(p.p.CollisionInfo[0].Candidates.empty());
  EXPECT_EQ(p.p.CollisionInfo[0].NodeX, first.NodeX);
  // A changed leaf (here: none cached along y) merges the list anew.
  p.Step({0, 1.25f, 0}, {0, 0.4f, 0}, {0, -10, 0});
  p.p.CollisionInfo[0].NodeY = nullptr;
  EXPECT_TRUE(tree.TestParticle(&p.p, 0, nullptr));
  EXPECT_EQ(p.p.CollisionInfo[0].Candidates, std::vector<int32_t>{0});

  // A second sphere far off along x: leaving the first one's cells drops it from the candidates.
  tree.SetTransform(Translate(10, 0, 0));
  tree.AddSphere(1);
  tree.Rebuild();
  p.p.CollisionInfo[0].Clear();
  p.Step({10, 1.2f, 0}, {10, 0.5f, 0}, {0, -10, 0});
  ASSERT_TRUE(tree.TestParticle(&p.p, 0, nullptr));
  EXPECT_EQ(p.p.CollisionInfo[0].Candidates, std::vector<int32_t>{1});
  EXPECT_VEC(p.p.Position, 10, 1, 0);
}

// A freed index's memory may come back as this one's, so a cached leaf may lie at the address of a
// leaf of this index and still belong to another: the entry below is what such a cache looks like.
TEST(CollisionTree, ACacheEntryFromAnotherIndexIsNotTrustedEvenAtThisIndexsAddresses) {
  TKZ_CollisionTree tree;
  tree.AddSphere(1);
  tree.Rebuild();
  Particle p({0, 1.2f, 0}, {0, 0.5f, 0}, {0, -10, 0});
  TKZ_CollisionInformation& e = p.p.CollisionInfo[0];
  e.NodeX = tree.XTree->Query(0, nullptr);
  e.NodeY = tree.YTree->Query(1.2f, nullptr);
  e.NodeZ = tree.ZTree->Query(0, nullptr);
  ASSERT_TRUE(e.NodeX && e.NodeY && e.NodeZ);
  EXPECT_TRUE(tree.TestParticle(&p.p, 0, nullptr));  // its (empty) candidates are not used
  EXPECT_EQ(p.p.CollisionInfo[0].Candidates, std::vector<int32_t>{0});
  EXPECT_VEC(p.p.Velocity, 0, 10, 0);
}

TEST(CollisionTree, CandidatesAreTheCommonIndicesOfTheThreeLeaves) {
  TKZ_CollisionTree tree;
  // Three unit boxes: 0 and 2 overlap at x = 1 but not in z, 1 overlaps 0 in every axis.
  tree.AddCube(2, 2, 2);
  tree.SetTransform(Translate(0.5f, 0.5f, 0.5f));
  tree.AddCube(2, 2, 2);
  tree.SetTransform(Translate(1.5f, 0, 10));
  tree.AddCube(2, 2, 2);
  tree.Rebuild();
  Particle p({0.9f, 0.1f, 0.1f}, {0.9f, 0.1f, 0.1f}, {0, 0, 0});
  EXPECT_FALSE(tree.TestParticle(&p.p, 0, nullptr));
  EXPECT_EQ(p.p.CollisionInfo[0].Candidates, (std::vector<int32_t>{0, 1}));
  p.Step({1.5f, 0, 10}, {1.5f, 0, 10}, {0, 0, 0});
  tree.TestParticle(&p.p, 0, nullptr);
  EXPECT_EQ(p.p.CollisionInfo[0].Candidates, (std::vector<int32_t>{2}));
}

TEST(CollisionTree, FirstCandidateInIndexOrderAnswersUnlessAllAreTested) {
  for (bool all : {false, true}) {
    TKZ_CollisionTree tree;
    tree.TestAllCandidates = all;
    // Index 0 is the plane y = 0, index 1 the plane y = 0.2 that the path meets first.
    for (float y : {0.0f, 0.2f}) {
      tree.AddFace(-5, y, -5);
      tree.AddFace(5, y, -5);
      tree.AddFace(0, y, 5);
    }
    tree.Rebuild();
    Particle p({0, 0.25f, 0}, {0, -0.5f, 0}, {0, -1, 0});
    int hits = 0;
    p.p.OnCollided = TKZ_CollidedEvent::Of(
        [](void* object, void*, TKZ_CollisionPrimitive*, TKZ_Context*) { ++*static_cast<int*>(object); }, &hits);
    ASSERT_TRUE(tree.TestParticle(&p.p, 0, nullptr));
    if (!all) {
      EXPECT_EQ(hits, 1);
      EXPECT_VEC(p.p.Position, 0, 0, 0);
      EXPECT_VEC(p.p.Velocity, 0, 1, 0);
    } else {
      EXPECT_EQ(hits, 2);  // mirrored twice, left at the last contact
      EXPECT_VEC(p.p.Position, 0, 0.2f, 0);
      EXPECT_VEC(p.p.Velocity, 0, -1, 0);
    }
  }
}

namespace {
struct Collided {
  int calls = 0;
  TKZ_Vectorf3 normal{}, contact{};
  TKZ_Context* context = nullptr;
  void* particle = nullptr;
  void On(void* p, TKZ_CollisionPrimitive* primitive, TKZ_Context* c) {
    ++calls;
    particle = p;
    normal = primitive->Normal;
    contact = primitive->Contact;
    context = c;
  }
};
}  // namespace

TEST(CollisionTree, PlacementMovesTheTreeAndTheHookSeesWorldValues) {
  TKZ_CollisionTree tree;
  tree.AddCube(2, 2, 2);
  tree.SetPlacement(Translate(0, 5, 0));
  tree.Rebuild();  // resets the placement
  EXPECT_VEC(tree.PlacementTranslation, 0, 0, 0);
  // A quarter turn about z and up by 5: tree +x faces world +y.
  TKZ_Matrixf4 m = Translate(0, 5, 0);
  m.Col0 = {0, 1, 0, 0};
  m.Col1 = {-1, 0, 0, 0};
  tree.SetPlacement(m);
  Collided seen;
  Particle p({0, 6.2f, 0}, {0, 5.5f, 0}, {0, -3, 0});
  p.p.OnCollided = TKZ_CollidedEvent::Bind<&Collided::On>(&seen);
  TKZ_Context* const marker = reinterpret_cast<TKZ_Context*>(&seen);
  ASSERT_TRUE(tree.TestParticle(&p.p, 0, marker));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.particle, &p.p);
  EXPECT_EQ(seen.context, marker);
  EXPECT_VEC(seen.normal, 0, 1, 0);
  EXPECT_VEC(seen.contact, 0, 6, 0);
  EXPECT_VEC(p.p.Position, 0, 6, 0);
  EXPECT_VEC(p.p.Velocity, 0, 3, 0);
  EXPECT_VEC(tree.Primitives[0]->Normal, 1, 0, 0);  // back in tree space after the hook
}

TEST(CollisionTree, FacesFromListsStripsQuadsAndFans) {
  const TKZ_Vectorf3 p{0, 0, 0}, q{1, 0, 0}, r{1, 0, 1}, s{0, 0, 1}, t{0, 0, 2};
  using Face = std::vector<TKZ_Vectorf3>;
  auto faces = [](const TKZ_CollisionTree& tree) {
    std::vector<Face> out;
    for (const auto& prim : tree.Primitives) out.push_back(VerticesOf(prim.get()));
    return out;
  };
  {
    TKZ_CollisionTree tree;  // a new tree takes a triangle list
    for (const auto& v : {p, q, r, s, t}) tree.AddFace(v);
    EXPECT_EQ(faces(tree), (std::vector<Face>{{p, q, r}}));
    tree.AddFace(p);
    EXPECT_EQ(faces(tree).back(), (Face{s, t, p}));
  }
  {
    TKZ_CollisionTree tree;
    tree.BeginFaces(2);
    for (const auto& v : {p, q, r, s}) tree.AddFace(v);
    EXPECT_EQ(faces(tree), (std::vector<Face>{{s, p, r}, {p, q, r}}));
    for (const auto& v : {t, s, r}) tree.AddFace(v);  // a fifth vertex starts the next quad
    EXPECT_EQ(tree.Primitives.size(), 2u);
    tree.AddFace(q);
    EXPECT_EQ(faces(tree)[2], (Face{q, t, r}));
  }
  {
    TKZ_CollisionTree tree;
    tree.BeginFaces(1);
    for (const auto& v : {p, q, r, s, t}) tree.AddFace(v);
    EXPECT_EQ(faces(tree), (std::vector<Face>{{r, q, p}, {s, r, q}, {t, s, r}}));
  }
  {
    TKZ_CollisionTree tree;
    tree.BeginFaces(3);
    for (const auto& v : {p, q, r, s}) tree.AddFace(v);
    EXPECT_EQ(faces(tree), (std::vector<Face>{{r, q, p}, {s, r, p}}));
    tree.EndFaces();
    tree.AddFace(t);
    tree.AddFace(1, 2, 3);
    EXPECT_EQ(tree.Primitives.size(), 2u);
    tree.BeginFaces(-1);
    for (int i = 0; i < 4; ++i) tree.AddFace(t);
    EXPECT_EQ(tree.Primitives.size(), 2u);
    EXPECT_EQ(tree.FaceVertexCount, 0);
  }
  // A count set below 0 from outside wraps round like the face emitter's: -1 is the third vertex
  // of a triangle, -5 the second; no vertex lands outside the three slots.
  for (int32_t mode : {0, 1, 2, 3}) {
    TKZ_CollisionTree tree;
    tree.BeginFaces(mode);
    tree.FaceVertices[0] = p;
    tree.FaceVertices[1] = q;
    tree.FaceVertexCount = -1;
    tree.AddFace(r);
    EXPECT_EQ(tree.FaceVertexCount, 0) << mode;
    EXPECT_TRUE(tree.Contexts.empty() && tree.Contexts.capacity() == 0) << mode;
    // A fan's rim slots alternate: (-1 - 1) mod 2 + 1 is slot 1.
    EXPECT_EQ(tree.FaceVertices[mode == 3 ? 1 : 2], r) << mode;
    EXPECT_EQ(faces(tree), (mode == 0 ? std::vector<Face>{{p, q, r}} : std::vector<Face>{})) << mode;
    tree.FaceVertexCount = -5;
    tree.AddFace(s);
    EXPECT_EQ(tree.FaceVertices[1], s) << mode;
    EXPECT_EQ(tree.FaceVertexCount, -4) << mode;
    // The lowest count too, without overflow: -2^31 is 1 mod 3, and a fan's -2^31 - 1 is 1 mod 2.
    tree.FaceVertexCount = std::numeric_limits<int32_t>::min();
    tree.AddFace(t);
    EXPECT_EQ(tree.FaceVertices[mode == 3 ? 2 : 1], t) << mode;
    EXPECT_EQ(tree.FaceVertexCount, std::numeric_limits<int32_t>::min() + 1) << mode;
  }
}

TEST(CollisionTree, DrawDebugOutlinesEveryEnlargedBoxInWorldSpace) {
  FakeGL fake;
  TKZ_CollisionTree tree;
  tree.AddSphere(1);
  tree.SetTransform(Translate(5, 0, 0));
  tree.AddCube(2, 4, 2);
  tree.Rebuild();
  tree.SetPlacement(Translate(0, 10, 0));
  tree.DrawDebug();
  ASSERT_EQ(fake.Count("glBegin"), 1u);
  EXPECT_EQ(fake.Last("glBegin")->args[0], GL_LINES);
  EXPECT_EQ(fake.Count("glEnd"), 1u);
  EXPECT_EQ(fake.Count("glVertex3fv"), 24u);
  EXPECT_EQ(fake.Count("glVertex3f"), 48u);
  // Each box's segments start at its lower corner six times, then at its upper corner six times.
  const auto corners = fake.All("glVertex3fv");
  EXPECT_NEAR(corners[0]->args[0], -1.3, 1e-5);
  EXPECT_NEAR(corners[0]->args[1], 10 - 1.3, 1e-5);
  EXPECT_NEAR(corners[6]->args[1], 10 + 1.3, 1e-5);
  EXPECT_NEAR(corners[12]->args[0], 5 - 1.3, 1e-5);
  // The first box: its twelve edges (segments along one axis) and six face diagonals.
  int axis_edges = 0;
  std::vector<const GLCall*> verts;
  for (const GLCall& c : fake.calls)
    if (c.name == "glVertex3f" || c.name == "glVertex3fv") verts.push_back(&c);
  for (size_t i = 0; i < 36; i += 2) {
    int differing = 0;
    for (int k = 0; k < 3; ++k) differing += verts[i]->args[k] != verts[i + 1]->args[k];
    axis_edges += differing == 1;
  }
  EXPECT_EQ(axis_edges, 12);
}

// ---- With particle contexts ----

class TreeContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitContextFrustumModule();
    ctx.SetTemplateLifetime(10);
    ctx.SetTemplateSize(0.1f, 0.1f);
  }
  void TearDown() override { DoneContextFrustumModule(); }
  TKZ_ParticleData& Head() { return ctx.GetParticles().Head()->Data; }

  FakeGL fake;
  TKZ_Context ctx;
};

TEST_F(TreeContextTest, ProcessBouncesParticlesOffATreeAndMovesThemOn) {
  TKZ_CollisionTree tree;
  TKZ_Material rubber("rubber");
  rubber.Damping = 0.5f;
  tree.SetMaterial(&rubber);
  tree.AddSphere(1);
  tree.Rebuild();
  ctx.AddCollisionTree(&tree);
  EXPECT_EQ(tree.Contexts, std::vector<TKZ_Context*>{&ctx});
  ctx.Enable(kzcCollisions);
  Collided seen;
  ctx.SetOnCollided(TKZ_CollidedEvent::Bind<&Collided::On>(&seen));
  ctx.SetTemplateVelocity(0, -10, 0);
  ctx.EmitParticle(0, 1.2f, 0);
  ctx.EmitParticle(3, 1.2f, 0);  // beside the sphere: falls past it
  ctx.Process(0.07f);
  const TKZ_ParticleData& p = Head();
  // The standard material (1) against rubber (0.5): half the speed back up, then on from the contact.
  EXPECT_VEC(p.Velocity, 0, 5, 0);
  EXPECT_VEC(p.Position, 0, 1 + 5 * 0.07f, 0);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.context, &ctx);
  const TKZ_ParticleData& q = ctx.GetParticles().NextOf(ctx.GetParticles().Head())->Data;
  EXPECT_VEC(q.Velocity, 0, -10, 0);
  EXPECT_VEC(q.Position, 3, 0.5f, 0);
  ASSERT_EQ(q.CollisionInfo.size(), 1u);
  EXPECT_EQ(q.CollisionInfo[0].NodeX, nullptr);  // outside the tree along x

  ctx.Process(0.07f);  // rising away: no second hit
  EXPECT_EQ(seen.calls, 1);
  EXPECT_NEAR(Head().Position[1], 1.7f, 1e-5);
}

TEST_F(TreeContextTest, RebuildWhileListedDropsCachedLeaves) {
  TKZ_CollisionTree tree;
  tree.AddCube(10, 0.1f, 10);
  tree.Rebuild();
  ctx.AddCollisionTree(&tree);
  ctx.Enable(kzcCollisions);
  ctx.SetTemplateVelocity(0, 1, 0);
  ctx.EmitParticle(0, 2, 0);
  ctx.Process(0.01f);
  ASSERT_EQ(Head().CollisionInfo.size(), 1u);
  EXPECT_NE(Head().CollisionInfo[0].NodeX, nullptr);

  // A box above the particle, indexed while the context holds cached leaves of the old index.
  tree.SetTransform(Translate(0, 2.1f, 0));
  tree.AddCube(10, 0.1f, 10);
  tree.Rebuild();
  EXPECT_EQ(Head().CollisionInfo[0].NodeX, nullptr);
  EXPECT_TRUE(Head().CollisionInfo[0].Candidates.empty());
  ctx.SetTemplateVelocity(0, 0, 0);
  Head().Velocity = {0, 10, 0};
  ctx.Process(0.01f);
  EXPECT_VEC(Head().Velocity, 0, -10, 0);
}

// Marks the entries it is given as its own and records what they held.
struct MarkingTree : CollisionTreeInterface {
  std::vector<TKZ_CollisionInformation> seen;
  void AttachContext(TKZ_Context*) override {}
  void DetachContext(TKZ_Context*) override {}
  bool TestParticle(PKZ_ParticleData p, int32_t index, TKZ_Context*) override {
    TKZ_CollisionInformation& e = p->CollisionInfo[static_cast<size_t>(index)];
    seen.push_back(e);
    e.NodeX = e.NodeY = e.NodeZ = reinterpret_cast<PSegmentTreeElement>(this);
    e.Candidates = {7};
    return false;
  }
};

TEST_F(TreeContextTest, ATreeSwappedInFramesWithoutCollisionTestsFindsEmptyEntries) {
  ctx.EmitParticle(0, 0, 0);
  // Frames in which no particle is tested: collisions off, another physics mode, no time passing.
  for (int quiet = 0; quiet < 3; ++quiet) {
    MarkingTree a, b;
    ctx.AddCollisionTree(&a);
    ctx.Enable(kzcCollisions);
    ctx.Process(0.1f);
    ASSERT_EQ(a.seen.size(), 1u);
    ctx.RemoveCollisionTree(&a);  // freed in the program, its leaves with it
    ctx.AddCollisionTree(&b);
    float dt = 0.1f;
    if (quiet == 0) ctx.Disable(kzcCollisions);
    if (quiet == 1) ctx.SetPhysicsMode(kzpmSimple);
    if (quiet == 2) dt = 0.0f;
    ctx.Process(dt);
    ctx.Process(dt);
    EXPECT_TRUE(b.seen.empty()) << quiet;
    ctx.Enable(kzcCollisions);
    ctx.SetPhysicsMode(kzpmDrag);
    ctx.Process(0.1f);
    ASSERT_EQ(b.seen.size(), 1u) << quiet;
    EXPECT_TRUE(b.seen[0].NodeX == nullptr && b.seen[0].NodeY == nullptr && b.seen[0].NodeZ == nullptr) << quiet;
    EXPECT_TRUE(b.seen[0].Candidates.empty()) << quiet;
    ctx.RemoveAllCollisionTrees();
  }
}

TEST_F(TreeContextTest, AFreedTreeLeavesEveryContextAndAFreedContextLeavesTheTree) {
  auto other = std::make_unique<TKZ_Context>();
  auto tree = std::make_unique<TKZ_CollisionTree>();
  TKZ_CollisionTree kept;
  ctx.AddCollisionTree(tree.get());
  ctx.AddCollisionTree(&kept);
  ctx.AddCollisionTree(tree.get());  // listed twice
  other->AddCollisionTree(tree.get());
  other->AddCollisionTree(&kept);
  EXPECT_EQ(tree->Contexts.size(), 3u);
  tree.reset();
  EXPECT_EQ(ctx.GetCollisionTrees(), std::vector<CollisionTreeInterface*>{&kept});
  EXPECT_EQ(other->GetCollisionTrees(), std::vector<CollisionTreeInterface*>{&kept});

  other.reset();
  EXPECT_EQ(kept.Contexts, std::vector<TKZ_Context*>{&ctx});
  ctx.RemoveCollisionTree(&kept);
  EXPECT_TRUE(kept.Contexts.empty());
  kept.DetachContext(&ctx);  // not recorded: nothing happens
  EXPECT_TRUE(kept.Contexts.empty());

  // A context listing a freed tree would step into freed memory; stepping now is safe.
  ctx.Enable(kzcCollisions);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.1f);
  EXPECT_TRUE(Head().CollisionInfo.empty());
}
