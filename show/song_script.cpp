#include "show/song_script.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "framework/exceptions.h"
#include "framework/format.h"
#include "framework/log_manager.h"

namespace {

const char* const kInvalidLaunch = "Invalid parameters for launch action.";
const char* const kInvalidSetup = "Invalid parameters for setup action.";

const TSongDataNodeFloat* as_number(const TSongDataNode& node) { return dynamic_cast<const TSongDataNodeFloat*>(&node); }

// A plain list (not a statement) of exactly three numbers.
bool is_vector(const TSongDataNode& node) {
  const auto* list = dynamic_cast<const TSongDataNodeList*>(&node);
  if (!list || dynamic_cast<const TSongDataNodeStatement*>(&node)) return false;
  if (list->Items.size() != 3) return false;
  for (const auto& item : list->Items)
    if (!as_number(*item)) return false;
  return true;
}

// A script number as Single; values beyond the Single range become infinities.
float to_single(double value) {
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
    return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

TKZ_Vectorf3 vector_of(const TSongDataNode& node) {
  const auto& items = static_cast<const TSongDataNodeList&>(node).Items;
  return {to_single(as_number(*items[0])->Value), to_single(as_number(*items[1])->Value),
          to_single(as_number(*items[2])->Value)};
}

double number_of(const TSongDataNode& node) { return as_number(node)->Value; }

// A kind number: rounded to the nearest integer, halves to the even neighbour. A value that has
// no 32-bit integer (NaN, infinite, too large) is no kind at all.
bool kind_of(const TSongDataNode& node, int32_t* kind) {
  const double rounded = std::nearbyint(number_of(node));
  if (!(rounded >= static_cast<double>(INT32_MIN) && rounded <= static_cast<double>(INT32_MAX))) return false;
  *kind = static_cast<int32_t>(rounded);
  return true;
}

}  // namespace

TSongScriptAction::TSongScriptAction(const TSongDataNodeStatement& Statement) : Time(Statement.Time) {}

std::string TSongScriptAction::AsText() const { return "Undefined song script action."; }

// ---------------------------------------------------------------------------------------------
// Launch

TSongScriptActionLaunch::TSongScriptActionLaunch(const TSongDataNodeStatement& Statement)
    : TSongScriptAction(Statement) {
  if (!CheckParameters(Statement)) throw EInvalidArgument(kInvalidLaunch);
  const auto& p = Statement.Items;
  if (!kind_of(*p[0], &rk)) throw EInvalidArgument(kInvalidLaunch);
  position = vector_of(*p[1]);
  const double p3 = number_of(*p[3]);
  if (as_number(*p[2])) {
    // Straight up, covering 5 units in the given life time.
    if (p3 == 0) throw EInvalidArgument(kInvalidLaunch);
    const float speed = to_single(5.0 / p3);
    if (!std::isfinite(speed)) throw EInvalidArgument(kInvalidLaunch);
    velocity = {0.0f, speed, 0.0f};
    dafter = p3;
  } else {
    velocity = vector_of(*p[2]);
    if (std::isnan(p3)) {
      // The time to cover 5 units at the given speed.
      const float length = KZ_LengthVectorf3(velocity);
      if (length == 0) throw EInvalidArgument(kInvalidLaunch);
      const float lifeTime = 5.0f / length;
      if (!std::isfinite(lifeTime)) throw EInvalidArgument(kInvalidLaunch);
      dafter = lifeTime;
    } else {
      dafter = p3;
    }
  }
  // A negative time names the moment of the burst: launch that life time earlier.
  if (Time < 0) Time = -Time - dafter;
}

std::unique_ptr<TSongScriptAction> TSongScriptActionLaunch::Create(const TSongDataNodeStatement& Statement) {
  return std::make_unique<TSongScriptActionLaunch>(Statement);
}

bool TSongScriptActionLaunch::CheckParameters(const TSongDataNodeStatement& Statement) {
  const auto& p = Statement.Items;
  if (p.size() != 4) return false;
  if (!as_number(*p[0]) || !is_vector(*p[1]) || !as_number(*p[3])) return false;
  if (is_vector(*p[2])) return true;
  const TSongDataNodeFloat* velocity = as_number(*p[2]);
  return velocity && std::isnan(velocity->Value) && !std::isnan(number_of(*p[3]));
}

void TSongScriptActionLaunch::Execute(SongScriptTarget& Target) { Target.Launch(rk, position, velocity, dafter); }

std::string TSongScriptActionLaunch::AsText() const {
  return Format("[launch@%.2f] rk: %d; velocity: (%.2f|%.2f|%.2f); dafter: %.2f", Time, rk, velocity[0], velocity[1],
                velocity[2], dafter);
}

// ---------------------------------------------------------------------------------------------
// Setup

TSongScriptActionSetup::TSongScriptActionSetup(const TSongDataNodeStatement& Statement)
    : TSongScriptAction(Statement) {
  if (!CheckParameters(Statement)) throw EInvalidArgument(kInvalidSetup);
  const auto& p = Statement.Items;
  if (!kind_of(*p[0], &sp)) throw EInvalidArgument(kInvalidSetup);
  location = vector_of(*p[1]);
  dafter = number_of(*p[2]);
}

std::unique_ptr<TSongScriptAction> TSongScriptActionSetup::Create(const TSongDataNodeStatement& Statement) {
  return std::make_unique<TSongScriptActionSetup>(Statement);
}

bool TSongScriptActionSetup::CheckParameters(const TSongDataNodeStatement& Statement) {
  const auto& p = Statement.Items;
  return p.size() == 3 && as_number(*p[0]) && is_vector(*p[1]) && as_number(*p[2]);
}

void TSongScriptActionSetup::Execute(SongScriptTarget& Target) { Target.Setup(sp, location, dafter); }

std::string TSongScriptActionSetup::AsText() const {
  return Format("[setup@%.2f] sp: %d; location: (%.2f|%.2f|%.2f); dafter: %.2f", Time, sp, location[0], location[1],
                location[2], dafter);
}

// ---------------------------------------------------------------------------------------------
// Conversion

TSongScriptActionClass song_script_action_class(const std::string& keyword) {
  if (keyword == "launch") return &TSongScriptActionLaunch::Create;
  if (keyword == "setup") return &TSongScriptActionSetup::Create;
  return nullptr;
}

void convert_song_statements(TSongDataNodeList& root, TSongScript& script, bool append) {
  if (!append) script.Actions.clear();
  double base = 0;
  for (auto& item : root.Items) {
    auto* statement = dynamic_cast<TSongDataNodeStatement*>(item.get());
    if (!statement) continue;
    if (statement->Keyword == "base") {
      if (statement->Time == 0 || std::isnan(statement->Time))
        base = 0;
      else
        base += statement->Time;
      continue;
    }
    const TSongScriptActionClass actionClass = song_script_action_class(statement->Keyword);
    if (statement->Time >= 0)
      statement->Time += base;
    else
      statement->Time = -(std::fabs(statement->Time) + base);
    if (!actionClass) {
      LogGlobalFmt(lmetError, "Unknown statement class: '%s'", "TSongScriptParser.ParseStream", statement->Keyword);
      continue;
    }
    script.Actions.push_back(actionClass(*statement));
  }
}

// ---------------------------------------------------------------------------------------------
// Script

TSongScript::TSongScript(SongScriptTarget* Target_) : Target(Target_) {}

void TSongScript::Prepare() {
  // Actions without a time have no place of their own; they go after all timed ones, where they
  // run as soon as the clock has passed the rest, and never hold up the timed ones.
  auto timed_end = std::stable_partition(Actions.begin(), Actions.end(),
                                         [](const std::unique_ptr<TSongScriptAction>& a) { return !std::isnan(a->Time); });
  std::stable_sort(Actions.begin(), timed_end,
                   [](const std::unique_ptr<TSongScriptAction>& a, const std::unique_ptr<TSongScriptAction>& b) {
                     return a->Time < b->Time;
                   });
  Reset();
}

void TSongScript::Reset() {
  ScriptTime = 0;
  NextActionTime = Actions.empty() ? std::numeric_limits<double>::infinity() : Actions.front()->Time;
  NextAction = 0;
}

void TSongScript::Seek(double t) {
  ScriptTime = t;
  const int32_t count = static_cast<int32_t>(Actions.size());
  for (int32_t i = NextAction; i < count; ++i) {
    if (Actions[static_cast<size_t>(i)]->Time >= t) {
      NextActionTime = Actions[static_cast<size_t>(i)]->Time;
      NextAction = i;
      return;
    }
  }
  NextAction = count;
  NextActionTime = std::numeric_limits<double>::infinity();
}

void TSongScript::Advance(double dt) {
  ScriptTime += dt;
  // A next time of NaN (a script of untimed actions only) is never reached: such a script carries
  // out nothing, on the first start as after every stop.
  if (std::isnan(ScriptTime) || std::isnan(NextActionTime) || ScriptTime < NextActionTime) return;
  const int32_t count = static_cast<int32_t>(Actions.size());
  int32_t i = NextAction;
  while (i < count) {
    TSongScriptAction& action = *Actions[static_cast<size_t>(i)];
    if (action.Time > ScriptTime) {
      NextActionTime = action.Time;
      break;
    }
    if (Target) {
      try {
        action.Execute(*Target);
      } catch (const EListError& e) {
        // A kind the firework catalogue lacks spoils only this action, not the show.
        LogGlobalFmt(lmetError, "Song script action skipped, its firework kind does not exist: %s (%s)",
                     "TSongScript.Advance", action.AsText(), e.Message());
      }
    }
    ++i;
  }
  NextAction = i;
}
