#include "framework/tex_manager.h"

#include "framework/gl_binding.h"
#include "framework/log_manager.h"

TtexTexture::TtexTexture(TtexManager* Manager_) : Manager(Manager_), OwnsTexture(true), TextureName(0) {}

TtexTexture::~TtexTexture() {
  if (OwnsTexture && TextureName != 0) {
    const GLuint name = TextureName;
    gl.glDeleteTextures(1, &name);
  }
}

int32_t TtexTexture::GetIndex() const { return Manager ? Manager->IndexOf(this) : -1; }

uint32_t TtexTexture::GetTextureName() const { return TextureName; }

void TtexTexture::SetTextureName(uint32_t Name) { TextureName = Name; }

void TtexTexture2D::Bind() { gl.glBindTexture(GL_TEXTURE_2D, TextureName); }

void TtexTexture2D::Unbind() { gl.glBindTexture(GL_TEXTURE_2D, 0); }

int32_t TtexTexture2D::GetParameter(uint32_t ParameterName) {
  if (TextureName == 0) return 0;
  GLint value = 0;
  gl.glGetTexParameteriv(GL_TEXTURE_2D, ParameterName, &value);
  return value;
}

void TtexTexture2D::SetParameter(uint32_t ParameterName, int32_t Value) {
  if (TextureName != 0) gl.glTexParameteri(GL_TEXTURE_2D, ParameterName, Value);
}

int32_t TtexTexture2D::GetInteger(uint32_t ParameterName) {
  GLint value = 0;
  gl.glGetIntegerv(ParameterName, &value);
  return value;
}

TtexManager::~TtexManager() { Clear(); }

bool TtexManager::CheckIndex(int32_t Index, const std::string& Source, bool LogErrors) const {
  if (Index >= 0 && Index < Count()) return true;
  if (LogErrors)
    LogGlobalFmt(lmetError, "Texture with index %d does not exists in this texture manager.", Source, Index);
  return false;
}

TtexTexture* TtexManager::GetTexture(int32_t Index) const {
  return CheckIndex(Index, "GetTexture", true) ? Textures[static_cast<size_t>(Index)].get() : nullptr;
}

TtexTexture2D* TtexManager::AddTexture(uint32_t TextureName) {
  auto texture = std::make_unique<TtexTexture2D>(this);
  texture->SetTextureName(TextureName);
  TtexTexture2D* result = texture.get();
  Textures.push_back(std::move(texture));
  return result;
}

void TtexManager::DeleteTexture(int32_t Index) {
  if (!CheckIndex(Index, "DeleteTexture", true)) return;
  remove_and_free(static_cast<size_t>(Index));
}

int32_t TtexManager::IndexOfTextureName(uint32_t TextureName) const {
  for (size_t i = 0; i < Textures.size(); ++i)
    if (Textures[i]->GetTextureName() == TextureName) return static_cast<int32_t>(i);
  return -1;
}

void TtexManager::Clear() {
  while (!Textures.empty()) remove_and_free(0);
}

void TtexManager::remove_and_free(size_t index) {
  // Taken out of the list before it is freed, so the list never holds a dead entry.
  std::unique_ptr<TtexTexture> texture = std::move(Textures[index]);
  Textures.erase(Textures.begin() + static_cast<std::ptrdiff_t>(index));
  texture.reset();
}

int32_t TtexManager::IndexOf(const TtexTexture* Texture) const {
  for (size_t i = 0; i < Textures.size(); ++i)
    if (Textures[i].get() == Texture) return static_cast<int32_t>(i);
  return -1;
}
