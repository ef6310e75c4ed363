#pragma once
// The program's OpenGL textures as objects: a texture owns its GL name and deletes it when freed;
// the manager owns a list of textures addressed by index. Main thread only (GL calls, no lock).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TtexManager;

class TtexTexture {
 public:
  explicit TtexTexture(TtexManager* Manager);
  virtual ~TtexTexture();
  TtexTexture(const TtexTexture&) = delete;
  TtexTexture& operator=(const TtexTexture&) = delete;

  // Position in the manager's list; -1 without a manager or when the list does not hold it.
  int32_t GetIndex() const;
  virtual uint32_t GetTextureName() const;
  // Replaces the name; the texture the old name denotes is left alive.
  virtual void SetTextureName(uint32_t Name);
  virtual void Bind() = 0;
  virtual void Unbind() = 0;

  TtexManager* Manager;  // not owned; may be nullptr
  bool OwnsTexture;      // when true, freeing the object deletes the GL texture

 protected:
  uint32_t TextureName;
};

class TtexTexture2D : public TtexTexture {
 public:
  explicit TtexTexture2D(TtexManager* Manager) : TtexTexture(Manager) {}
  void Bind() override;
  void Unbind() override;
  // Act on the texture bound to GL_TEXTURE_2D (Bind first); nothing without a name.
  virtual int32_t GetParameter(uint32_t ParameterName);
  virtual void SetParameter(uint32_t ParameterName, int32_t Value);
  virtual int32_t GetInteger(uint32_t ParameterName);
};

class TtexManager {
 public:
  TtexManager() = default;
  ~TtexManager();
  TtexManager(const TtexManager&) = delete;
  TtexManager& operator=(const TtexManager&) = delete;

  // True for 0 <= Index < Count; otherwise logs an error with Source when LogErrors.
  bool CheckIndex(int32_t Index, const std::string& Source, bool LogErrors) const;
  TtexTexture* GetTexture(int32_t Index) const;
  int32_t Count() const { return static_cast<int32_t>(Textures.size()); }
  // A new 2D texture holding (and owning) TextureName, appended to the list.
  TtexTexture2D* AddTexture(uint32_t TextureName);
  // Frees the texture (deleting its GL texture); later textures move down one index.
  void DeleteTexture(int32_t Index);
  int32_t IndexOfTextureName(uint32_t TextureName) const;
  // Frees every texture, first to last.
  void Clear();
  int32_t IndexOf(const TtexTexture* Texture) const;

 private:
  void remove_and_free(size_t index);

  std::vector<std::unique_ptr<TtexTexture>> Textures;
};
