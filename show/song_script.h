#pragma once
// The song script: the show's timetable of launches and set-ups, built from the statements of one
// or more script files ("base", "launch", "setup") and carried out against its own clock.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/vectors.h"
#include "show/song_parser.h"

// What the actions act on: the firework effect. Launch puts one ammo particle of a kind into the
// show, Setup one spawner of a kind; a kind the catalogue lacks raises EListError.
class SongScriptTarget {
 public:
  virtual ~SongScriptTarget() = default;
  virtual void Launch(int32_t kind, const TKZ_Vectorf3& position, const TKZ_Vectorf3& velocity, double lifeTime) = 0;
  virtual void Setup(int32_t kind, const TKZ_Vectorf3& location, double lifeTime) = 0;
};

class TSongScriptAction {
 public:
  explicit TSongScriptAction(const TSongDataNodeStatement& Statement);
  virtual ~TSongScriptAction() = default;
  virtual void Execute(SongScriptTarget& Target) = 0;
  virtual std::string AsText() const;

  double Time;  // due time in seconds on the script clock
};

// The class reference of the actions: makes the action of one kind from a statement.
using TSongScriptActionClass = std::unique_ptr<TSongScriptAction> (*)(const TSongDataNodeStatement& Statement);

class TSongScriptActionLaunch : public TSongScriptAction {
 public:
  // Raises EInvalidArgument "Invalid parameters for launch action." unless the parameters are
  // (kind, (x, y, z), (vx, vy, vz), lifetime) or (kind, (x, y, z), NaN, lifetime).
  explicit TSongScriptActionLaunch(const TSongDataNodeStatement& Statement);
  static std::unique_ptr<TSongScriptAction> Create(const TSongDataNodeStatement& Statement);
  static bool CheckParameters(const TSongDataNodeStatement& Statement);
  void Execute(SongScriptTarget& Target) override;
  std::string AsText() const override;

  int32_t rk = 0;
  TKZ_Vectorf3 position{};
  TKZ_Vectorf3 velocity{};
  double dafter = 0;
};

class TSongScriptActionSetup : public TSongScriptAction {
 public:
  // Raises EInvalidArgument "Invalid parameters for setup action." unless the parameters are
  // (kind, (x, y, z), lifetime).
  explicit TSongScriptActionSetup(const TSongDataNodeStatement& Statement);
  static std::unique_ptr<TSongScriptAction> Create(const TSongDataNodeStatement& Statement);
  static bool CheckParameters(const TSongDataNodeStatement& Statement);
  void Execute(SongScriptTarget& Target) override;
  std::string AsText() const override;

  int32_t sp = 0;
  TKZ_Vectorf3 location{};
  double dafter = 0;
};

// The action class of a statement keyword, or nullptr when there is none.
TSongScriptActionClass song_script_action_class(const std::string& keyword);

// Turns the parsed statements of one file into actions of `script` (emptied first unless
// `append`), applying the "base" shifts and the burst-time rule of negative times.
void convert_song_statements(TSongDataNodeList& root, TSongScript& script, bool append);

class TSongScript {
 public:
  explicit TSongScript(SongScriptTarget* Target_);
  virtual ~TSongScript() = default;
  TSongScript(const TSongScript&) = delete;
  TSongScript& operator=(const TSongScript&) = delete;

  // Sorts the actions by time, then resets the clock. Call after the last file is loaded.
  void Prepare();
  void Reset();
  // Moves the clock to t without carrying anything out; never moves back to earlier actions.
  void Seek(double t);
  // Moves the clock by dt and carries out every action that is due.
  void Advance(double dt);

  double ScriptTime = 0;
  double NextActionTime = 0;
  std::vector<std::unique_ptr<TSongScriptAction>> Actions;
  int32_t NextAction = 0;
  SongScriptTarget* Target;  // not owned
};
