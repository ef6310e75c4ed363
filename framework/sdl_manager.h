#pragma once
// The application skeleton: TsdlApplication with its initialisation levels, frame loop and clock,
// the version record, the window settings ("settings.dat") and ApplicationPath.
#include <SDL/SDL.h>

#include <cstdint>
#include <memory>
#include <string>

#include "framework/streams.h"

// The directory of the program's file with a trailing separator.
extern std::string ApplicationPath;

enum TsdlInitLevel : int32_t { ilSDL = 0, ilQuorl = 1, ilData = 2 };
using TsdlInitLevels = uint32_t;  // bit n set: level n reached
constexpr TsdlInitLevels InitLevelBit(TsdlInitLevel level) { return 1u << static_cast<uint32_t>(level); }

enum TsdlKeyActionMode : int32_t { kmPress = 0, kmRelease = 1 };
enum TsdlApplicationVersionStatus : int32_t {
  avsDevelopmentVersion = 0,
  avsPreAlpha = 1,
  avsAlpha = 2,
  avsBeta = 3,
  avsRelease = 4
};

struct TsdlApplicationVersionNumber {
  uint16_t Major;
  uint16_t Minor;
  uint16_t Build;
};

struct TsdlApplicationVersion {
  TsdlApplicationVersionNumber Number;
  TsdlApplicationVersionStatus Status;
};

struct TsdlMouseMotionEventData {
  uint8_t EventType;
  uint8_t Which;
  uint8_t State;
  int32_t X;
  int32_t Y;
  int16_t XRel;
  int16_t YRel;
};

struct TsdlMouseButtonEventData {
  uint8_t EventType;
  uint8_t Which;
  uint8_t Button;
  uint8_t State;
  int32_t X;
  int32_t Y;
};

TsdlApplicationVersion MakeApplicationVersion(uint16_t Major, uint16_t Minor, uint16_t Build,
                                              TsdlApplicationVersionStatus Status);
std::string VersionStatusToString(TsdlApplicationVersionStatus Status);
void InitTimer();
double GetTimeOfDayClock();

// The window settings and their binary file (7 bytes: width, height, depth as little-endian
// 16-bit words, then a full-screen byte).
class TsdlSettings {
 public:
  TsdlSettings() = default;
  virtual ~TsdlSettings() = default;
  virtual void SetDefaults();
  virtual void LoadFromStream(TStream& Stream);
  virtual void SaveToStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName, bool SetDefaultsOnFailure);
  void SaveToFile(const std::string& FileName);

  uint16_t Width = 0;
  uint16_t Height = 0;
  uint16_t BPP = 0;
  uint8_t Fullscreen = 0;  // 0: windowed; any other value full screen, kept as read so a save writes it back
};

// A descendant that overrides DoneData, DoneQuorl or DoneSDL calls DoneAll() in its own destructor:
// C++ no longer dispatches to the descendant's overrides once the base destructor runs. The base
// destructor's DoneAll then finds nothing left to undo.
// SIGINT and SIGTERM ask the running application to quit: RunApp reserves them for its own thread
// before starting any other, and every pass of the frame loop calls Quit once one has arrived.
void install_quit_signal_handlers();
bool quit_signal_received();

class TsdlApplication {
 public:
  explicit TsdlApplication(uint32_t Flags);
  virtual ~TsdlApplication();
  TsdlApplication(const TsdlApplication&) = delete;
  TsdlApplication& operator=(const TsdlApplication&) = delete;

  void RunApp();
  void InitAll();
  void DoneAll();
  TsdlInitLevels GetInitLevels();
  void SetInitLevels(TsdlInitLevels Levels);
  void AddInitLevel(TsdlInitLevel Level);
  void RemoveInitLevel(TsdlInitLevel Level);
  TsdlSettings* GetSettings();
  void Terminate() { Terminated = true; }
  bool IsTerminated() const { return Terminated; }
  void SaveSettings(const std::string& FileName);
  double GetRenderFPS() const { return RenderFPS; }
  double GetFPS() const { return FPS; }

  virtual std::string GetName() = 0;
  virtual TsdlApplicationVersion GetVersion() = 0;
  virtual std::string GetVersionString();
  virtual void WriteHeapTraceHeader();
  virtual void LoadSettings();
  virtual void InitSDL();
  virtual void InitQuorl();
  virtual void InitData();
  virtual void Idle() {}
  virtual void RenderFrame(float Delta) { (void)Delta; }
  virtual void SkipFrame() {}
  virtual void DoneData();
  virtual void DoneQuorl();
  virtual void DoneSDL();
  virtual void HandleEvent(SDL_Event Event) { (void)Event; }
  virtual void KeyEvent(SDL_keysym Key, TsdlKeyActionMode Mode) {
    (void)Key;
    (void)Mode;
  }
  virtual void MouseMotion(TsdlMouseMotionEventData Data) { (void)Data; }
  virtual void MouseButton(TsdlMouseButtonEventData Data, TsdlKeyActionMode Mode) {
    (void)Data;
    (void)Mode;
  }
  virtual void Quit() { Terminate(); }

 protected:
  // One pass of the frame loop (events, idle, paced frame, figures, 1 ms sleep).
  void frame_pass();
  // Hands one SDL event to its handler.
  void dispatch_event(const SDL_Event& Event);

  bool Terminated = false;
  SDL_mutex* InitLevelsMutex = nullptr;
  TsdlInitLevels InitLevels = 0;
  SDL_mutex* SettingsMutex = nullptr;
  double LastFrameTime = 0.0;
  double RenderFPS = 0.0;
  double FPS = 0.0;
  uint32_t RenderFrameCount = 0;
  double RenderTime = 0.0;
  uint32_t FrameCount = 0;
  double LoopTime = 0.0;
  std::unique_ptr<TsdlSettings> Settings;
  uint32_t StartTicks = 0;
};

// Module initialisation (sets ApplicationPath) and finalisation (empties it).
void InitSdlManagerModule();
void DoneSdlManagerModule();
