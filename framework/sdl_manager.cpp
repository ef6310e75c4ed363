#include "framework/sdl_manager.h"

#include <cstdio>

#include "framework/format.h"
#include "framework/helpers.h"
#include "framework/log_manager.h"
#include "framework/sdl_lock.h"
#include "platform/clock.h"
#include "platform/program_path.h"
#include "platform/quit_signal.h"

std::string ApplicationPath;

namespace {
const char* const kRunApp = "TsdlApplication.RunApp";

// Difference of two clock readings, corrected across one minute wrap.
double clock_diff(double later, double earlier) {
  double d = later - earlier;
  if (earlier > later) d += 60.0;
  return d;
}

}  // namespace

// The frame loop turns a quit signal into Quit, so that a program asked to end by a signal shuts
// down as on Escape and keeps its logs whole.
void install_quit_signal_handlers() { platform::watch_quit_signals(); }

bool quit_signal_received() { return platform::quit_requested(); }

TsdlApplicationVersion MakeApplicationVersion(uint16_t Major, uint16_t Minor, uint16_t Build,
                                              TsdlApplicationVersionStatus Status) {
  return TsdlApplicationVersion{{Major, Minor, Build}, Status};
}

std::string VersionStatusToString(TsdlApplicationVersionStatus Status) {
  switch (Status) {
    case avsDevelopmentVersion: return "development edition";
    case avsPreAlpha: return "pre-alpha";
    case avsAlpha: return "alpha";
    case avsBeta: return "beta";
    default: return "";
  }
}

void InitTimer() {
  const platform::ClockInfo info = platform::clock_info();
  LogGlobal(lmetInfo, info.UsingMessage, "InitTimer");
  if (info.HasFrequency) LogGlobalFmt(lmetDebug, "Counter frequency is %d.", "InitTimer", info.Frequency);
}

double GetTimeOfDayClock() { return platform::clock_seconds(); }

// --- TsdlSettings ---

void TsdlSettings::SetDefaults() {
  Width = 800;
  Height = 600;
  BPP = 32;
  Fullscreen = 0;
}

void TsdlSettings::LoadFromStream(TStream& Stream) {
  // Bytes land low byte first; a field the stream covers only partly keeps its missing bytes.
  uint8_t bytes[2];
  auto read16 = [&](uint16_t& field) {
    const int64_t n = Stream.Read(bytes, 2);
    if (n >= 1) field = static_cast<uint16_t>((field & 0xFF00u) | bytes[0]);
    if (n >= 2) field = static_cast<uint16_t>((field & 0x00FFu) | (bytes[1] << 8));
  };
  read16(Width);
  read16(Height);
  read16(BPP);
  uint8_t full = 0;
  if (Stream.Read(&full, 1) == 1) Fullscreen = full;
}

void TsdlSettings::SaveToStream(TStream& Stream) {
  const uint8_t bytes[7] = {static_cast<uint8_t>(Width & 0xFF), static_cast<uint8_t>(Width >> 8),
                            static_cast<uint8_t>(Height & 0xFF), static_cast<uint8_t>(Height >> 8),
                            static_cast<uint8_t>(BPP & 0xFF), static_cast<uint8_t>(BPP >> 8),
                            Fullscreen};
  Stream.Write(bytes, 7);
}

void TsdlSettings::LoadFromFile(const std::string& FileName, bool SetDefaultsOnFailure) {
  if (!FileExists(FileName)) {
    if (SetDefaultsOnFailure) SetDefaults();
    return;
  }
  TFileStream file(FileName, fmOpenRead);
  try {
    LoadFromStream(file);
  } catch (const Exception&) {
    if (SetDefaultsOnFailure) SetDefaults();
  }
}

void TsdlSettings::SaveToFile(const std::string& FileName) {
  TFileStream file(FileName, fmCreate);
  SaveToStream(file);
}

// --- TsdlApplication ---

TsdlApplication::TsdlApplication(uint32_t Flags) {
  Terminated = false;
  if (SDL_Init(Flags) < 0) std::printf("%s\n", SDL_GetError());
  InitLevelsMutex = SDL_CreateMutex();
  SettingsMutex = SDL_CreateMutex();
  RenderFPS = FPS = RenderTime = LoopTime = 0.0;
  RenderFrameCount = FrameCount = 0;
  SetInitLevels(0);
}

TsdlApplication::~TsdlApplication() {
  try {
    DoneAll();
  } catch (...) {
    // A destructor must not throw; the Done steps log their own failures.
  }
  for (SDL_mutex** m : {&InitLevelsMutex, &SettingsMutex}) {
    if (*m) {
      SDL_mutexP(*m);
      SDL_mutexV(*m);
      SDL_DestroyMutex(*m);
      *m = nullptr;
    }
  }
  SDL_Quit();
  FreeAndNilObject(GlobalLogFile);
}

std::string TsdlApplication::GetVersionString() {
  const TsdlApplicationVersion v = GetVersion();
  std::string s = VersionStatusToString(v.Status);
  if (!s.empty()) s = " " + s;
  return Format("V%d.%d.%d%s", v.Number.Major, v.Number.Minor, v.Number.Build, s);
}

void TsdlApplication::WriteHeapTraceHeader() {
  const TgglSplitParamList values = GetCommandLineParams({"-h"}, {}, "", 1);
  const std::string name = !values[0].empty() ? values[0] : ApplicationPath + "heaptrc.txt";
  // The heap trace never takes the place of one of the program's own logs, whatever the name
  // it is given by.
  for (const char* log : {"log.txt", "log.html", "log.html.css"}) {
    if (SameFile(name, ApplicationPath + log)) {
      LogGlobalFmt(lmetWarning, "The heap-trace file '%s' is the log '%s'; no heap trace is written.",
                   "TsdlApplication.WriteHeapTraceHeader", name, ApplicationPath + log);
      return;
    }
  }
  const std::unique_ptr<TFileStream> file = TFileStream::OpenUnlessPipe(name, fmCreate);
  if (!file) {
    std::fprintf(stderr, "Not writing the heap trace \"%s\": not a regular file.\n", name.c_str());
    return;
  }
  const std::string line = "*** HeapTrc dump of " + GetName() + " " + GetVersionString() + " ***\r\n";
  const std::string stars = std::string(line.size() >= 2 ? line.size() - 2 : 0, '*') + "\r\n";
  file->WriteString(stars);
  file->WriteString(line);
  file->WriteString(stars);
}

void TsdlApplication::LoadSettings() {
  auto settings = std::make_unique<TsdlSettings>();
  settings->LoadFromFile(ApplicationPath + "settings.dat", true);
  SdlMutexLock lock(SettingsMutex);
  Settings = std::move(settings);
}

void TsdlApplication::InitSDL() { AddInitLevel(ilSDL); }
void TsdlApplication::InitQuorl() { AddInitLevel(ilQuorl); }
void TsdlApplication::InitData() { AddInitLevel(ilData); }
void TsdlApplication::DoneData() { RemoveInitLevel(ilData); }
void TsdlApplication::DoneQuorl() { RemoveInitLevel(ilQuorl); }
void TsdlApplication::DoneSDL() { RemoveInitLevel(ilSDL); }

void TsdlApplication::InitAll() {
  WriteHeapTraceHeader();
  LoadSettings();
  InitSDL();
  InitQuorl();
  InitData();
}

void TsdlApplication::DoneAll() {
  if (GetInitLevels() & InitLevelBit(ilData)) DoneData();
  if (GetInitLevels() & InitLevelBit(ilQuorl)) DoneQuorl();
  if (GetInitLevels() & InitLevelBit(ilSDL)) DoneSDL();
  std::unique_ptr<TsdlSettings> settings;
  {
    SdlMutexLock lock(SettingsMutex);
    settings = std::move(Settings);
  }
}

TsdlInitLevels TsdlApplication::GetInitLevels() {
  SdlMutexLock lock(InitLevelsMutex);
  return InitLevels;
}

void TsdlApplication::SetInitLevels(TsdlInitLevels Levels) {
  SdlMutexLock lock(InitLevelsMutex);
  InitLevels = Levels;
}

void TsdlApplication::AddInitLevel(TsdlInitLevel Level) { SetInitLevels(GetInitLevels() | InitLevelBit(Level)); }

void TsdlApplication::RemoveInitLevel(TsdlInitLevel Level) { SetInitLevels(GetInitLevels() & ~InitLevelBit(Level)); }

TsdlSettings* TsdlApplication::GetSettings() {
  SdlMutexLock lock(SettingsMutex);
  return Settings.get();
}

void TsdlApplication::SaveSettings(const std::string& FileName) {
  if (Settings) Settings->SaveToFile(FileName);
}

void TsdlApplication::RunApp() {
  GlobalLogFile = new TlmLogFile(ApplicationPath + "log.txt", lmlmOverwrite, ApplicationPath + "log.html");
  StartTicks = SDL_GetTicks();
  GlobalLogFile->SetMinLevel(lmetDebug);
  GlobalLogFile->SetEchoToConsole(true);
  GlobalLogFile->Log(lmetInfo, GetName() + " " + GetVersionString() + " starting up.", kRunApp);
  InitTimer();
  // Before any thread starts, so that only this thread ever takes the quit signals. SDL's own
  // handler (which queues a quit event, and may find the queue full) then never runs.
  install_quit_signal_handlers();

  try {
    InitAll();
    GlobalLogFile->Log(lmetInfo, GetName() + " " + GetVersionString() + " initialized.", kRunApp);
  } catch (const Exception& e) {
    GlobalLogFile->LogException(lmetFatal, &e, kRunApp, "during initialization.");
    DoneAll();
    throw;
  } catch (...) {
    GlobalLogFile->Log(lmetFatal, "Exception occured during initialization. Couldn't identify exception.", kRunApp);
    DoneAll();
    throw;
  }

  try {
    LastFrameTime = GetTimeOfDayClock();
    while (!Terminated) frame_pass();
    const uint32_t now = SDL_GetTicks();
    const int64_t elapsed = static_cast<int64_t>(now) - static_cast<int64_t>(StartTicks);
    GlobalLogFile->LogFmt(lmetInfo, "Runtime: %0.2f secs", kRunApp, static_cast<long double>(elapsed) / 1000.0L);
  } catch (const Exception& e) {
    GlobalLogFile->LogException(lmetFatal, &e, kRunApp, "");
    DoneAll();
    GlobalLogFile->Log(lmetInfo, GetName() + " " + GetVersionString() + " shut down.", kRunApp);
  }
}

void TsdlApplication::dispatch_event(const SDL_Event& Event) {
  switch (Event.type) {
    case SDL_KEYDOWN: KeyEvent(Event.key.keysym, kmPress); break;
    case SDL_KEYUP: KeyEvent(Event.key.keysym, kmRelease); break;
    case SDL_MOUSEMOTION: {
      TsdlMouseMotionEventData d{Event.motion.type, Event.motion.which, Event.motion.state,
                                 static_cast<int32_t>(Event.motion.x), static_cast<int32_t>(Event.motion.y),
                                 Event.motion.xrel, Event.motion.yrel};
      MouseMotion(d);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      TsdlMouseButtonEventData d{Event.button.type, Event.button.which, Event.button.button, Event.button.state,
                                 static_cast<int32_t>(Event.button.x), static_cast<int32_t>(Event.button.y)};
      MouseButton(d, Event.type == SDL_MOUSEBUTTONDOWN ? kmPress : kmRelease);
      break;
    }
    case SDL_QUIT: Quit(); break;
    default: HandleEvent(Event); break;
  }
}

void TsdlApplication::frame_pass() {
  const double t0 = GetTimeOfDayClock();
  SDL_Event event;
  while (SDL_PollEvent(&event)) dispatch_event(event);
  if (quit_signal_received() && !Terminated) Quit();
  Idle();
  const double now = GetTimeOfDayClock();
  const double delta = clock_diff(now, LastFrameTime);
  if (delta < 0.01) {
    SkipFrame();
  } else {
    LastFrameTime = now;
    const double t1 = GetTimeOfDayClock();
    RenderFrame(static_cast<float>(delta));
    ++RenderFrameCount;
    ++FrameCount;
    const double t2 = GetTimeOfDayClock();
    RenderTime += clock_diff(t2, t1);
    if (RenderTime >= 1.0) {
      RenderFPS = RenderFrameCount / RenderTime;
      RenderFrameCount = 0;
      RenderTime = 0.0;
    }
  }
  const double t3 = GetTimeOfDayClock();
  LoopTime += clock_diff(t3, t0);
  if (LoopTime >= 1.0) {
    FPS = FrameCount / LoopTime;
    FrameCount = 0;
    LoopTime = 0.0;
  }
  SDL_Delay(1);
}

void InitSdlManagerModule() { ApplicationPath = platform::program_directory(); }

void DoneSdlManagerModule() { ApplicationPath.clear(); }
