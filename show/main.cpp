#include "show/main.h"

#include <SDL/SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

#include "framework/gl_binding.h"
#include "framework/log_manager.h"
#include "framework/random.h"
#include "show/firework_catalogue.h"
#include "show/show_settings.h"

namespace {
const char* const kInitError = "Initialization error. See log for details.";
const char* const kMelody = "songs/bbb/melody.txt";
const char* const kGuitar = "songs/bbb/guitar.txt";
const char* const kParticleTexture = "tex/particles.png";

void log_info(const std::string& message, const std::string& source) { LogGlobal(lmetInfo, message, source); }
}  // namespace

TFirework::TFirework(uint32_t Flags) : TsdlApplication(Flags) {}

TFirework::~TFirework() {
  DoneAll();
  SongScript.reset();
}

std::string TFirework::GetName() { return "Quorl Sparkade"; }

TsdlApplicationVersion TFirework::GetVersion() { return MakeApplicationVersion(0, 9, 0, avsRelease); }

void TFirework::LoadSettings() {
  TsdlApplication::LoadSettings();
  const ShowIniSettings ini = ReadShowIniSettings(ApplicationPath + "settings.ini");
  TsdlSettings* settings = GetSettings();
  // SDL's video is up (the constructor started it): before the first video mode, the video info
  // holds the display's size.
  const SDL_VideoInfo* display = SDL_GetVideoInfo();
  const ShowIniSettings defaults;
  settings->Width = WindowDimension("width", ini.Width, defaults.Width, display ? display->current_w : 0);
  settings->Height = WindowDimension("height", ini.Height, defaults.Height, display ? display->current_h : 0);
  settings->Fullscreen = ini.Fullscreen;
  AudioLag = ini.AudioLag;
  Smoke = ini.Smoke;
  DepthSort = ini.DepthSort;
  if (GlobalLogFile) GlobalLogFile->SetMinLevel(lmetInfo);
}

void TFirework::InitSDL() {
  const std::string source = "TFirework.InitSDL";
  log_info("SDL core initialized.", source);
  if (TTF_Init() != 0) {
    LogGlobalFmt(lmetFatal, "Could not initialize font rendering. %s", source, TTF_GetError());
    SDL_Quit();
    throw Exception(kInitError);
  }
  log_info("TTF initialized.", source);
  if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 1024) != 0) {
    LogGlobalFmt(lmetFatal, "Could not initialize audio output. %s", source, Mix_GetError());
    TTF_Quit();
    SDL_Quit();
    throw Exception(kInitError);
  }
  VideoInfo = SDL_GetVideoInfo();
  if (!VideoInfo) {
    LogGlobalFmt(lmetFatal, "Could not get video info. %s", source, SDL_GetError());
    TTF_Quit();
    Mix_CloseAudio();
    SDL_Quit();
    throw Exception(kInitError);
  }
  VideoFlags = SDL_OPENGL | SDL_HWPALETTE | SDL_DOUBLEBUF;
  if (VideoInfo->hw_available || VideoInfo->wm_available) {
    VideoFlags |= SDL_HWSURFACE;
    log_info("Hardware support available.", source);
  } else {
    log_info("Hardware support not available. Using software surface.", source);
  }
  TsdlSettings* settings = GetSettings();
  if (settings->Fullscreen) VideoFlags |= SDL_FULLSCREEN;
  if (VideoInfo->blit_hw || VideoInfo->blit_hw_CC || VideoInfo->blit_hw_A || VideoInfo->blit_sw ||
      VideoInfo->blit_sw_CC || VideoInfo->blit_sw_A || VideoInfo->blit_fill) {
    VideoFlags |= SDL_HWACCEL;
    log_info("Hardware blitting available.", source);
  } else {
    log_info("Hardware blitting not available.", source);
  }
  SDL_WM_SetCaption("Quorl Sparkade", nullptr);
  log_info("Caption set", source);

  auto attributes = [](int r, int g, int b, int a, int buffers, int samples) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, a);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, buffers);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
  };
  const int width = settings->Width, height = settings->Height;
  attributes(8, 8, 8, 8, 1, 4);
  std::printf("%dx%d\n", width, height);
  std::fflush(stdout);
  Screen = SDL_SetVideoMode(width, height, settings->BPP, VideoFlags);
  if (!Screen) {
    attributes(8, 8, 8, 8, 0, 0);
    Screen = SDL_SetVideoMode(width, height, 15, VideoFlags);
  }
  if (!Screen) {
    attributes(5, 6, 5, 0, 0, 0);
    Screen = SDL_SetVideoMode(width, height, 15, VideoFlags);
  }
  if (!Screen) {
    LogGlobalFmt(lmetFatal, "Couldn't get video surface. Please install latest graphics drivers and retry. %s",
                 "TsdlStrategyGame.InitSDL", SDL_GetError());
    TTF_Quit();
    Mix_CloseAudio();
    SDL_Quit();
    throw Exception(kInitError);
  }
  log_info("Window initialized.", source);
  SDL_EnableUNICODE(1);
  SDL_EnableKeyRepeat(500, 30);
  log_info("Settings initiaized.", source);
  log_info("SDL setup finished", source);
  TsdlApplication::InitSDL();
}

void TFirework::InitQuorl() {
  const std::string source = "TFirework.InitQuorl";
  std::string error;
  if (!LoadOpenGL(DefaultGLLibraryName(), DefaultGLULibraryName(), &error)) {
    LogGlobal(lmetFatal, "Could not initialize OpenGL. Install latest graphic drivers and retry.", source);
    throw Exception(kInitError);
  }
  log_info("Initialized quorlOpenGL.", source);
  if (GlobalLogFile) GlobalLogFile->LogExtensions();
  gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  gl.glClearDepth(1.0);
  gl.glDisable(GL_DEPTH_TEST);
  gl.glDepthFunc(GL_LEQUAL);
  gl.glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  log_info("OpenGL settings applied.", source);
  TsdlSettings* settings = GetSettings();
  SetupProjection(1, 0, 0, settings->Width, settings->Height);
  TsdlApplication::InitQuorl();
}

void TFirework::SetupProjection(int32_t Mode, int32_t Top, int32_t Left, int32_t Right, int32_t Bottom) {
  gl.glViewport(Left, Top, Right - Left, Bottom - Top);
  gl.glMatrixMode(GL_PROJECTION);
  gl.glLoadIdentity();
  if (Mode == 1) {
    gl.gluPerspective(75.0, static_cast<double>(Right - Left) / static_cast<double>(Bottom - Top), 0.1, 100.0);
  } else if (Mode == 0) {
    gl.glOrtho(Left, Right, Bottom, Top, -10.0, 10.0);
  }
  gl.glMatrixMode(GL_MODELVIEW);
  gl.glLoadIdentity();
}

void TFirework::InitData() {
  const std::string source = "TFirework.InitData";
  AppearanceModels = std::make_unique<AppearanceModelList>();
  FileSystem = std::make_unique<TfsManager>();
  FileSystem->SetModDir(ApplicationPath + "data" + "/");
  Font = std::make_unique<TfntFont>(nullptr);
  Font->LoadFont("fonts/dejavu-lgc-sans.ttf", FileSystem.get(), "dejavu-sans", 10);

  TextureManager = std::make_unique<TtexManager>();
  LoaderManager = std::make_unique<TtlManager>();
  ResultQueue = std::make_unique<TtlQueue>();
  LoaderManager->SetThread(new TtlTextureThread(ResultQueue.get(), FileSystem.get(), TextureManager.get(), false));
  LoaderManager->LoadTexture(kParticleTexture, tllmImmediate, nullptr);
  ResultQueue->ProcessItems();

  BuildSpareAppearanceModels(*AppearanceModels);
  EffectManager = std::make_unique<TKZU_EffectManager>();
  EffectManager->SetInterval(0.001f);

  Firework = std::make_unique<TkzFirework>();
  TKZ_Context* context = &Firework->Context();
  // Without its one texture (the manager has logged the missing index) the show cannot draw.
  const TtexTexture* particles = TextureManager->GetTexture(0);
  if (!particles) {
    LogGlobalFmt(lmetFatal, "Could not load the particle texture '%s'.", source, kParticleTexture);
    throw Exception(kInitError);
  }
  context->AddTexture(particles->GetTextureName(), 4, 4);
  context->SetTexture(0);
  context->SetPhysicsMode(1);
  context->SetStorageMode(0);
  context->ReserveParticles(1500);
  if (DepthSort) context->Enable(8);
  BuildFireworkKinds(*Firework, Smoke);
  EffectManager->AddEffect(Firework.get(), false);

  SongScript = std::make_unique<TSongScript>(Firework.get());
  load_song_scripts();

  std::string music = FileSystem->GetRealFileName("songs/bbb/music.mp3");
  if (music.empty()) music = FileSystem->GetRealFileName("songs/bbb/music.ogg");
  if (music.empty()) {
    LogGlobal(lmetWarning,
              "Selected song does not provide a music file in a known format (place 'music.mp3' or 'music.ogg' in "
              "song folder).",
              source);
  } else {
    Music = Mix_LoadMUS(music.c_str());
    if (!Music) LogGlobalFmt(lmetError, "Could not load music file ('%s'). Music won't play. %s", source, music,
                             Mix_GetError());
  }
  TotalTime = 0.0;
  CameraPitch = 0.0;
  Paused = false;
  Playing = false;
  SongTime = 0.0;
  TsdlApplication::InitData();
}

void TFirework::load_song_scripts() {
  Parser = std::make_unique<TSongDataParser>();
  try {
    Parser->ParseFile(kMelody, *FileSystem, *SongScript, false);
    Parser->ParseFile(kGuitar, *FileSystem, *SongScript, true);
  } catch (...) {
    Parser.reset();
    throw;
  }
  Parser.reset();
  SongScript->Prepare();
}

void TFirework::Idle() {
  TsdlApplication::Idle();
  if (ResultQueue) ResultQueue->ProcessItems();
}

void TFirework::DoneData() {
  release_data();
  TsdlApplication::DoneData();
}

void TFirework::release_data() {
  Firework.reset();
  EffectManager.reset();
  LoaderManager.reset();
  if (ResultQueue) {
    ResultQueue->ProcessItems();
    ResultQueue.reset();
  }
  TextureManager.reset();
  FileSystem.reset();
  AppearanceModels.reset();
}

void TFirework::DoneQuorl() {
  // A data step that failed leaves what it made so far; its textures and buffers need OpenGL, so
  // they go before it closes (nothing is left after a normal data shut-down).
  release_data();
  TsdlApplication::DoneQuorl();
}

void TFirework::DoneSDL() {
  // The music and the font belong to the audio and font libraries: release them before those close.
  if (Music) {
    Mix_FreeMusic(Music);
    Music = nullptr;
  }
  Font.reset();
  Mix_CloseAudio();
  TTF_Quit();
  SDL_Quit();
  TsdlApplication::DoneSDL();
}

void TFirework::RenderFrame(float Delta) {
  gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.glLoadIdentity();
  gl.glTranslatef(0.0f, 0.0f, -5.0f);
  gl.glTranslatef(0.0f, -5.0f, 0.0f);
  TotalTime += Delta;
  ResyncTimer += Delta;
  if (ResyncTimer >= 2.0) {
    Mix_SetMusicPosition(SongTime);
    ResyncTimer = 0.0;
  }
  gl.glEnable(GL_BLEND);
  if (!Paused) {
    if (Playing) {
      SongScript->Advance(Delta);
      SongTime += Delta;
    }
    EffectManager->Update(Delta);
  }
  EffectManager->Render(true);
  SDL_GL_SwapBuffers();
}

void TFirework::KeyEvent(SDL_keysym Key, TsdlKeyActionMode Mode) {
  if (Mode != kmPress) return;
  const SDLMod mods = SDL_GetModState();
  const bool ctrl = (mods & KMOD_CTRL) != 0;
  const bool shift = (mods & KMOD_SHIFT) != 0;
  switch (Key.sym) {
    case SDLK_BACKSPACE: Stop(); return;
    case SDLK_RETURN: Play(); return;
    case SDLK_ESCAPE: Quit(); return;
    case SDLK_SPACE: TogglePause(); return;
    case SDLK_r: ReloadScripts(); return;
    case SDLK_s: SkipTo(15.0); return;
    default: break;
  }
  if (Key.sym < SDLK_1 || Key.sym > SDLK_9) return;
  const int32_t kind = static_cast<int32_t>(Key.sym - SDLK_1) + (shift ? 9 : 0);
  const TKZ_Vectorf3 origin{0.0f, 0.0f, 0.0f};
  try {
    if (ctrl) {
      Firework->Setup(kind, TKZ_Vectorf3{0.0f, 1.0f, 0.0f}, 5.0);
    } else {
      Firework->Launch(kind, origin, TKZ_Vectorf3{0.0f, 10.0f, 0.0f}, std::numeric_limits<double>::quiet_NaN());
    }
  } catch (const EListError& e) {
    // A key that names a kind the catalogue lacks must not end the show.
    LogGlobalFmt(lmetWarning, "No firework of kind %d for this key; ignored. %s", "TFirework.KeyEvent", kind,
                 e.Message());
  }
}

void TFirework::MouseMotion(TsdlMouseMotionEventData Data) {
  if (Data.State & 1) {
    CameraPitch += Data.YRel / 2.0;
    CameraYaw += Data.XRel / 2.0;
  }
}

void TFirework::Quit() {
  Mix_PauseMusic();
  TsdlApplication::Quit();
}

void TFirework::Stop() {
  TotalTime = 0.0;
  Paused = false;
  Playing = false;
  Mix_PauseMusic();
  SongTime = 0.0;
  SongScript->Reset();
  SongScript->Advance(-AudioLag);
  Firework->ClearParticles();
  Firework->Context().SetTexture(0);
}

void TFirework::Play() {
  if (Playing) return;
  Playing = true;
  if (Music) {
    Mix_PlayMusic(Music, 0);
    Mix_RewindMusic();
  }
  SongScript->Advance(-AudioLag);
}

void TFirework::TogglePause() {
  if (!Playing) return;
  Paused = !Paused;
  if (Paused) Mix_PauseMusic();
  else Mix_ResumeMusic();
}

void TFirework::ReloadScripts() {
  if (Playing) return;
  try {
    load_song_scripts();
  } catch (const Exception& e) {
    // A mistake in an edited song file must not end the show: report it and keep what was read.
    GlobalLogFile->LogException(lmetError, &e, "TFirework.ReloadScripts", "while reloading the song scripts.");
    SongScript->Prepare();
  }
}

void TFirework::SkipTo(double Time) {
  if (!Playing || !(SongTime < Time)) return;
  Mix_SetMusicPosition(Time);
  const double span = Time - SongTime;
  SongTime = Time;
  Firework->Update(static_cast<float>(span));
  SongScript->Seek(Time);
}

void RunFirework() {
  TFirework app(SDL_INIT_AUDIO | SDL_INIT_VIDEO);
  app.RunApp();
}

void InitMainModule() { RandSeed(static_cast<uint32_t>(std::time(nullptr))); }
