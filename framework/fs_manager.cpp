#include "framework/fs_manager.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "framework/log_manager.h"

namespace {

constexpr const char* kLoadSource = "TfsManager.LoadFileToStream";
constexpr const char* kCheckModDirSource = "TfsManager.LoadFileToStream CheckModDir";
constexpr const char* kRWopsSource = "TfsManager.LoadFileToRWops";

// Holds an SDL mutex for a scope; optionally logs a debug entry once it is released (also when an
// exception passes).
class ScopedLock {
 public:
  explicit ScopedLock(SDL_mutex* mutex, const char* unlocked_message = nullptr, const char* source = nullptr)
      : mutex_(mutex), unlocked_message_(unlocked_message), source_(source) {
    SDL_mutexP(mutex_);
  }
  ~ScopedLock() {
    SDL_mutexV(mutex_);
    if (unlocked_message_) LogGlobal(lmetDebug, unlocked_message_, source_);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  SDL_mutex* mutex_;
  const char* unlocked_message_;
  const char* source_;
};

// Only regular files count: a directory opened as a file stream would read as garbage, and a pipe
// or device would keep the reader waiting.
bool native_file_exists(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string with_trailing_delimiter(const std::string& dir) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir;
  return dir + "/";
}

bool valid_priority(TfsMountPriority priority) { return priority >= mpBase && priority <= mpDebug; }

// Room for one more element, growing geometrically; may throw, and then changes nothing.
template <typename T>
void reserve_one_more(std::vector<T>& list) {
  if (list.size() == list.capacity()) list.reserve(list.empty() ? 4 : 2 * list.size());
}

bool is_known_mode(uint16_t mode) {
  return mode == fmOpenRead || mode == fmOpenWrite || mode == fmOpenReadWrite || mode == fmCreate;
}

TStream* stream_of(SDL_RWops* context) { return static_cast<TStream*>(context->hidden.unknown.data1); }

int SDLCALL rw_seek(SDL_RWops* context, int offset, int whence) {
  TStream* stream = stream_of(context);
  if (!stream) return -1;
  switch (whence) {
    case RW_SEEK_SET: stream->Seek(offset, soBeginning); break;
    case RW_SEEK_CUR: stream->Seek(offset, soCurrent); break;
    case RW_SEEK_END: stream->Seek(offset, soEnd); break;
    default: break;
  }
  return static_cast<int>(stream->GetPosition());
}

int SDLCALL rw_read(SDL_RWops* context, void* ptr, int size, int maxnum) {
  TStream* stream = stream_of(context);
  if (!stream) return -1;
  if (size <= 0 || maxnum <= 0) return 0;
  int64_t bytes = static_cast<int64_t>(size) * maxnum;
  const int64_t position = stream->GetPosition();
  const int64_t stream_size = stream->GetSize();
  if (position + bytes > stream_size) bytes = stream_size - position;
  if (bytes <= 0) return 0;
  bytes = bytes / size * size;
  return static_cast<int>(stream->Read(ptr, bytes) / size);
}

int SDLCALL rw_write(SDL_RWops* context, const void* ptr, int size, int num) {
  TStream* stream = stream_of(context);
  if (!stream) return -1;
  if (size <= 0 || num <= 0) return 0;
  return static_cast<int>(stream->Write(ptr, static_cast<int64_t>(size) * num) / size);
}

int SDLCALL rw_close(SDL_RWops* context) {
  TStream* stream = stream_of(context);
  context->hidden.unknown.data1 = nullptr;
  delete stream;
  // SDL_RWclose ends the handle: SDL_image, SDL_ttf and SDL_mixer never free it themselves.
  SDL_FreeRW(context);
  return stream ? 0 : -1;
}

}  // namespace

std::string ConvertFileName(const std::string& FileName, TfsConversionTarget Target) {
  const char separator = Target == ctWindows ? '\\' : '/';
  std::string name = FileName;
  for (char& c : name)
    if (c == '/' || c == '\\') c = separator;
  // One pass: a tripled separator stays doubled.
  std::string result;
  result.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    result += name[i];
    if (name[i] == '/' && i + 1 < name.size() && name[i + 1] == '/') ++i;
  }
  return result;
}

TfsMountDirectory::TfsMountDirectory(const std::string& Directory, TfsManager* Manager)
    : TfsMount(Manager), FDirectory(with_trailing_delimiter(Directory)) {}

bool TfsMountDirectory::FileExists(const std::string& FileName) {
  return native_file_exists(ConvertFileName(FDirectory + FileName, ctNative));
}

std::unique_ptr<TStream> TfsMountDirectory::OpenFile(const std::string& FileName) {
  const std::string name = ConvertFileName(FDirectory + FileName, ctNative);
  if (!native_file_exists(name)) return nullptr;
  return std::make_unique<TFileStream>(name, fmOpenRead);
}

int64_t TfsMountDirectory::GetFileSize(const std::string&) { return -1; }

void TfsMountArchiveTOCItem::LoadFromStream(TStream& Stream) {
  int32_t length = 0;
  Stream.ReadBuffer(&length, sizeof length);
  Name.clear();
  if (length > 0) {
    // Checked before allocating: a corrupt length must not reserve gigabytes.
    if (length > Stream.GetSize() - Stream.GetPosition()) throw EReadError("Stream read error");
    Name.resize(static_cast<size_t>(length));
    Stream.ReadBuffer(&Name[0], length);
  }
  Stream.ReadBuffer(&Offset, sizeof Offset);
  Stream.ReadBuffer(&Size, sizeof Size);
}

void TfsMountArchiveTOCItem::SaveToStream(TStream& Stream) const {
  const auto length = static_cast<int32_t>(Name.size());
  Stream.WriteBuffer(&length, sizeof length);
  if (length > 0) Stream.WriteBuffer(Name.data(), length);
  Stream.WriteBuffer(&Offset, sizeof Offset);
  Stream.WriteBuffer(&Size, sizeof Size);
}

TfsMountArchive::TfsMountArchive(const std::string& FileName, TfsManager* Manager) : TfsMount(Manager) {
  FMutex = SDL_CreateMutex();
  try {
    Open(FileName);
  } catch (...) {
    SDL_DestroyMutex(FMutex);
    throw;
  }
}

TfsMountArchive::~TfsMountArchive() {
  CloseArchive();
  SDL_DestroyMutex(FMutex);
}

bool TfsMountArchive::Open(const std::string& FileName) {
  ScopedLock lock(FMutex);
  Close();
  FStream = std::make_unique<TFileStream>(FileName, fmOpenRead);
  FFileName = FileName;
  try {
    ReadTOC();
  } catch (const std::exception&) {
    Close();
    return false;
  }
  return true;
}

void TfsMountArchive::Close() {
  if (!FStream) return;
  ClearTOC();
  FStream.reset();
  FFileName.clear();
}

void TfsMountArchive::CloseArchive() {
  ScopedLock lock(FMutex);
  Close();
}

void TfsMountArchive::ReloadTOC() {
  ScopedLock lock(FMutex);
  if (!FStream) return;
  try {
    ReadTOC();
  } catch (...) {
    // Never keep half a table.
    Close();
    throw;
  }
}

void TfsMountArchive::ReadTOC() {
  ClearTOC();
  if (!FStream) return;
  FStream->SetPosition(0);
  int32_t count = 0;
  FStream->ReadBuffer(&count, sizeof count);
  if (count <= 0) return;
  // Every entry takes at least 20 bytes: a count the file cannot hold is refused before anything
  // is allocated for it.
  if (count > (FStream->GetSize() - FStream->GetPosition()) / 20) throw EReadError("Stream read error");
  FTOC.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    FTOC.emplace_back();
    FTOC.back().LoadFromStream(*FStream);
  }
}

int32_t TfsMountArchive::FindTOCItem(const std::string& Name) {
  for (size_t i = 0; i < FTOC.size(); ++i)
    if (FTOC[i].Name == Name) return static_cast<int32_t>(i);
  return -1;
}

bool TfsMountArchive::FileExists(const std::string& FileName) {
  const std::string name = ConvertFileName(FileName, ctLinux);
  ScopedLock lock(FMutex);
  return FindTOCItem(name) >= 0;
}

std::unique_ptr<TStream> TfsMountArchive::OpenFile(const std::string& FileName) {
  ScopedLock lock(FMutex);
  const int32_t index = FindTOCItem(FileName);
  if (index < 0 || !FStream) return nullptr;
  const TfsMountArchiveTOCItem& item = FTOC[static_cast<size_t>(index)];
  try {
    const int64_t archive_size = FStream->GetSize();
    if (item.Offset < 0 || item.Size < 0 || item.Offset > archive_size || item.Size > archive_size - item.Offset ||
        static_cast<uint64_t>(item.Size) > std::numeric_limits<size_t>::max() / 2)
      return nullptr;
    auto memory = std::make_unique<TMemoryStream>();
    memory->SetSize(item.Size);
    FStream->SetPosition(item.Offset);
    FStream->ReadBuffer(memory->Memory(), item.Size);
    memory->SetPosition(0);
    return memory;
  } catch (const std::exception&) {
    return nullptr;
  }
}

int64_t TfsMountArchive::GetFileSize(const std::string& FileName) {
  ScopedLock lock(FMutex);
  const int32_t index = FindTOCItem(FileName);
  return index < 0 ? -1 : FTOC[static_cast<size_t>(index)].Size;
}

TfsManager::TfsManager() {
  FMountMutex = SDL_CreateMutex();
  FModDirMutex = SDL_CreateMutex();
}

TfsManager::~TfsManager() {
  UnmountAll();
  SDL_DestroyMutex(FModDirMutex);
  SDL_DestroyMutex(FMountMutex);
}

bool TfsManager::Mount(TfsMount* Mount, TfsMountPriority Priority) {
  if (!Mount || !valid_priority(Priority)) return false;
  if (Priority == mpModDir) {
    LogGlobal(lmetWarning, "Tried to mount at mpModDir. Denied.", "TfsManager.Mount");
    return false;
  }
  ScopedLock lock(FMountMutex);
  auto& list = FMounts[Priority];
  const bool owned = HoldsMount(Mount);
  // Room in both lists before either changes: when an allocation fails, Mount throws and the mount
  // stays the caller's.
  if (!owned) reserve_one_more(FOwned);
  reserve_one_more(list);
  if (!owned) FOwned.emplace_back(Mount);
  list.push_back(Mount);
  return true;
}

bool TfsManager::IsMounted(TfsMount* Mount, TfsMountPriority Priority) {
  if (Priority == mpModDir || !valid_priority(Priority)) return false;
  ScopedLock lock(FMountMutex);
  return IndexOfMount(Mount, Priority) >= 0;
}

void TfsManager::Unmount(TfsMount* Mount, TfsMountPriority Priority, bool FreeMount) {
  if (Priority == mpModDir || !valid_priority(Priority)) return;
  ScopedLock lock(FMountMutex);
  const int32_t index = IndexOfMount(Mount, Priority);
  if (index < 0) return;
  auto& list = FMounts[Priority];
  list.erase(list.begin() + index);
  if (FreeMount)
    FreeMountEntries(Mount);
  else
    HandBack(Mount);
}

int32_t TfsManager::IndexOfMount(TfsMount* Mount, TfsMountPriority Priority) {
  if (!valid_priority(Priority)) return -1;
  const auto& list = FMounts[Priority];
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i] == Mount) return static_cast<int32_t>(i);
  return -1;
}

void TfsManager::UnmountAll() {
  ScopedLock lock(FMountMutex);
  for (int p = mpBase; p <= mpDebug; ++p) {
    auto& list = FMounts[static_cast<size_t>(p)];
    while (!list.empty()) FreeMountEntries(list.front());
  }
}

bool TfsManager::HoldsMount(TfsMount* Mount) const {
  for (const auto& list : FMounts)
    if (std::find(list.begin(), list.end(), Mount) != list.end()) return true;
  return false;
}

void TfsManager::HandBack(TfsMount* Mount) {
  if (HoldsMount(Mount)) return;
  for (auto it = FOwned.begin(); it != FOwned.end(); ++it)
    if (it->get() == Mount) {
      it->release();
      FOwned.erase(it);
      return;
    }
}

void TfsManager::FreeMountEntries(TfsMount* Mount) {
  for (auto& list : FMounts) list.erase(std::remove(list.begin(), list.end(), Mount), list.end());
  for (auto it = FOwned.begin(); it != FOwned.end(); ++it)
    if (it->get() == Mount) {
      std::unique_ptr<TfsMount> owned = std::move(*it);
      FOwned.erase(it);
      return;  // freed here, after it left every list
    }
}

bool TfsManager::ReleaseMount(TfsMount* Mount) {
  ScopedLock lock(FMountMutex);
  for (int p = mpDebug; p >= mpBase; --p) {
    const auto priority = static_cast<TfsMountPriority>(p);
    const int32_t index = IndexOfMount(Mount, priority);
    if (index < 0) continue;
    auto& list = FMounts[priority];
    list.erase(list.begin() + index);
    HandBack(Mount);
    return true;
  }
  return false;
}

void TfsMount::Release() {
  if (FManager && FManager->ReleaseMount(this)) return;
  delete this;
}

void TfsManager::SetModDir(const std::string& Dir) {
  ScopedLock lock(FModDirMutex);
  FModDir = with_trailing_delimiter(Dir);
}

std::string TfsManager::GetModDir() { return ModDirCopy(); }

std::string TfsManager::ModDirCopy() {
  ScopedLock lock(FModDirMutex);
  return FModDir;
}

bool TfsManager::ModDirHas(const std::string& FileName, const std::string& ModDir) {
  return native_file_exists(ConvertFileName(ModDir + FileName, ctNative));
}

std::unique_ptr<TStream> TfsManager::LoadFileToStreamCheckModDir(const std::string& FileName, uint16_t Mode,
                                                                 bool Verbose) {
  const char* const src = kCheckModDirSource;
  if (Verbose) LogGlobal(lmetDebug, "Locking FModDirMutex", src);
  ScopedLock lock(FModDirMutex, Verbose ? "Unlocked FModDirMutex" : nullptr, src);
  if (Verbose) LogGlobal(lmetDebug, "Locked FModDirMutex", src);
  const std::string name = ConvertFileName(FModDir + FileName, ctNative);
  if (Verbose) LogGlobal(lmetDebug, "converted filename", src);
  switch (Mode) {
    case fmOpenRead:
    case fmOpenWrite:
    case fmOpenReadWrite: {
      if (Verbose) LogGlobal(lmetDebug, "Checking for existance.", src);
      if (!native_file_exists(name)) return nullptr;
      auto stream = std::make_unique<TFileStream>(name, Mode);
      if (Verbose) LogGlobal(lmetDebug, "Created file stream.", src);
      return stream;
    }
    case fmCreate: return std::make_unique<TFileStream>(name, fmCreate);
    default: LogGlobalFmt(lmetError, "Unknown stream mode: %d", src, Mode); return nullptr;
  }
}

std::unique_ptr<TStream> TfsManager::AskMounts(TfsMountPriority Priority, const std::string& FileName) {
  const auto& list = FMounts[Priority];
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (auto stream = (*it)->OpenFile(FileName)) return stream;
  return nullptr;
}

std::unique_ptr<TStream> TfsManager::LoadFileToStream(const std::string& FileName, uint16_t Mode) {
  LogGlobal(lmetDebug, "Locking FMountMutex", kLoadSource);
  ScopedLock lock(FMountMutex, "Unlocked FMountMutex", kLoadSource);
  LogGlobal(lmetDebug, "Locked FMountMutex", kLoadSource);
  switch (Mode) {
    case fmOpenRead:
      for (int p = mpDebug; p >= mpBase; --p) {
        const auto priority = static_cast<TfsMountPriority>(p);
        auto stream = priority == mpModDir ? LoadFileToStreamCheckModDir(FileName, Mode, true)
                                           : AskMounts(priority, FileName);
        if (stream) return stream;
      }
      return nullptr;
    case fmOpenWrite:
    case fmOpenReadWrite:
    case fmCreate: return LoadFileToStreamCheckModDir(FileName, Mode, true);
    default: LogGlobalFmt(lmetError, "Unknown stream mode: %d", kLoadSource, Mode); return nullptr;
  }
}

SDL_RWops* TfsManager::LoadFileToRWops(const std::string& FileName, uint16_t Mode) {
  LogGlobal(lmetDebug, "Getting from stream", kRWopsSource);
  auto stream = LoadFileToStream(FileName, Mode);
  if (!stream) {
    LogGlobal(lmetDebug, "Result is nil", kRWopsSource);
    return nullptr;
  }
  LogGlobal(lmetDebug, "Converting to RWops", kRWopsSource);
  return StreamToRWops(std::move(stream));
}

std::unique_ptr<TStream> TfsManager::LoadFileToStreamFrom(const std::string& FileName, uint16_t Mode,
                                                          TfsMountPriority Priority, bool Downward) {
  if (!valid_priority(Priority)) return nullptr;
  if (Mode == fmOpenRead) {
    const int last = Downward ? mpBase : Priority;
    for (int p = Priority; p >= last; --p) {
      const auto priority = static_cast<TfsMountPriority>(p);
      auto stream = priority == mpModDir ? LoadFileToStreamCheckModDir(FileName, Mode, false)
                                         : AskMounts(priority, FileName);
      if (stream) return stream;
    }
    return nullptr;
  }
  if (!is_known_mode(Mode)) return nullptr;
  if (Priority == mpModDir || (Downward && Priority > mpModDir))
    return LoadFileToStreamCheckModDir(FileName, Mode, false);
  return nullptr;
}

SDL_RWops* TfsManager::LoadFileToRWopsFrom(const std::string& FileName, uint16_t Mode, TfsMountPriority Priority,
                                           bool Downward) {
  return StreamToRWops(LoadFileToStreamFrom(FileName, Mode, Priority, Downward));
}

bool TfsManager::FileExists(const std::string& FileName) {
  ScopedLock lock(FMountMutex);
  for (int p = mpDebug; p >= mpBase; --p) {
    if (p == mpModDir) {
      ScopedLock mod_dir_lock(FModDirMutex);
      if (ModDirHas(FileName, FModDir)) return true;
      continue;
    }
    const auto& list = FMounts[static_cast<size_t>(p)];
    for (auto it = list.rbegin(); it != list.rend(); ++it)
      if ((*it)->FileExists(FileName)) return true;
  }
  LogGlobalFmt(lmetWarning, "File not found: %s", "TfsManager.FileExists", FileName);
  return false;
}

TfsMountPriority TfsManager::FindMountPriority(const std::string& FileName, uint16_t Mode) {
  if (Mode != fmOpenRead) return mpModDir;
  const std::string mod_dir = ModDirCopy();
  for (int p = mpDebug; p >= mpBase; --p) {
    const auto priority = static_cast<TfsMountPriority>(p);
    if (priority == mpModDir) {
      if (ModDirHas(FileName, mod_dir)) return mpModDir;
      continue;
    }
    const auto& list = FMounts[priority];
    for (auto it = list.rbegin(); it != list.rend(); ++it)
      if ((*it)->FileExists(FileName)) return priority;
  }
  return mpModDir;
}

std::string TfsManager::GetRealFileName(const std::string& FileName) {
  const char* const src = "TfsManager.GetRealFileName";
  const std::string s = !FileName.empty() && FileName[0] == '/' ? FileName.substr(1) : FileName;
  const std::string mod_dir = ModDirCopy();
  LogGlobalFmt(lmetDebug, "Looking up native file name of '%s' (moddir=%s).", src, s, mod_dir);
  const std::string name = ConvertFileName(mod_dir + s, ctNative);
  if (native_file_exists(name)) return name;
  LogGlobalFmt(lmetWarning, "Could not find file on native file system: '%s'.", src, FileName);
  return "";
}

SDL_RWops* StreamToRWops(std::unique_ptr<TStream> Stream) {
  SDL_RWops* handle = SDL_AllocRW();
  if (!handle) return nullptr;
  handle->type = 2;
  handle->hidden.unknown.data1 = Stream.release();
  handle->seek = rw_seek;
  handle->read = rw_read;
  handle->write = rw_write;
  handle->close = rw_close;
  return handle;
}

void CopyRWopsToStream(SDL_RWops* Source, TStream* Dest) {
  if (!Source || !Dest) return;
  std::vector<uint8_t> buffer(1024);
  for (;;) {
    const int got = Source->read(Source, buffer.data(), 1, static_cast<int>(buffer.size()));
    if (got <= 0) break;
    Dest->WriteBuffer(buffer.data(), got);
  }
}
