#pragma once
// The virtual file system: mounts (file sources) in six lists by priority plus one native "mod
// directory" between them. A name is looked up from the highest priority down; the first source
// that has the file wins. Writing goes to the mod directory only. Files come back as streams owned
// by the caller or as SDL read/write handles.
//
// Lock order: the manager's mount mutex, then its mod-directory mutex, then a mount's own lock.
#include <SDL/SDL_mutex.h>
#include <SDL/SDL_rwops.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/streams.h"

enum TfsMountPriority : int32_t { mpBase = 0, mpExtension, mpCore, mpModDir, mpMod, mpDebug };
enum TfsConversionTarget : int32_t { ctNative = 0, ctWindows = 1, ctLinux = 2 };

class TfsManager;

// A file source. Mounts are handed to a manager, which then owns them.
class TfsMount {
 public:
  explicit TfsMount(TfsManager* Manager) : FManager(Manager) {}
  virtual ~TfsMount() = default;
  TfsMount(const TfsMount&) = delete;
  TfsMount& operator=(const TfsMount&) = delete;

  // Takes the mount out of its manager's highest list that holds it, without freeing it: once no
  // list holds it, it is the caller's again, as after Unmount without freeing. A mount that no list
  // of its manager holds (or that has no manager) frees itself, so it must live on the heap.
  void Release();

  virtual bool FileExists(const std::string& FileName) = 0;
  // A new stream positioned at 0 holding the file, or nullptr when this mount lacks it.
  virtual std::unique_ptr<TStream> OpenFile(const std::string& FileName) = 0;
  // -1 when the mount cannot tell.
  virtual int64_t GetFileSize(const std::string& FileName) = 0;

 protected:
  TfsManager* FManager;  // not owned, may be null
};

// A native directory.
class TfsMountDirectory : public TfsMount {
 public:
  TfsMountDirectory(const std::string& Directory, TfsManager* Manager);
  bool FileExists(const std::string& FileName) override;
  std::unique_ptr<TStream> OpenFile(const std::string& FileName) override;
  int64_t GetFileSize(const std::string& FileName) override;
  const std::string& Directory() const { return FDirectory; }

 private:
  std::string FDirectory;  // always ends with a path delimiter
};

// One entry of an archive's table: name length (signed 32-bit), the name's bytes (none when the
// length is 0 or less), offset and size (signed 64-bit), all little-endian, no padding.
class TfsMountArchiveTOCItem {
 public:
  // Raises EReadError when the entry runs past the end of the stream.
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;

  std::string Name;
  int64_t Offset = 0;  // absolute position of the data in the archive file
  int64_t Size = 0;
};

// A packed archive file: a signed 32-bit entry count (0 or less: empty table), the table entries
// back to back, and the entries' data wherever their offsets point. Lookups copy the entry into a
// memory stream. The file is untrusted: a table that cannot be read in full leaves the mount
// closed, and an entry whose data lies outside the file opens as nothing.
class TfsMountArchive : public TfsMount {
 public:
  // Raises when the file cannot be opened; an unreadable table leaves the mount closed (empty).
  TfsMountArchive(const std::string& FileName, TfsManager* Manager);
  ~TfsMountArchive() override;

  // False when the table cannot be read; the mount is then closed.
  bool Open(const std::string& FileName);
  void CloseArchive();
  // Reads the table again from the open file (rewritten in place); a table that cannot be read
  // closes the mount and the error passes on.
  void ReloadTOC();
  // First entry of exactly that name, or -1. Takes no lock.
  int32_t FindTOCItem(const std::string& Name);
  // Empty when closed.
  const std::string& FileName() const { return FFileName; }

  // Converts "\" to "/" before matching.
  bool FileExists(const std::string& FileName) override;
  // Match the name exactly.
  std::unique_ptr<TStream> OpenFile(const std::string& FileName) override;
  int64_t GetFileSize(const std::string& FileName) override;

 private:
  // These three take no lock; their callers hold FMutex.
  void Close();
  void ReadTOC();
  void ClearTOC() { FTOC.clear(); }

  SDL_mutex* FMutex = nullptr;
  std::string FFileName;
  std::unique_ptr<TStream> FStream;
  std::vector<TfsMountArchiveTOCItem> FTOC;
};

class TfsManager {
 public:
  TfsManager();
  virtual ~TfsManager();
  TfsManager(const TfsManager&) = delete;
  TfsManager& operator=(const TfsManager&) = delete;

  // On true the manager owns the mount; on false (null mount, mpModDir), or when it throws for want
  // of memory, the mount stays with the caller and no list holds it.
  // A mount may be mounted more than once, in one list or several; it is still freed only once.
  bool Mount(TfsMount* Mount, TfsMountPriority Priority);
  bool IsMounted(TfsMount* Mount, TfsMountPriority Priority);
  // Removes the mount's first entry in the list of that priority. With FreeMount the mount is freed
  // and its entries in every list go with it; without, it goes back to the caller once no list holds
  // it any more.
  void Unmount(TfsMount* Mount, TfsMountPriority Priority, bool FreeMount);
  // Takes no lock.
  int32_t IndexOfMount(TfsMount* Mount, TfsMountPriority Priority);
  void UnmountAll();

  void SetModDir(const std::string& Dir);
  std::string GetModDir();

  // Mode: a file stream open mode (fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate). Mounts are
  // asked for mode fmOpenRead only. nullptr when no source has the file.
  std::unique_ptr<TStream> LoadFileToStream(const std::string& FileName, uint16_t Mode);
  // nullptr when no source has the file. Closing the handle (SDL_RWclose) frees its stream and
  // the handle itself.
  SDL_RWops* LoadFileToRWops(const std::string& FileName, uint16_t Mode);
  // Without the mount lock, starting at Priority (and going down when Downward).
  std::unique_ptr<TStream> LoadFileToStreamFrom(const std::string& FileName, uint16_t Mode,
                                                TfsMountPriority Priority, bool Downward);
  // Never nullptr: when no file was found the handle has no stream and its callbacks return -1.
  SDL_RWops* LoadFileToRWopsFrom(const std::string& FileName, uint16_t Mode, TfsMountPriority Priority,
                                 bool Downward);
  bool FileExists(const std::string& FileName);
  // Takes no mount lock. mpModDir for the writing modes, and also when no source has the file or
  // the mode is unknown (that is where it would be created).
  TfsMountPriority FindMountPriority(const std::string& FileName, uint16_t Mode);
  // The native path of a file in the mod directory, or "" (mounts are not consulted).
  std::string GetRealFileName(const std::string& FileName);

 private:
  std::unique_ptr<TStream> LoadFileToStreamCheckModDir(const std::string& FileName, uint16_t Mode, bool Verbose);
  std::unique_ptr<TStream> AskMounts(TfsMountPriority Priority, const std::string& FileName);
  bool ModDirHas(const std::string& FileName, const std::string& ModDir);
  std::string ModDirCopy();
  friend void TfsMount::Release();
  // Removes the mount's entry from the highest list that holds it; false when none does.
  bool ReleaseMount(TfsMount* Mount);
  // The caller holds FMountMutex.
  bool HoldsMount(TfsMount* Mount) const;
  void HandBack(TfsMount* Mount);
  void FreeMountEntries(TfsMount* Mount);

  SDL_mutex* FMountMutex = nullptr;
  SDL_mutex* FModDirMutex = nullptr;
  // The lists hold entries; FOwned holds each mounted object once, so a mount that is in several
  // lists is freed once.
  std::array<std::vector<TfsMount*>, 6> FMounts;
  std::vector<std::unique_ptr<TfsMount>> FOwned;
  std::string FModDir;
};

std::string ConvertFileName(const std::string& FileName, TfsConversionTarget Target);

// An SDL read/write handle (type 2) over the stream; the handle owns the stream. Each callback
// answers -1 when the handle has no stream. Closing frees the stream and the handle record, as
// SDL's own handles do, so the handle must not be used or freed afterwards.
SDL_RWops* StreamToRWops(std::unique_ptr<TStream> Stream);
// Copies whatever can still be read from Source to Dest; nothing when either is null.
void CopyRWopsToStream(SDL_RWops* Source, TStream* Dest);
