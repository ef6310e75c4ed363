#pragma once
// Loads image files into OpenGL textures in two halves: a loader thread (or the caller, for an
// immediate load) reads and decodes the file and leaves a data object on a result queue; the main
// thread, which owns the GL context, drains the queue and so makes the textures.
#include <SDL/SDL.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/critical_sections.h"
#include "platform/thread.h"

class TfsManager;
class TtexManager;
class TtexTexture;
class TtexTexture2D;
class TtlThread;

enum TtlStatus : int32_t { tlsSuccess = 0, tlsEnqueued = 1, tlsFailed = 2 };
enum TtlLoadingMode : int32_t { tllmImmediate = 0, tllmQueue = 1 };

// Method pointer called with the thread, the file name and the status of a processed file.
struct TtlNotifyFile {
  using Function = void (*)(void* Object, TtlThread* Thread, const std::string& AFileName, TtlStatus Status);
  void* Object = nullptr;
  Function Code = nullptr;
  bool Assigned() const { return Code != nullptr; }
  void operator()(TtlThread* Thread, const std::string& AFileName, TtlStatus Status) const {
    Code(Object, Thread, AFileName, Status);
  }
};

// A queued file and the texture it is meant for (may be nullptr: a new texture is made).
struct TtlQueueEntry {
  std::string FileName;
  TtexTexture* Target = nullptr;
};

// A result of the loader, applied on the main thread.
class TtlDataObject {
 public:
  TtlDataObject() = default;
  virtual ~TtlDataObject() = default;
  TtlDataObject(const TtlDataObject&) = delete;
  TtlDataObject& operator=(const TtlDataObject&) = delete;
  virtual void Apply() = 0;
};

// A decoded image waiting to become a texture. Its creator sets the fields.
class TtlTextureDataObject : public TtlDataObject {
 public:
  ~TtlTextureDataObject() override;
  // Makes the texture and gives it to Target, or to a new texture of TexManager when Target is
  // nullptr. Main thread only.
  void Apply() override;

  TtexManager* TexManager = nullptr;  // not owned
  SDL_Surface* Surface = nullptr;     // owned
  TtexTexture2D* Target = nullptr;    // not owned
};

// The result queue: data objects pushed by any thread, applied by the main thread.
class TtlQueue {
 public:
  TtlQueue();
  ~TtlQueue();
  TtlQueue(const TtlQueue&) = delete;
  TtlQueue& operator=(const TtlQueue&) = delete;

  void Push(TtlDataObject* Item);  // takes ownership
  // Applies and frees every item, newest first. An item whose Apply raises is freed too; the
  // exception passes on and the items not yet applied stay queued.
  void ProcessItems();
  // Frees every item, oldest first, without applying it.
  void Clear();
  // The oldest item (the caller owns it), or nullptr.
  TtlDataObject* Pop();
  // Applies and frees the oldest item, if any.
  void ProcessNext();
  int32_t Count();

 private:
  SDL_mutex* Mutex;
  std::vector<std::unique_ptr<TtlDataObject>> Items;
};

// The file names waiting for the loader thread, guarded by the program's critical section.
class TtlFileQueue {
 public:
  TtlFileQueue();
  ~TtlFileQueue();
  TtlFileQueue(const TtlFileQueue&) = delete;
  TtlFileQueue& operator=(const TtlFileQueue&) = delete;

  void Push(const std::string& FileName, TtexTexture* Target);
  // The oldest entry, removed; an empty FileName and no Target when the queue is empty.
  TtlQueueEntry Pop();
  void Clear();
  int32_t Count();

 private:
  PstwCriticalSection Lock;
  std::vector<TtlQueueEntry> Names;
};

// Whether a loader thread object still exists. The thread clears `Alive` under `Mutex` right
// before it frees itself, so whoever holds the mutex and finds `Alive` true may use the object
// until it lets go of the mutex. Shared, so it outlives the thread.
struct TtlThreadLife {
  std::mutex Mutex;
  bool Alive = true;
};

// The loader thread: takes file names from its file queue and processes them; sleeps 500 ms when
// the queue is empty. Created with a 32 KB stack and freed by itself when it ends.
class TtlThread : public platform::Thread {
 public:
  static constexpr std::size_t kStackSize = 32768;

  // Unless CreateSuspended the thread starts at once. A derived class passes true and resumes at
  // the end of its own constructor, so the thread never runs on a half-built object.
  TtlThread(TtlQueue* ResultQueue, TfsManager* FileSystem, bool CreateSuspended);
  ~TtlThread() override;

  void Enqueue(const std::string& FileName, TtexTexture* Target);
  TtlNotifyFile GetOnNotifyFile();
  void SetOnNotifyFile(TtlNotifyFile Value);
  void DoNotifyFile(const std::string& AFileName, TtlStatus Status);
  // Loads one file; the base does nothing. Runs on the loader thread, or on the caller's thread
  // for an immediate load, so it only reads the object's fields.
  virtual TtlStatus ProcessFile(const std::string& FileName, TtexTexture* Target);

  std::shared_ptr<TtlThreadLife> Life() const { return life_; }

 protected:
  void Execute() override;
  void DoTerminate() override;

  SDL_mutex* Mutex;            // guards OnNotifyFile
  TtlQueue* ResultQueue;       // not owned
  std::unique_ptr<TtlFileQueue> FileQueue;
  TfsManager* FileSystem;      // not owned
  TtlNotifyFile OnNotifyFile;

 private:
  std::shared_ptr<TtlThreadLife> life_ = std::make_shared<TtlThreadLife>();
};

// Decodes image files (PNG and anything else SDL_image knows, with an explicit TGA fallback) into
// 32-bit surfaces and pushes them as texture data objects.
class TtlTextureThread : public TtlThread {
 public:
  TtlTextureThread(TtlQueue* ResultQueue, TfsManager* FileSystem, TtexManager* TexManager, bool CreateSuspended);
  TtlStatus ProcessFile(const std::string& FileName, TtexTexture* Target) override;

 protected:
  TtexManager* TexManager;  // not owned
};

// Hands loads to its thread and stops the thread at the end. The thread frees itself; the manager
// keeps the thread's life record and end signal, so it never touches a thread that has ended on
// its own (after an exception) and can wait for one that has already been freed.
class TtlManager {
 public:
  TtlManager() = default;
  // Stops the thread, waits for it to end, then waits another 3000 ms.
  ~TtlManager();
  TtlManager(const TtlManager&) = delete;
  TtlManager& operator=(const TtlManager&) = delete;

  // Asks the thread to terminate and, with Wait, blocks until it has ended and been freed. A
  // thread other than the manager's own must still exist when this is called.
  void StopThread(TtlThread* Thread, bool Wait);
  // Stops the current thread (without waiting) and takes the new one, which must not have ended.
  void SetThread(TtlThread* Thread);
  // tllmImmediate: decodes now on the calling thread (the texture exists after the result queue
  // is drained); tllmQueue: hands the file to the thread. tlsFailed without a living thread.
  TtlStatus LoadTexture(const std::string& FileName, TtlLoadingMode Mode, TtexTexture* Target);
  // The thread, or nullptr (also once the thread has ended on its own).
  TtlThread* GetThread();

 private:
  static void stop(TtlThread* thread, const std::shared_ptr<TtlThreadLife>& life,
                   const std::shared_ptr<platform::ThreadEndSignal>& end, bool wait);

  TtlThread* Thread = nullptr;
  std::shared_ptr<TtlThreadLife> thread_life_;
  std::shared_ptr<platform::ThreadEndSignal> thread_end_;
};
