#pragma once
// TrueType fonts over SDL_ttf: a font loaded through the file system at one point size, its style,
// text measurement, and white text rendered into OpenGL textures; and a list of fonts. Main thread
// only (the renderers call GL).
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/helpers.h"

class TfsManager;
class TfntManager;

enum TfntStyle : int32_t { fsBold = 0, fsUnderlined = 1, fsItalic = 2 };
// Set of TfntStyle: bit n for style n.
using TfntStyles = uint32_t;
constexpr TfntStyles FontStyle(TfntStyle style) { return 1u << static_cast<uint32_t>(style); }

struct TfntTextSize {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Status = 0;  // SDL_ttf's result, 0 when nothing was measured
};

class TfntFont {
 public:
  explicit TfntFont(TfntManager* Owner);
  ~TfntFont();
  TfntFont(const TfntFont&) = delete;
  TfntFont& operator=(const TfntFont&) = delete;

  void CloseFont();
  // Through FileSystem; on failure a font already open stays open only when no file was found.
  bool LoadFont(const std::string& FileName, TfsManager* FileSystem, const std::string& Name, int32_t Size);
  // From a handle that the caller keeps and closes.
  bool LoadFontRW(SDL_RWops* Source, const std::string& Name, int32_t Size);
  void SetStyle(TfntStyles Styles);
  void GetTextSize(const std::string& Text, TfntTextSize& Size);
  // Renders into the existing texture Texture.ID (Width and Height its size) and sets U and V.
  void RenderToTextureEx(const std::string& Text, TgglTexture2D& Texture);
  // Renders into a new texture (TextureID 0) or replaces the image of TextureID.
  void RenderToTexture(const std::string& Text, uint32_t TextureID, TgglTexture2D& Texture);
  int32_t GetIndex() const;

  TfntManager* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  const std::string& FileName() const { return FFileName; }
  int32_t Size() const { return FSize; }
  TfntStyles Styles() const { return FStyles; }
  TTF_Font* Font() const { return FFont; }

 private:
  // The text rendered white, or nullptr (logged under `source`) without a font or on failure.
  SDL_Surface* render_white(const std::string& Text, const char* source);

  TfntManager* FOwner;  // not owned
  std::string FName;
  TTF_Font* FFont = nullptr;  // owned
  std::string FFileName;
  int32_t FSize = 0;
  TfntStyles FStyles = 0;
};

class TfntManager {
 public:
  TfntManager() = default;
  ~TfntManager();
  TfntManager(const TfntManager&) = delete;
  TfntManager& operator=(const TfntManager&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FFonts.size()); }
  // Raises EListError for an index outside 0 .. Count - 1.
  TfntFont* GetFont(int32_t Index) const;
  TfntFont* AddFont();
  // Appended whether loading succeeded or not.
  TfntFont* AddFontRW(SDL_RWops* Source, const std::string& Name, int32_t Size);
  // The font of that file and size when there is one; otherwise a new one (appended even when
  // loading fails).
  TfntFont* LoadFont(const std::string& FileName, TfsManager* FileSystem, const std::string& Name, int32_t Size);
  TfntFont* FindFont(const std::string& FileName, int32_t Size) const;
  int32_t IndexOfName(const std::string& Name) const;
  int32_t IndexOf(const TfntFont* Font) const;
  void Remove(TfntFont* Font);
  // Raises EListError for an index outside the list.
  void Delete(int32_t Index);
  void Clear();

  TfntFont* CurrentFont = nullptr;  // the user's choice; cleared when that font goes

 private:
  void check_index(int32_t Index) const;

  std::vector<std::unique_ptr<TfntFont>> FFonts;
};
