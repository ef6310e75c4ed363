#include "engine/emitters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/context.h"
#include "framework/gl_binding.h"
#include "framework/random.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// A real in [0, 1) from the shared generator, in single precision like the positions it makes.
float rand_single() { return static_cast<float>(Random()); }

// 0 to 1; a value that is not a number counts as 0.
float clamp_unit(float v) {
  if (!(v > 0.0f)) return 0.0f;
  return v > 1.0f ? 1.0f : v;
}

// x mod m for any sign of x, so a count written from outside cannot index below a slot array.
// 64-bit, so that the count's neighbours (i - 1 of the lowest count) are worked out exactly.
int32_t wrap(int64_t x, int32_t m) {
  const auto r = static_cast<int32_t>(x % m);
  return r < 0 ? r + m : r;
}

// A particle count worked out in floating point, cut towards zero; anything that is not a number
// or not positive is none, and the result never exceeds `limit`.
int64_t trunc_count(double value, int64_t limit) {
  if (!(value >= 1.0)) return 0;
  if (value >= static_cast<double>(limit)) return limit;
  return static_cast<int64_t>(value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TKZU_CustomEmitter

TKZU_CustomEmitter::TKZU_CustomEmitter() {
  FadeInTime = 0.0f;
  Emitting = true;
  KeepCount = true;
  HasContext = false;
  // A kind's own defaults are set by its constructor, which runs ResetDefaults again once the kind
  // is complete.
  TKZU_CustomEmitter::ResetDefaults();
}

TKZU_CustomEmitter::~TKZU_CustomEmitter() { BlendPasses.clear(); }

void TKZU_CustomEmitter::ResetDefaults() {
  Age = 0.0f;
  DistanceFactor = 1.0f;
  FadeDistance = 0.0f;
  Lifetime = 0.0f;
  MinLifetime = 0.0f;
  MaxLifetime = 0.0f;
  Center = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
  Speed = 0.0f;
  KZ_IdentityMatrixf3(VelocityMatrix);
  VelocityBias = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
  RandomScale = KZ_MakeVectorf3(1.0f, 1.0f, 1.0f);
  VelocityMode = 0;
  RelativeCenter = false;
  Position = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
  KZ_IdentityMatrixf3(Orientation);
}

void TKZU_CustomEmitter::SetContext(TKZ_Context* context) {
  Context = context;
  HasContext = context != nullptr;
}

void TKZU_CustomEmitter::SetEmitting(bool value) {
  if (!value) Age = 0.0f;
  Emitting = value;
}

void TKZU_CustomEmitter::AddBlendPass(int32_t source, int32_t destination) {
  BlendPasses.push_back({static_cast<uint32_t>(source), static_cast<uint32_t>(destination)});
}

void TKZU_CustomEmitter::SetCenter(float x, float y, float z) { Center = KZ_MakeVectorf3(x, y, z); }
void TKZU_CustomEmitter::SetCenter(const TKZ_Vectorf3& v) { Center = v; }
void TKZU_CustomEmitter::SetRandomScale(float x, float y, float z) { RandomScale = KZ_MakeVectorf3(x, y, z); }
void TKZU_CustomEmitter::SetRandomScale(const TKZ_Vectorf3& v) { RandomScale = v; }
void TKZU_CustomEmitter::SetVelocityBias(float x, float y, float z) { VelocityBias = KZ_MakeVectorf3(x, y, z); }
void TKZU_CustomEmitter::SetVelocityBias(const TKZ_Vectorf3& v) { VelocityBias = v; }
void TKZU_CustomEmitter::SetVelocityMatrix(const TKZ_Matrixf3& matrix) { VelocityMatrix = matrix; }

void TKZU_CustomEmitter::SetSceneVector(float x, float y, float z) {
  TKZU_Effect::SetSceneVector(x, y, z);
  if (Context) Context->SetParameter(kzpWind, &SceneVector);
}

void TKZU_CustomEmitter::SetSceneVector(const TKZ_Vectorf3& v) {
  TKZU_Effect::SetSceneVector(v);
  if (Context) Context->SetParameter(kzpWind, &SceneVector);
}

void TKZU_CustomEmitter::SetStorageMode(int32_t mode) {
  if (Attached()) Context->SetStorageMode(mode);
}

void TKZU_CustomEmitter::Update(float elapsed) {
  if (!Attached()) {
    if (FinishRequested && OnFinished.Assigned()) OnFinished(this);
    return;
  }
  if (Lifetime != 0.0f && Lifetime <= Age) Finish();

  if (FadeDistance == 0.0f) {
    DistanceFactor = 1.0f;
  } else {
    float m[16];
    gl.glGetFloatv(GL_MODELVIEW_MATRIX, m);
    const float d = KZ_LengthVectorf3(KZ_SubVectorf3(KZ_MakeVectorf3(m[12], m[13], m[14]), Position));
    float f = d / FadeDistance;
    // A distance that is not a number fades the emitter out rather than in.
    if (!(f < 1.0f)) {
      f = 1.0f;
    } else if (f < 0.0f) {
      f = 0.0f;
    }
    DistanceFactor = 1.0f - f;
  }

  WorldCenter = KZ_TransformVectorf3(Center, Orientation);

  if (!FinishRequested) {
    if (Emitting) Emit();
  } else if (Context->GetParticleCount() == 0 && OnFinished.Assigned()) {
    OnFinished(this);
  }

  Context->Process(elapsed);

  // One frame time that is not a number would stop the fade-in for good; it is not counted.
  if (std::isfinite(elapsed) && Age < std::max(Lifetime, FadeInTime)) Age += elapsed;

  Context->GetParameter(kzpBoundsMin, &CullBoxMin);
  Context->GetParameter(kzpBoundsMax, &CullBoxMax);
}

void TKZU_CustomEmitter::Render(bool with_state) {
  if (!Attached()) return;
  for (const TKZU_Renderpass& pass : BlendPasses) {
    Context->SetBlendFunc(pass.SourceFactor, pass.DestFactor);
    Context->Draw(with_state);
  }
}

float TKZU_CustomEmitter::Ramp() const {
  if (FadeInTime == 0.0f) return 1.0f;
  return clamp_unit(Age / FadeInTime);
}

int32_t TKZU_CustomEmitter::ParticlesToEmit() const {
  // Ramp and distance factor are kept within 0..1, so the aim never exceeds ParticleCount and a
  // value that is not a number aims at nothing.
  const double aim = std::nearbyint(static_cast<double>(ParticleCount) * Ramp() * clamp_unit(DistanceFactor));
  int64_t n = static_cast<int64_t>(aim);
  if (Attached() && (KeepCount || Emitting)) n -= static_cast<int64_t>(Context->GetParticleCount());
  return static_cast<int32_t>(std::max<int64_t>(n, std::numeric_limits<int32_t>::min()));
}

TKZ_Vectorf3 TKZU_CustomEmitter::ComputeVelocity(const TKZ_Vectorf3& position) const {
  const TKZ_Vectorf3 origin = RelativeCenter ? KZ_SubVectorf3(Center, Position) : WorldCenter;
  TKZ_Vectorf3 d{};
  if (VelocityMode == 0) {
    d = KZ_SubVectorf3(position, origin);
  } else if (VelocityMode == 1) {
    d[2] = (rand_single() - 0.5f) * RandomScale[2];
    d[1] = (rand_single() - 0.5f) * RandomScale[1];
    d[0] = (rand_single() - 0.5f) * RandomScale[0];
  }
  d = KZ_NormalizeVectorf3(KZ_AddVectorf3(d, VelocityBias));
  d = KZ_TransformVectorf3(d, VelocityMatrix);
  return KZ_ScaleVectorf3(d, Speed);
}

void TKZU_CustomEmitter::MakeParticle(const TKZ_Vectorf3& local) {
  const TKZ_Vectorf3 v = ComputeVelocity(local);
  Context->SetTemplateLifetime(MinLifetime + (MaxLifetime - MinLifetime) * rand_single());
  Context->SetTemplateVelocity(v);
  Context->EmitParticle(KZ_AddVectorf3(local, Position));
}

void TKZU_CustomEmitter::MakeParticleAt(const TKZ_Vectorf3& point) {
  const TKZ_Vectorf3 v = ComputeVelocity(point);
  Context->SetTemplateLifetime(MinLifetime + (MaxLifetime - MinLifetime) * rand_single());
  Context->SetTemplateVelocity(v);
  Context->EmitParticle(point);
}

// ---------------------------------------------------------------------------------------------
// TKZU_SphereEmitter

TKZU_SphereEmitter::TKZU_SphereEmitter() { ResetDefaults(); }

void TKZU_SphereEmitter::ResetDefaults() {
  TKZU_CustomEmitter::ResetDefaults();
  MinRadius = 0.0f;
  MaxRadius = 0.0f;
  DirectionBias = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
}

void TKZU_SphereEmitter::SetDirectionBias(float x, float y, float z) { DirectionBias = KZ_MakeVectorf3(x, y, z); }
void TKZU_SphereEmitter::SetDirectionBias(const TKZ_Vectorf3& v) { DirectionBias = v; }

void TKZU_SphereEmitter::Emit() {
  if (!Attached()) return;
  const int32_t n = ParticlesToEmit();
  for (int32_t i = 0; i < n; ++i) {
    const float r = MinRadius + (MaxRadius - MinRadius) * rand_single();
    TKZ_Vectorf3 dir;
    dir[2] = DirectionBias[2] + rand_single() - 0.5f;
    dir[1] = DirectionBias[1] + rand_single() - 0.5f;
    dir[0] = DirectionBias[0] + rand_single() - 0.5f;
    MakeParticle(KZ_ScaleVectorf3(KZ_NormalizeVectorf3(dir), r));
  }
}

// ---------------------------------------------------------------------------------------------
// TKZU_CubeEmitter

TKZU_CubeEmitter::TKZU_CubeEmitter() { ResetDefaults(); }

void TKZU_CubeEmitter::ResetDefaults() {
  TKZU_CustomEmitter::ResetDefaults();
  BoxSize = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
  Speed = 0.0f;
}

void TKZU_CubeEmitter::Emit() {
  if (!Attached()) return;
  const int32_t n = ParticlesToEmit();
  for (int32_t i = 0; i < n; ++i) {
    TKZ_Vectorf3 local;
    local[2] = (rand_single() - 0.5f) * BoxSize[2];
    local[1] = (rand_single() - 0.5f) * BoxSize[1];
    local[0] = (rand_single() - 0.5f) * BoxSize[0];
    MakeParticle(KZ_TransformVectorf3(local, Orientation));
  }
}

// ---------------------------------------------------------------------------------------------
// TKZU_ConeEmitter

TKZU_ConeEmitter::TKZU_ConeEmitter() { ResetDefaults(); }

void TKZU_ConeEmitter::ResetDefaults() {
  TKZU_CustomEmitter::ResetDefaults();
  BottomRadius = 0.0f;
  TopRadius = 0.0f;
  ConeHeight = 0.0f;
  Surface = false;
  BottomCap = true;
  TopCap = true;
  UniformDensity = true;
}

float TKZU_ConeEmitter::RadiusAt(float t) const {
  if (ConeHeight == 0.0f) return std::max(BottomRadius, TopRadius);
  return (BottomRadius - TopRadius) * t + TopRadius;
}

float TKZU_ConeEmitter::SpreadFraction(float t) const {
  const float bottom = std::fabs(BottomRadius);
  const float top = std::fabs(TopRadius);
  const float rmax = std::max(bottom, top);
  const float rmin = std::min(bottom, top);
  if (!(rmax > 0.0f)) return t;
  const float e = 1.0f / (2.0f - rmin / rmax);
  // The power pushes fractions towards 1, where the circles are wide; when the top is the wide end
  // the fraction is measured from the bottom instead.
  if (top > bottom) return 1.0f - std::pow(1.0f - t, e);
  return std::pow(t, e);
}

void TKZU_ConeEmitter::MakeConeParticle(float t, float rho, float angle) {
  const TKZ_Vectorf3 local = KZ_MakeVectorf3(rho * std::cos(angle), -t * ConeHeight, rho * std::sin(angle));
  MakeParticle(KZ_TransformVectorf3(local, Orientation));
}

void TKZU_ConeEmitter::Emit() {
  if (!Attached()) return;
  const int32_t n = ParticlesToEmit();
  if (n <= 0) return;
  const float two_pi = 2.0f * kPi;

  if (!Surface) {
    for (int32_t i = 0; i < n; ++i) {
      float t = rand_single();
      float radial = rand_single();
      if (UniformDensity) {
        radial = std::sqrt(radial);
        t = SpreadFraction(t);
      }
      const float angle = two_pi * rand_single();
      MakeConeParticle(t, radial * RadiusAt(t), angle);
    }
    return;
  }

  // Shares by area: the two discs and the side (the lateral area of a truncated cone, which is
  // that of a full cone when the top radius is 0).
  const float bottom = std::fabs(BottomRadius);
  const float top = std::fabs(TopRadius);
  const float rd = BottomRadius - TopRadius;
  const float slant = std::sqrt(rd * rd + ConeHeight * ConeHeight);
  const float a0 = kPi * bottom * bottom;
  const float a1 = kPi * top * top;
  const float a2 = kPi * (bottom + top) * slant;
  const float total = a0 + a1 + a2;
  int64_t nb = 0;
  int64_t nt = 0;
  int64_t ns = n;
  if (total > 0.0f && std::isfinite(total)) {
    const float count = static_cast<float>(n);
    nb = trunc_count(a0 / total * count, n);
    nt = trunc_count(a1 / total * count, n);
    ns = trunc_count(a2 / total * count, n);
  }
  // (A cone without area is a line at most: everything goes to its side.)
  if (n - nb - nt - ns != 0) {
    const int64_t rest = n - nb - nt - ns;
    switch (Random(3)) {
      case 0:
        nb += rest;
        break;
      case 1:
        nt += rest;
        break;
      default:
        ns += rest;
        break;
    }
  }

  if (BottomCap) {
    for (int64_t i = 0; i < nb; ++i) {
      const float radial = std::sqrt(rand_single());
      const float angle = two_pi * rand_single();
      MakeConeParticle(1.0f, radial * BottomRadius, angle);
    }
  }
  if (TopCap) {
    for (int64_t i = 0; i < nt; ++i) {
      const float radial = std::sqrt(rand_single());
      const float angle = two_pi * rand_single();
      MakeConeParticle(0.0f, radial * TopRadius, angle);
    }
  }
  for (int64_t i = 0; i < ns; ++i) {
    float t = rand_single();
    if (UniformDensity) t = SpreadFraction(t);
    const float angle = two_pi * rand_single();
    MakeConeParticle(t, RadiusAt(t), angle);
  }
}

// ---------------------------------------------------------------------------------------------
// TKZU_FontMap

namespace {

double read_sample(const uint8_t* at, int32_t format) {
  switch (format) {
    case kzuSampleByte:
      return *at / 255.0;
    case kzuSampleSingle: {
      float f;
      std::memcpy(&f, at, sizeof f);
      return f;
    }
    default: {
      double d;
      std::memcpy(&d, at, sizeof d);
      return d;
    }
  }
}

uint8_t vertical_class(int code) {
  if (code == 0) return 0;
  if (std::strchr("\"'*^`", code)) return 1;
  if (std::strchr("-=~", code)) return 2;
  if (std::strchr("jgy|qp_", code)) return 3;
  return 0;
}

}  // namespace

TKZU_FontMap::TKZU_FontMap(const void* pixels, uint32_t width, uint32_t height, uint32_t step, float threshold,
                           int32_t format) {
  for (int c = 0; c < 256; ++c) CharacterMaps[c].VerticalClass = vertical_class(c);
  if (!pixels || width == 0 || height == 0) return;
  size_t sample_size = 0;
  switch (format) {
    case kzuSampleByte:
      sample_size = 1;
      break;
    case kzuSampleSingle:
      sample_size = sizeof(float);
      break;
    case kzuSampleDouble:
      sample_size = sizeof(double);
      break;
    default:
      return;
  }

  const uint32_t cw = (width - 1) / 16 + 1;
  const uint32_t ch = (height - 1) / 16 + 1;
  CellWidth = static_cast<int32_t>(cw);
  const uint8_t* sheet = static_cast<const uint8_t*>(pixels);
  const uint64_t stride = static_cast<uint64_t>(step) * sample_size;
  uint64_t offset = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x, offset += stride) {
      if (!(read_sample(sheet + offset, format) > threshold)) continue;
      const uint32_t code = (y / ch) * 16 + x / cw;
      CharacterMaps[code].Points.push_back(
          KZ_MakeVectorf2(static_cast<float>(x % cw) / static_cast<float>(cw),
                          static_cast<float>(ch - y % ch) / static_cast<float>(ch)));
    }
  }

  const float least = 1.0f / static_cast<float>(CellWidth);
  for (TKZU_CharacterMap& c : CharacterMaps) {
    if (c.Points.empty()) continue;
    TKZ_Vectorf2 lo = c.Points[0];
    TKZ_Vectorf2 hi = c.Points[0];
    for (const TKZ_Vectorf2& p : c.Points) {
      lo = {std::min(lo[0], p[0]), std::min(lo[1], p[1])};
      hi = {std::max(hi[0], p[0]), std::max(hi[1], p[1])};
    }
    c.Width = std::max(hi[0] - lo[0], least);
    c.Height = std::max(hi[1] - lo[1], least);
    for (TKZ_Vectorf2& p : c.Points) p = {(p[0] - lo[0]) / c.Width, (p[1] - lo[1]) / c.Height};
    MaxWidth = std::max(MaxWidth, c.Width);
    MaxHeight = std::max(MaxHeight, c.Height);
  }
  // A sheet without a lit sample has no extents: they stay 0.
  if (MaxWidth > 0.0f && MaxHeight > 0.0f) {
    for (TKZU_CharacterMap& c : CharacterMaps) {
      c.Width /= MaxWidth;
      c.Height /= MaxHeight;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TKZU_FontEmitter

TKZU_FontEmitter::TKZU_FontEmitter() { ResetDefaults(); }

void TKZU_FontEmitter::ResetDefaults() {
  TKZU_CustomEmitter::ResetDefaults();
  GlyphSize = 1.0f;
  TotalPoints = 0;
  SetText(std::string());
}

void TKZU_FontEmitter::SetText(const std::string& text) {
  if (!FontMap) return;
  TextLength = static_cast<int32_t>(std::min<size_t>(text.size(), std::numeric_limits<int32_t>::max()));
  Characters.assign(text.begin(), text.end());
  int64_t total = 0;
  for (uint8_t c : Characters) total += static_cast<int64_t>(FontMap->CharacterMaps[c].Points.size());
  TotalPoints = static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
  Text = text;
}

void TKZU_FontEmitter::Emit() {
  if (!Attached() || !FontMap) return;
  const TKZU_FontMap& map = *FontMap;
  // An empty map has no cell width; its characters have no points, so only the advance uses it.
  const float cell = map.CellWidth > 0 ? static_cast<float>(map.CellWidth) : 1.0f;
  const float line_height = GlyphSize * map.MaxHeight;
  TextWidth = 0.0f;
  TextHeight = 0.0f;
  float pen_x = 0.0f;
  float pen_y = -line_height - LineSpacing;  // the first base line lies one line below the origin
  const int32_t n = ParticlesToEmit();

  for (uint8_t cc : Characters) {
    if (cc == 10) {
      pen_y -= line_height + LineSpacing;
      continue;
    }
    if (cc == 13) {
      TextWidth = std::max(TextWidth, pen_x);
      pen_x = 0.0f;
    } else if (cc == 32) {
      pen_x += GlyphSize * map.MaxWidth / 2.0f;
      continue;
    }
    const TKZU_CharacterMap& glyph = map.CharacterMaps[cc];
    const float w = glyph.Width * map.MaxWidth * GlyphSize;
    const float h = glyph.Height * map.MaxHeight * GlyphSize;
    const size_t k = glyph.Points.size();
    if (k > 0 && n > 0 && TotalPoints > 0) {
      // With TotalPoints from another map the share could exceed the whole; it never does.
      const int64_t m = trunc_count(static_cast<double>(n) * static_cast<double>(k) / TotalPoints, n);
      float y0 = pen_y;
      switch (glyph.VerticalClass) {
        case 1:
          y0 = line_height + pen_y - h;
          break;
        case 2:
          y0 = line_height / 3.0f + pen_y - h / 2.0f;
          break;
        case 3:
          y0 = pen_y - h / 3.5f;
          break;
        default:
          break;
      }
      const float x0 = Monospace ? (map.MaxWidth * GlyphSize - w) / 2.0f : 0.0f;
      const int32_t points = static_cast<int32_t>(std::min<size_t>(k, std::numeric_limits<int32_t>::max()));
      for (int64_t i = 0; i < m; ++i) {
        const TKZ_Vectorf2& point = glyph.Points[static_cast<size_t>(Random(points))];
        const float jx = GlyphSize * (rand_single() - 0.5f) / cell;
        const float jy = GlyphSize * (rand_single() - 0.5f) / cell;
        // Unlike the other shapes, the text is laid out with Position in it, and the whole point
        // is turned by Orientation; the velocity rule sees that point.
        const TKZ_Vectorf3 laid = KZ_MakeVectorf3(point[0] * w + pen_x + jx + Position[0] + x0,
                                                  point[1] * h + y0 + jy + Position[1], Position[2]);
        MakeParticleAt(KZ_TransformVectorf3(laid, Orientation));
      }
    }
    if (Monospace) {
      pen_x += GlyphSize * map.MaxWidth + CharSpacing;
    } else {
      pen_x += GlyphSize / cell + w + CharSpacing;
    }
  }
  TextWidth = std::max(TextWidth, pen_x);
  TextHeight = pen_y;
}

// ---------------------------------------------------------------------------------------------
// TKZU_FaceEmitter

TKZU_FaceEmitter::TKZU_FaceEmitter() { ResetDefaults(); }

void TKZU_FaceEmitter::ResetDefaults() {
  TKZU_CustomEmitter::ResetDefaults();
  Faces.clear();
  TotalArea = 0.0f;
  VertexCount = 0;
  FaceMode = kzuFaceNone;
  UseFaceFrame = false;
}

void TKZU_FaceEmitter::BeginFaces(int32_t mode) {
  VertexCount = 0;
  FaceMode = mode;
}

void TKZU_FaceEmitter::EndFaces() { FaceMode = kzuFaceNone; }

void TKZU_FaceEmitter::AddVertex(float x, float y, float z) { AddVertex(KZ_MakeVectorf3(x, y, z)); }

void TKZU_FaceEmitter::AddVertex(const TKZ_Vectorf3& v) {
  const int32_t i = VertexCount;
  TKZ_Vectorf3* s = PendingVertices;
  switch (FaceMode) {
    case kzuFaceTriangles:
      s[wrap(i, 3)] = v;
      if (wrap(i, 3) == 2) AddFace(s[0], s[1], s[2]);
      break;
    case kzuFaceStrip:
      s[wrap(i, 3)] = v;
      if (i > 1) AddFace(s[wrap(i, 3)], s[wrap(int64_t{i} - 1, 3)], s[wrap(int64_t{i} - 2, 3)]);
      break;
    case kzuFaceQuads:
      if (i < 1 || wrap(int64_t{i} + 1, 4) != 0) {
        s[wrap(i, 3)] = v;
      } else {
        AddFace(v, s[0], s[2]);
        AddFace(s[0], s[1], s[2]);
        VertexCount = -1;
      }
      break;
    case kzuFaceFan:
      if (i == 0) {
        s[0] = v;
      } else {
        s[wrap(int64_t{i} - 1, 2) + 1] = v;
        if (i > 1) AddFace(s[wrap(int64_t{i} - 1, 2) + 1], s[wrap(i, 2) + 1], s[0]);
      }
      break;
    default:
      return;
  }
  // Only the count's remainders by 2, 3 and 4 matter, so keep it from overflowing.
  VertexCount = VertexCount >= 1000000000 ? VertexCount - 999999996 + 1 : VertexCount + 1;
}

void TKZU_FaceEmitter::AddFace(const TKZ_Vectorf3& p, const TKZ_Vectorf3& q, const TKZ_Vectorf3& r) {
  TKZU_EmitFace f;
  f.Vertex = p;
  f.Edge1 = KZ_SubVectorf3(q, p);
  f.Edge2 = KZ_SubVectorf3(r, q);
  // Half the edges' lengths times the sine of their angle, taken as half the cross product's length:
  // the angle's arc cosine loses the area of slim faces (and has no value when rounding carries the
  // cosine of parallel edges past 1).
  f.Area = 0.5f * KZ_LengthVectorf3(KZ_CrossVectorf3(f.Edge1, f.Edge2));
  TotalArea += f.Area;
  f.Frame.Col0 = KZ_NormalizeVectorf3(f.Edge1);
  f.Frame.Col2 = KZ_NormalizeVectorf3(KZ_CrossVectorf3(f.Edge1, f.Edge2));
  f.Frame.Col1 = KZ_NormalizeVectorf3(KZ_CrossVectorf3(f.Frame.Col0, f.Frame.Col2));
  Faces.push_back(f);
}

void TKZU_FaceEmitter::Emit() {
  if (!Attached()) return;
  const int32_t n = ParticlesToEmit();
  // No particle is wanted, or there is no area to share them over.
  if (n <= 0 || !(TotalArea > 0.0f) || !std::isfinite(TotalArea)) return;
  const double ramp = Ramp();
  for (const TKZU_EmitFace& face : Faces) {
    const int64_t count = trunc_count(static_cast<double>(n) * face.Area / TotalArea + ramp, int64_t{n} + 1);
    if (UseFaceFrame) VelocityMatrix = face.Frame;
    for (int64_t i = 0; i < count; ++i) {
      const float s = std::sqrt(rand_single());
      const float t = rand_single();
      const TKZ_Vectorf3 local =
          KZ_AddVectorf3(face.Vertex, KZ_ScaleVectorf3(KZ_AddVectorf3(face.Edge1, KZ_ScaleVectorf3(face.Edge2, t)), s));
      MakeParticle(KZ_TransformVectorf3(local, Orientation));
    }
  }
}
