#include "framework/font_manager.h"

#include "framework/exceptions.h"
#include "framework/format.h"
#include "framework/fs_manager.h"
#include "framework/gl_binding.h"
#include "framework/log_manager.h"

namespace {
const char* const kLoadFont = "TfntFont.LoadFont";
const char* const kStyleDocs = "https://www.libsdl.org/projects/SDL_ttf/docs/SDL_ttf_22.html";

const SDL_Color kWhite{255, 255, 255, 0};
}  // namespace

// --- TfntFont ---

TfntFont::TfntFont(TfntManager* Owner) : FOwner(Owner) {}

TfntFont::~TfntFont() { CloseFont(); }

void TfntFont::CloseFont() {
  if (FFont) TTF_CloseFont(FFont);
  FFont = nullptr;
}

bool TfntFont::LoadFont(const std::string& FileName, TfsManager* FileSystem, const std::string& Name, int32_t Size) {
  SDL_RWops* source = FileSystem ? FileSystem->LoadFileToRWops(FileName, fmOpenRead) : nullptr;
  if (!source) {
    LogGlobalFmt(lmetError, "Couldn't load font from file %s.", kLoadFont, FileName);
    return false;
  }
  CloseFont();
  // SDL_ttf takes the handle over and closes it with the font, or when opening fails, except when
  // it has not been initialised: then the handle is closed here.
  const bool ttf_ready = TTF_WasInit() != 0;
  FFont = TTF_OpenFontRW(source, 1, Size);
  if (!FFont) {
    if (!ttf_ready) SDL_RWclose(source);
    LogGlobalFmt(lmetError, "Couldn't load font. %s", kLoadFont, std::string(TTF_GetError()));
    return false;
  }
  FFileName = FileName;
  FSize = Size;
  FName = Name;
  return true;
}

bool TfntFont::LoadFontRW(SDL_RWops* Source, const std::string& Name, int32_t Size) {
  CloseFont();
  FFont = Source ? TTF_OpenFontRW(Source, 0, Size) : nullptr;
  if (!FFont) {
    LogGlobalFmt(lmetError, "Couldn't load font. %s", kLoadFont, std::string(Source ? TTF_GetError() : "No source."));
    return false;
  }
  FSize = Size;
  FName = Name;
  return true;
}

void TfntFont::SetStyle(TfntStyles Styles) {
  if (Styles == FStyles) return;
  FStyles = Styles;
  if (!FFont) return;
  int mask = 0;
  if (Styles != 0) {
    LogGlobal(lmetWarning,
              std::string("Font warning: Style support is experimental (SIGSEGV possible), see ") + kStyleDocs +
                  " for details.\r\nIt's recommended to use the real style files of the font for better results. "
                  "See modding manual for details.",
              "TfntFont.SetStyle");
    if (Styles & FontStyle(fsBold)) mask |= TTF_STYLE_BOLD;
    if (Styles & FontStyle(fsItalic)) mask |= TTF_STYLE_ITALIC;
    if (Styles & FontStyle(fsUnderlined)) mask |= TTF_STYLE_UNDERLINE;
  }
  TTF_SetFontStyle(FFont, mask);
}

void TfntFont::GetTextSize(const std::string& Text, TfntTextSize& Size) {
  Size = TfntTextSize{};
  if (!FFont || Text.empty()) return;
  int w = 0, h = 0;
  Size.Status = TTF_SizeUTF8(FFont, Text.c_str(), &w, &h);
  if (Size.Status == 0) {
    Size.Width = w;
    Size.Height = h;
  }
}

SDL_Surface* TfntFont::render_white(const std::string& Text, const char* source) {
  if (!FFont) {
    LogGlobal(lmetError, "Font not loaded, but rendering called.", source);
    return nullptr;
  }
  SDL_Surface* surface = TTF_RenderUTF8_Blended(FFont, Text.c_str(), kWhite);
  if (!surface) LogGlobalFmt(lmetError, "Font rendering failed. %s", source, std::string(TTF_GetError()));
  return surface;
}

void TfntFont::RenderToTextureEx(const std::string& Text, TgglTexture2D& Texture) {
  const char* const source = "TfntFont.RenderToTextureEx";
  if (!TTF_WasInit()) LogGlobal(lmetWarning, "SDL_TTF not initialized", source);
  if (Texture.ID == 0) {
    LogGlobal(lmetError, "Need to have a given texture", source);
    return;
  }
  SDL_Surface* surface = render_white(Text, source);
  if (!surface) return;
  if (surface->w > Texture.Width || surface->h > Texture.Height) LogGlobal(lmetWarning, "Texture size mismatch", source);
  gl.glBindTexture(GL_TEXTURE_2D, Texture.ID);
  gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, surface->w, surface->h, GL_RGBA, GL_UNSIGNED_BYTE, surface->pixels);
  gl.glBindTexture(GL_TEXTURE_2D, 0);
  // A texture record without a size has no meaningful coordinates; they stay as they were.
  if (Texture.Width > 0) Texture.U = static_cast<float>(surface->w) / static_cast<float>(Texture.Width);
  if (Texture.Height > 0) Texture.V = static_cast<float>(surface->h) / static_cast<float>(Texture.Height);
  SDL_FreeSurface(surface);
}

void TfntFont::RenderToTexture(const std::string& Text, uint32_t TextureID, TgglTexture2D& Texture) {
  const char* const source = "TfntFont.RenderToTexture";
  if (Text.empty()) {
    Texture = TgglTexture2D{};
    return;
  }
  if (!TTF_WasInit()) LogGlobal(lmetWarning, "SDL_TTF not initialized", source);
  Texture.ID = 0;
  SDL_Surface* surface = render_white(Text, source);
  if (!surface) return;
  TgglTexture2D result;
  SDLSurfaceToGLTexture(surface, true, TextureID, result);
  Texture = result;
  SDL_FreeSurface(surface);
}

int32_t TfntFont::GetIndex() const { return FOwner ? FOwner->IndexOf(this) : -1; }

// --- TfntManager ---

TfntManager::~TfntManager() { Clear(); }

void TfntManager::check_index(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index (%d) out of bounds", Index));
}

TfntFont* TfntManager::GetFont(int32_t Index) const {
  check_index(Index);
  return FFonts[static_cast<size_t>(Index)].get();
}

TfntFont* TfntManager::AddFont() {
  FFonts.push_back(std::make_unique<TfntFont>(this));
  return FFonts.back().get();
}

TfntFont* TfntManager::AddFontRW(SDL_RWops* Source, const std::string& Name, int32_t Size) {
  auto font = std::make_unique<TfntFont>(this);
  font->LoadFontRW(Source, Name, Size);
  FFonts.push_back(std::move(font));
  return FFonts.back().get();
}

TfntFont* TfntManager::LoadFont(const std::string& FileName, TfsManager* FileSystem, const std::string& Name,
                                int32_t Size) {
  if (TfntFont* found = FindFont(FileName, Size)) return found;
  auto font = std::make_unique<TfntFont>(this);
  font->LoadFont(FileName, FileSystem, Name, Size);
  FFonts.push_back(std::move(font));
  return FFonts.back().get();
}

TfntFont* TfntManager::FindFont(const std::string& FileName, int32_t Size) const {
  for (const auto& font : FFonts)
    if (font->FileName() == FileName && font->Size() == Size) return font.get();
  return nullptr;
}

int32_t TfntManager::IndexOfName(const std::string& Name) const {
  for (size_t i = 0; i < FFonts.size(); ++i)
    if (FFonts[i]->Name() == Name) return static_cast<int32_t>(i);
  return -1;
}

int32_t TfntManager::IndexOf(const TfntFont* Font) const {
  for (size_t i = 0; i < FFonts.size(); ++i)
    if (FFonts[i].get() == Font) return static_cast<int32_t>(i);
  return -1;
}

void TfntManager::Remove(TfntFont* Font) {
  const int32_t index = IndexOf(Font);
  if (index >= 0) Delete(index);
}

void TfntManager::Delete(int32_t Index) {
  check_index(Index);
  if (FFonts[static_cast<size_t>(Index)].get() == CurrentFont) CurrentFont = nullptr;
  std::unique_ptr<TfntFont> font = std::move(FFonts[static_cast<size_t>(Index)]);
  FFonts.erase(FFonts.begin() + Index);
  font.reset();
}

void TfntManager::Clear() {
  std::vector<std::unique_ptr<TfntFont>> fonts = std::move(FFonts);
  FFonts.clear();
  for (auto& font : fonts) font.reset();
  CurrentFont = nullptr;
}
