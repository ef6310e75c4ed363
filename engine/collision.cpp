#include "engine/collision.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "engine/collision_primitives.h"
#include "engine/context.h"
#include "framework/gl_binding.h"

namespace {
// Every Rebuild of every tree takes the next number, so that no two indexes share one.
std::atomic<uint64_t> g_index_generations{0};

// x mod m for any sign of x: FaceVertexCount is a public field, and a count set below 0 from
// outside must still pick one of the three vertex slots (the face emitter wraps the same way).
// 64-bit, so that the count's neighbours (count - 1 of the lowest count) are worked out exactly.
int32_t wrap(int64_t x, int32_t m) {
  const auto r = static_cast<int32_t>(x % m);
  return r < 0 ? r + m : r;
}
}  // namespace

TKZ_CollisionTree::TKZ_CollisionTree()
    : DefaultMaterial(std::make_unique<TKZ_Material>("kz_collision_mat_default")) {
  KZ_IdentityMatrixf4(BuildTransform);
  KZ_IdentityMatrixf3(PlacementRotation);
  KZ_IdentityMatrixf3(InversePlacementRotation);
  CurrentMaterial = DefaultMaterial.get();
}

TKZ_CollisionTree::~TKZ_CollisionTree() {
  XTree.reset();
  YTree.reset();
  ZTree.reset();
  Primitives.clear();
  while (!Contexts.empty()) {
    const size_t before = Contexts.size();
    Contexts.back()->RemoveCollisionTree(this);
    // A context that no longer lists the tree leaves its entry; drop it so the loop ends.
    if (Contexts.size() == before) Contexts.pop_back();
  }
}

// ---- Placement ----

void TKZ_CollisionTree::SetTransform(const TKZ_Matrixf4& M) { BuildTransform = M; }

void TKZ_CollisionTree::SetPlacement(const TKZ_Matrixf4& M) {
  KZ_SplitMatrixf4(M, PlacementRotation, PlacementTranslation);
  InversePlacementRotation = PlacementRotation;
  KZ_InvertMatrixf3(InversePlacementRotation);
}

void TKZ_CollisionTree::SetMaterial(TKZ_Material* m) { CurrentMaterial = m ? m : DefaultMaterial.get(); }

// ---- Primitives ----

void TKZ_CollisionTree::InsertPrimitive(std::unique_ptr<TKZ_CollisionPrimitive> primitive) {
  if (!primitive) return;
  primitive->Material = CurrentMaterial;
  for (size_t i = 0; i < 3; ++i) {
    primitive->BoxMin[i] -= Tolerance;
    primitive->BoxMax[i] += Tolerance;
  }
  Primitives.push_back(std::move(primitive));
}

void TKZ_CollisionTree::AddSphere(float radius) {
  InsertPrimitive(std::make_unique<TKZ_Col_Sphere>(radius, BuildTransform));
}

void TKZ_CollisionTree::AddCube(float sizeX, float sizeY, float sizeZ) {
  InsertPrimitive(std::make_unique<TKZ_Col_Cube>(sizeX, sizeY, sizeZ, BuildTransform));
}

void TKZ_CollisionTree::AddCone(float bottomRadius, float topRadius, float height, bool closeTop, bool closeBottom) {
  InsertPrimitive(
      std::make_unique<TKZ_Col_Cone>(bottomRadius, topRadius, height, closeTop, closeBottom, BuildTransform));
}

void TKZ_CollisionTree::AddHeightmap(float sizeX, float heightScale, float sizeZ, int32_t samplesZ, int32_t samplesX,
                                     int32_t layout, const void* data, TKZ_MaterialSetCallback callback) {
  InsertPrimitive(std::make_unique<TKZ_Col_Heightmap>(sizeX, heightScale, sizeZ, samplesZ, samplesX, layout, data,
                                                      BuildTransform, CurrentMaterial, callback));
}

void TKZ_CollisionTree::AddPrimitive(std::unique_ptr<TKZ_CollisionPrimitive> primitive) {
  InsertPrimitive(std::move(primitive));
}

// ---- Faces ----

void TKZ_CollisionTree::BeginFaces(int32_t mode) {
  FaceVertexCount = 0;
  FaceMode = mode;
}

void TKZ_CollisionTree::EndFaces() { FaceMode = 100; }

void TKZ_CollisionTree::AddFace(float x, float y, float z) { AddFace(TKZ_Vectorf3{x, y, z}); }

void TKZ_CollisionTree::AddFaceOf(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b, const TKZ_Vectorf3& c) {
  InsertPrimitive(std::make_unique<TKZ_Col_Face>(a, b, c, BuildTransform));
}

void TKZ_CollisionTree::AddFace(const TKZ_Vectorf3& v) {
  const TKZ_Vectorf3 P = v;  // may be one of FaceVertices
  const int32_t count = FaceVertexCount;
  const int32_t m = wrap(count, 3);
  TKZ_Vectorf3* s = FaceVertices;
  switch (FaceMode) {
    case 0:  // triangle list
      s[m] = P;
      if (m == 2) AddFaceOf(s[0], s[1], s[2]);
      break;
    case 1:  // triangle strip: the newest vertex, then the two before it
      s[m] = P;
      if (count >= 2) AddFaceOf(s[m], s[wrap(int64_t{count} - 1, 3)], s[wrap(int64_t{count} - 2, 3)]);
      break;
    case 2:  // quads
      if (count == 3) {
        AddFaceOf(P, s[0], s[2]);
        AddFaceOf(s[0], s[1], s[2]);
        FaceVertexCount = 0;
        return;
      }
      s[m] = P;
      break;
    case 3:  // triangle fan around the first vertex
      if (count == 0) {
        s[0] = P;
      } else {
        s[wrap(int64_t{count} - 1, 2) + 1] = P;
      }
      if (count >= 2) AddFaceOf(P, s[wrap(count, 2) + 1], s[0]);
      break;
    default:
      return;
  }
  // Long strips and fans: only the count's remainders by 2 and 3 matter, so keep it from overflowing.
  FaceVertexCount = count >= 1000000000 ? count - 999999996 + 1 : count + 1;
}

// ---- Index and drawing ----

void TKZ_CollisionTree::Rebuild() {
  XTree = std::make_unique<TSegmentTree>();
  YTree = std::make_unique<TSegmentTree>();
  ZTree = std::make_unique<TSegmentTree>();
  for (size_t i = 0; i < Primitives.size(); ++i) {
    void* data = reinterpret_cast<void*>(static_cast<intptr_t>(i));
    const TKZ_CollisionPrimitive& p = *Primitives[i];
    XTree->AddSegment(data, p.BoxMin[0], p.BoxMax[0], Tolerance);
    YTree->AddSegment(data, p.BoxMin[1], p.BoxMax[1], Tolerance);
    ZTree->AddSegment(data, p.BoxMin[2], p.BoxMax[2], Tolerance);
  }
  XTree->Build();
  YTree->Build();
  ZTree->Build();
  IndexGeneration = ++g_index_generations;
  KZ_IdentityMatrixf3(PlacementRotation);
  KZ_IdentityMatrixf3(InversePlacementRotation);
  PlacementTranslation = {0.0f, 0.0f, 0.0f};
  ForgetCachedLeaves();
}

// The particles of the contexts that list this tree hold leaves of the index just replaced; a query
// must never start from one of them.
void TKZ_CollisionTree::ForgetCachedLeaves() {
  for (TKZ_Context* context : Contexts) {
    const std::vector<CollisionTreeInterface*>& trees = context->GetCollisionTrees();
    TKZ_LinkedList& particles = context->GetParticles();
    for (size_t i = 0; i < trees.size(); ++i) {
      if (trees[i] != this) continue;
      for (PKZ_ListNode n = particles.Head(); n; n = particles.NextOf(n)) {
        if (i < n->Data.CollisionInfo.size()) n->Data.CollisionInfo[i].Clear();
      }
    }
  }
}

void TKZ_CollisionTree::DrawBox(const TKZ_Vectorf3& A, const TKZ_Vectorf3& B) {
  const float ax = A[0], ay = A[1], az = A[2];
  const float bx = B[0], by = B[1], bz = B[2];
  const float from_a[6][3] = {{bx, ay, az}, {ax, by, az}, {ax, ay, bz}, {bx, by, az}, {ax, by, bz}, {bx, ay, bz}};
  for (const auto& q : from_a) {
    gl.glVertex3fv(A.data());
    gl.glVertex3f(q[0], q[1], q[2]);
  }
  const float from_b[6][3] = {{ax, by, bz}, {bx, ay, bz}, {bx, by, az}, {ax, ay, bz}, {bx, ay, az}, {ax, by, az}};
  for (const auto& q : from_b) {
    gl.glVertex3fv(B.data());
    gl.glVertex3f(q[0], q[1], q[2]);
  }
  const float loop[6][3] = {{ax, ay, bz}, {bx, ay, bz}, {bx, ay, az}, {bx, by, az}, {ax, by, az}, {ax, by, bz}};
  for (size_t k = 0; k < 6; ++k) {
    const float* p = loop[k];
    const float* q = loop[(k + 1) % 6];
    gl.glVertex3f(p[0], p[1], p[2]);
    gl.glVertex3f(q[0], q[1], q[2]);
  }
}

void TKZ_CollisionTree::DrawDebug() {
  gl.glBegin(GL_LINES);
  for (const std::unique_ptr<TKZ_CollisionPrimitive>& p : Primitives) {
    const TKZ_Vectorf3 A = KZ_AddVectorf3(KZ_TransformVectorf3(p->BoxMin, PlacementRotation), PlacementTranslation);
    const TKZ_Vectorf3 B = KZ_AddVectorf3(KZ_TransformVectorf3(p->BoxMax, PlacementRotation), PlacementTranslation);
    DrawBox(A, B);
  }
  gl.glEnd();
}

// ---- What a particle context calls ----

void TKZ_CollisionTree::AttachContext(TKZ_Context* context) { Contexts.push_back(context); }

void TKZ_CollisionTree::DetachContext(TKZ_Context* context) {
  auto it = std::find(Contexts.begin(), Contexts.end(), context);
  if (it == Contexts.end()) return;
  *it = Contexts.back();
  Contexts.pop_back();
}

void TKZ_CollisionTree::UpdateCandidates(PKZ_ParticleData particle, int32_t index) {
  if (!particle || index < 0 || static_cast<size_t>(index) >= particle->CollisionInfo.size()) return;
  TKZ_CollisionInformation& E = particle->CollisionInfo[static_cast<size_t>(index)];
  if (!E.NodeX || !E.NodeY || !E.NodeZ) {
    E.Candidates.clear();
    return;
  }
  const std::vector<void*>& X = E.NodeX->Data;
  const std::vector<void*>& Y = E.NodeY->Data;
  const std::vector<void*>& Z = E.NodeZ->Data;
  const size_t nx = X.size(), ny = Y.size(), nz = Z.size();
  // Resizing within the capacity a particle already has allocates nothing.
  E.Candidates.resize(std::min(nx, std::min(ny, nz)));
  size_t out = 0;
  size_t i = 0, j = 0, k = 0;
  while (i < nx && j < ny && k < nz) {
    const intptr_t x = reinterpret_cast<intptr_t>(X[i]);
    const intptr_t y = reinterpret_cast<intptr_t>(Y[j]);
    const intptr_t z = reinterpret_cast<intptr_t>(Z[k]);
    if (x == y && y == z) {
      E.Candidates[out++] = static_cast<int32_t>(x);
      ++i, ++j, ++k;
      continue;
    }
    const intptr_t m = std::max(x, std::max(y, z));
    if (x < m) ++i;
    if (y < m) ++j;
    if (z < m) ++k;
  }
  E.Candidates.resize(out);
}

bool TKZ_CollisionTree::TestParticle(PKZ_ParticleData particle, int32_t index, TKZ_Context* context) {
  // Not indexed yet: nothing to test against.
  if (!XTree || !YTree || !ZTree) return false;
  if (!particle || index < 0 || static_cast<size_t>(index) >= particle->CollisionInfo.size()) return false;
  const size_t slot = static_cast<size_t>(index);

  const TKZ_Vectorf3 old_pos = KZ_TransformVectorf3(
      KZ_SubVectorf3(particle->OldPosition, PlacementTranslation), InversePlacementRotation);
  const TKZ_Vectorf3 new_pos = KZ_TransformVectorf3(
      KZ_SubVectorf3(particle->Position, PlacementTranslation), InversePlacementRotation);

  {
    TKZ_CollisionInformation& E = particle->CollisionInfo[slot];
    // Leaves of another index are not queried from, even when their addresses lie in this one.
    if (E.Generation != IndexGeneration) {
      E.Clear();
      E.Generation = IndexGeneration;
    }
    bool changed = false;
    PSegmentTreeElement node = XTree->Query(old_pos[0], E.NodeX);
    changed |= node != E.NodeX;
    E.NodeX = node;
    node = YTree->Query(old_pos[1], E.NodeY);
    changed |= node != E.NodeY;
    E.NodeY = node;
    node = ZTree->Query(old_pos[2], E.NodeZ);
    changed |= node != E.NodeZ;
    E.NodeZ = node;
    if (changed) {
      try {
        UpdateCandidates(particle, index);
      } catch (...) {
        // Leaves without their candidates would pass for up to date at the next step.
        E.Clear();
        throw;
      }
    }
  }

  bool hit = false;
  // By position, re-reading the list: a collision hook may add primitives or rebuild the tree.
  for (size_t c = 0; slot < particle->CollisionInfo.size() && c < particle->CollisionInfo[slot].Candidates.size();
       ++c) {
    const int32_t candidate = particle->CollisionInfo[slot].Candidates[c];
    if (candidate < 0 || static_cast<size_t>(candidate) >= Primitives.size()) continue;
    TKZ_CollisionPrimitive* p = Primitives[static_cast<size_t>(candidate)].get();
    if (!p->Collide(old_pos, new_pos)) continue;
    hit = true;

    // Mirror the velocity at the surface: v - 2 (n . v) n.
    const TKZ_Vectorf3 w = KZ_ScaleVectorf3(particle->Velocity, -1.0f);
    const TKZ_Vectorf3 n = KZ_TransformVectorf3(p->Normal, PlacementRotation);
    const float d = KZ_DotVectorf3(n, w);
    particle->Velocity = KZ_SubVectorf3(KZ_ScaleVectorf3(n, 2.0f * d), w);
    // A height-map cell whose callback named no material has none to respond with.
    if (p->Material) p->Material->Respond(particle);

    p->Contact = KZ_AddVectorf3(KZ_TransformVectorf3(p->Contact, PlacementRotation), PlacementTranslation);
    particle->Position = p->Contact;

    // The hook sees the world normal and contact; the primitive keeps its tree-space normal.
    const TKZ_Vectorf3 saved = p->Normal;
    p->Normal = n;
    if (particle->OnCollided.Assigned()) particle->OnCollided(particle, p, context);
    p->Normal = saved;

    if (!TestAllCandidates) break;
  }
  return hit;
}
