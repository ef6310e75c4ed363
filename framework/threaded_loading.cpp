#include "framework/threaded_loading.h"

#include "framework/sdl_lock.h"

#include <SDL/SDL_image.h>

#include "framework/fs_manager.h"
#include "framework/gl_binding.h"
#include "framework/helpers.h"
#include "framework/log_manager.h"
#include "framework/tex_manager.h"

namespace {
const char* const kProcessFile = "TtlTextureThread.ProcessFile";
const char* const kManagerDestroy = "TtlManager.Destroy";

class SectionLock {
 public:
  explicit SectionLock(PstwCriticalSection s) : s_(s) { stwEnterCriticalSection(s_); }
  ~SectionLock() { stwLeaveCriticalSection(s_); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

 private:
  PstwCriticalSection s_;
};
}  // namespace

// --- TtlTextureDataObject ---

TtlTextureDataObject::~TtlTextureDataObject() {
  if (Surface) SDL_FreeSurface(Surface);
}

void TtlTextureDataObject::Apply() {
  TgglTexture2D texture;
  if (Surface) SDLSurfaceToGLTexture(Surface, true, 0, texture);
  // No texture was made (no conversion surface, or no name from GL; the first case is logged):
  // the target keeps its texture and nothing is added to the manager.
  if (texture.ID != 0) {
    if (!Target && TexManager) Target = TexManager->AddTexture(texture.ID);
    if (Target) {
      Target->SetTextureName(texture.ID);
    } else {
      // Nobody to own the texture.
      const GLuint name = texture.ID;
      gl.glDeleteTextures(1, &name);
    }
  }
  if (Surface) SDL_FreeSurface(Surface);
  Surface = nullptr;
}

// --- TtlQueue ---

TtlQueue::TtlQueue() : Mutex(SDL_CreateMutex()) {}

TtlQueue::~TtlQueue() {
  Clear();
  SDL_DestroyMutex(Mutex);
}

void TtlQueue::Push(TtlDataObject* Item) {
  std::unique_ptr<TtlDataObject> item(Item);
  SdlMutexLock lock(Mutex);
  Items.push_back(std::move(item));
}

void TtlQueue::ProcessItems() {
  SdlMutexLock lock(Mutex);
  while (!Items.empty()) {
    // Out of the list before it is applied, so an Apply that raises leaves no freed item behind.
    std::unique_ptr<TtlDataObject> item = std::move(Items.back());
    Items.pop_back();
    item->Apply();
  }
}

void TtlQueue::Clear() {
  SdlMutexLock lock(Mutex);
  std::vector<std::unique_ptr<TtlDataObject>> items = std::move(Items);
  Items.clear();
  for (auto& item : items) item.reset();
}

TtlDataObject* TtlQueue::Pop() {
  SdlMutexLock lock(Mutex);
  if (Items.empty()) return nullptr;
  TtlDataObject* item = Items.front().release();
  Items.erase(Items.begin());
  return item;
}

void TtlQueue::ProcessNext() {
  SdlMutexLock lock(Mutex);
  if (Items.empty()) return;
  std::unique_ptr<TtlDataObject> item = std::move(Items.front());
  Items.erase(Items.begin());
  item->Apply();
}

int32_t TtlQueue::Count() {
  SdlMutexLock lock(Mutex);
  return static_cast<int32_t>(Items.size());
}

// --- TtlFileQueue ---

TtlFileQueue::TtlFileQueue() : Lock(stwCreateCriticalSection()) {}

TtlFileQueue::~TtlFileQueue() { stwDisposeCriticalSection(Lock); }

void TtlFileQueue::Push(const std::string& FileName, TtexTexture* Target) {
  SectionLock lock(Lock);
  Names.push_back(TtlQueueEntry{FileName, Target});
}

TtlQueueEntry TtlFileQueue::Pop() {
  SectionLock lock(Lock);
  if (Names.empty()) return TtlQueueEntry{};
  TtlQueueEntry entry = std::move(Names.front());
  Names.erase(Names.begin());
  return entry;
}

void TtlFileQueue::Clear() {
  SectionLock lock(Lock);
  Names.clear();
}

int32_t TtlFileQueue::Count() {
  SectionLock lock(Lock);
  return static_cast<int32_t>(Names.size());
}

// --- TtlThread ---

TtlThread::TtlThread(TtlQueue* ResultQueue_, TfsManager* FileSystem_, bool CreateSuspended)
    : platform::Thread(kStackSize),
      Mutex(nullptr),
      ResultQueue(ResultQueue_),
      FileQueue(std::make_unique<TtlFileQueue>()),
      FileSystem(FileSystem_) {
  SetFreeOnTerminate(true);
  Mutex = SDL_CreateMutex();
  if (!CreateSuspended) Resume();
}

TtlThread::~TtlThread() {
  SDL_DestroyMutex(Mutex);
  FileQueue.reset();
}

void TtlThread::Enqueue(const std::string& FileName, TtexTexture* Target) { FileQueue->Push(FileName, Target); }

TtlNotifyFile TtlThread::GetOnNotifyFile() {
  SdlMutexLock lock(Mutex);
  return OnNotifyFile;
}

void TtlThread::SetOnNotifyFile(TtlNotifyFile Value) {
  SdlMutexLock lock(Mutex);
  OnNotifyFile = Value;
}

void TtlThread::DoNotifyFile(const std::string& AFileName, TtlStatus Status) {
  const TtlNotifyFile notify = GetOnNotifyFile();
  if (notify.Assigned()) notify(this, AFileName, Status);
}

TtlStatus TtlThread::ProcessFile(const std::string&, TtexTexture*) { return tlsFailed; }

void TtlThread::Execute() {
  try {
    while (!Terminated()) {
      const TtlQueueEntry entry = FileQueue->Pop();
      if (!entry.FileName.empty()) {
        ProcessFile(entry.FileName, entry.Target);
      } else {
        SDL_Delay(500);
      }
    }
    SDL_Delay(10);
  } catch (const Exception& e) {
    if (GlobalLogFile) GlobalLogFile->LogException(lmetError, &e, "TtlThread.Execute", "");
  }
}

void TtlThread::DoTerminate() {
  // Past this point the object is about to be freed; a manager that holds the life record's
  // mutex keeps us here until it is done with the object.
  std::lock_guard<std::mutex> lock(life_->Mutex);
  life_->Alive = false;
}

// --- TtlTextureThread ---

TtlTextureThread::TtlTextureThread(TtlQueue* ResultQueue_, TfsManager* FileSystem_, TtexManager* TexManager_,
                                   bool CreateSuspended)
    : TtlThread(ResultQueue_, FileSystem_, true), TexManager(TexManager_) {
  if (!CreateSuspended) Resume();
}

TtlStatus TtlTextureThread::ProcessFile(const std::string& FileName, TtexTexture* Target) {
  LogGlobal(lmetDebug, "Processing file: " + FileName, kProcessFile);
  if (!FileSystem) {
    LogGlobal(lmetError, "No FileSystem given to texture thread!", kProcessFile);
    return tlsFailed;
  }
  LogGlobal(lmetDebug, "FileSystem found.", kProcessFile);

  SDL_RWops* source = FileSystem->LoadFileToRWops(FileName, fmOpenRead);
  if (!source) {
    LogGlobalFmt(lmetError,
                 "Couldn't open file '%s'. Maybe not found in filesystem and/or not available at gameserver.",
                 kProcessFile, FileName);
    return tlsFailed;
  }
  const int start = SDL_RWtell(source);
  SDL_Surface* image = IMG_Load_RW(source, 0);
  LogGlobal(lmetDebug, "Loaded", kProcessFile);
  if (!image) {
    LogGlobalFmt(lmetWarning, "Couldn't open file '%s'. Maybe it's tga, i'll try...", kProcessFile, FileName);
    SDL_RWseek(source, start, RW_SEEK_SET);
    image = IMG_LoadTyped_RW(source, 0, const_cast<char*>("TGA"));
    if (!image) {
      LogGlobalFmt(lmetError, "Sorry, even explicit TGA loading failed. %s", kProcessFile, std::string(IMG_GetError()));
      SDL_RWclose(source);  // the handle owns the file's stream
      return tlsFailed;
    }
    LogGlobal(lmetHint, "Success", kProcessFile);
  }
  SDL_RWclose(source);
  LogGlobal(lmetDebug, "Freed", kProcessFile);

  if (image->format->BitsPerPixel != 32) {
    SDL_Surface* converted =
        SDL_CreateRGBSurface(0, image->w, image->h, 32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF);
    if (!converted) {
      LogGlobalFmt(lmetHint,
                   "Couldn't create conversion surface. Uploading surface without conversion may cause display "
                   "errors. %s",
                   "ProcessFile", std::string(SDL_GetError()));
      LogGlobal(lmetError, "Unsupportet pixelformat for non-conversion uploading. Texture not loaded.", "ProcessFile");
      SDL_FreeSurface(image);
      return tlsFailed;
    }
    LogGlobal(lmetDebug, "Created final surface", kProcessFile);
    SDL_UpperBlit(image, nullptr, converted, nullptr);
    SDL_FreeSurface(image);
    image = converted;
  }
  LogGlobal(lmetDebug, "Blitted", kProcessFile);

  if (!ResultQueue) {
    SDL_FreeSurface(image);
    return tlsFailed;
  }
  auto* item = new TtlTextureDataObject;
  LogGlobal(lmetDebug, "Created texture data object", kProcessFile);
  item->Surface = image;
  item->TexManager = TexManager;
  item->Target = dynamic_cast<TtexTexture2D*>(Target);
  ResultQueue->Push(item);
  LogGlobal(lmetDebug, "Enqueued item.", kProcessFile);
  return tlsSuccess;
}

// --- TtlManager ---

TtlManager::~TtlManager() {
  LogGlobal(lmetInfo, "Terminating texture thread...", kManagerDestroy);
  StopThread(Thread, true);
  LogGlobal(lmetInfo, "Done.", kManagerDestroy);
  LogGlobal(lmetInfo, "Waiting for all threads to get freed...", kManagerDestroy);
  SDL_Delay(3000);
}

void TtlManager::stop(TtlThread* thread, const std::shared_ptr<TtlThreadLife>& life,
                      const std::shared_ptr<platform::ThreadEndSignal>& end, bool wait) {
  {
    std::lock_guard<std::mutex> lock(life->Mutex);
    if (!life->Alive) {
      // Ended on its own; it may be freed already, so it is not touched. Waiting on the end signal
      // below is still safe.
    } else if (thread->Started()) {
      // Free-on-terminate is set from creation, so the object frees itself once it has ended.
      thread->Terminate();
    } else {
      // Never started: run it, so that it sees the request, ends and frees itself.
      thread->Terminate();
      if (!thread->Resume()) {
        life->Alive = false;
        delete thread;
        end->Signal();
      }
    }
  }
  if (wait) end->Wait();
}

void TtlManager::StopThread(TtlThread* Thread_, bool Wait) {
  if (!Thread_) return;
  if (Thread_ == Thread) {
    stop(Thread_, thread_life_, thread_end_, Wait);
  } else {
    stop(Thread_, Thread_->Life(), Thread_->EndSignal(), Wait);
  }
}

void TtlManager::SetThread(TtlThread* Thread_) {
  if (Thread_ == Thread) return;
  StopThread(Thread, false);
  Thread = Thread_;
  thread_life_ = Thread_ ? Thread_->Life() : nullptr;
  thread_end_ = Thread_ ? Thread_->EndSignal() : nullptr;
}

TtlThread* TtlManager::GetThread() {
  if (!Thread) return nullptr;
  std::lock_guard<std::mutex> lock(thread_life_->Mutex);
  return thread_life_->Alive ? Thread : nullptr;
}

TtlStatus TtlManager::LoadTexture(const std::string& FileName, TtlLoadingMode Mode, TtexTexture* Target) {
  if (!Thread) return tlsFailed;
  const std::shared_ptr<TtlThreadLife> life = thread_life_;
  std::lock_guard<std::mutex> lock(life->Mutex);
  if (!life->Alive) return tlsFailed;  // the thread ended after an exception
  switch (Mode) {
    case tllmImmediate: return Thread->ProcessFile(FileName, Target);
    case tllmQueue:
      Thread->Enqueue(FileName, Target);
      return tlsEnqueued;
  }
  return tlsFailed;
}
