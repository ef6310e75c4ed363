#pragma once
// The show's application class: start-up (settings, SDL, OpenGL, data), the frame, the show state
// and the keys; RunFirework is the program's main procedure.
#include <SDL/SDL.h>
#include <SDL/SDL_mixer.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/appearance.h"
#include "engine/context.h"
#include "engine/effect_manager.h"
#include "framework/font_manager.h"
#include "framework/fs_manager.h"
#include "framework/sdl_manager.h"
#include "framework/tex_manager.h"
#include "framework/threaded_loading.h"
#include "show/firework.h"
#include "show/firework_catalogue.h"
#include "show/song_script.h"

class TFirework : public TsdlApplication {
 public:
  explicit TFirework(uint32_t Flags);
  ~TFirework() override;

  std::string GetName() override;
  TsdlApplicationVersion GetVersion() override;
  void LoadSettings() override;
  void InitSDL() override;
  void InitQuorl() override;
  void InitData() override;
  void Idle() override;
  void RenderFrame(float Delta) override;
  void DoneData() override;
  void DoneQuorl() override;
  void DoneSDL() override;
  void KeyEvent(SDL_keysym Key, TsdlKeyActionMode Mode) override;
  void MouseMotion(TsdlMouseMotionEventData Data) override;
  void Quit() override;

  void SetupProjection(int32_t Mode, int32_t Top, int32_t Left, int32_t Right, int32_t Bottom);
  void Stop();
  void Play();
  void TogglePause();
  void ReloadScripts();
  void SkipTo(double Time);

  // Show state (read by tests).
  bool IsPlaying() const { return Playing; }
  bool IsPaused() const { return Paused; }
  double GetSongTime() const { return SongTime; }
  TSongScript* GetSongScript() const { return SongScript.get(); }
  TkzFirework* GetFirework() const { return Firework.get(); }
  double GetAudioLag() const { return AudioLag; }

 protected:
  SDL_Surface* Screen = nullptr;
  uint32_t VideoFlags = 0;
  const SDL_VideoInfo* VideoInfo = nullptr;
  std::unique_ptr<TkzFirework> Firework;
  std::unique_ptr<TKZU_EffectManager> EffectManager;
  std::unique_ptr<TfsManager> FileSystem;
  std::unique_ptr<TtlManager> LoaderManager;
  std::unique_ptr<TtlQueue> ResultQueue;
  std::unique_ptr<TtexManager> TextureManager;
  std::unique_ptr<AppearanceModelList> AppearanceModels;
  bool Paused = false;
  bool Playing = false;
  std::unique_ptr<TSongScript> SongScript;
  std::unique_ptr<TSongDataParser> Parser;
  Mix_Music* Music = nullptr;
  std::unique_ptr<TfntFont> Font;
  double SongTime = 0.0;
  double ResyncTimer = 0.0;
  double AudioLag = 0.25;
  bool Smoke = false;
  bool DepthSort = true;
  double CameraPitch = 0.0;
  double CameraYaw = 0.0;
  double TotalTime = 0.0;

 private:
  void release_data();
  void load_song_scripts();
};

// The program's main procedure.
void RunFirework();

// Module initialisation of the show: seeds the random generator from the clock.
void InitMainModule();
