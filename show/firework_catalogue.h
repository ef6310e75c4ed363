#pragma once
// The show's vocabulary of fireworks: launch kinds 0 to 17 (ammo kinds) and setup kinds 0 to 3
// (spawner kinds) that the song scripts and the number keys name by number, built once at start-up.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/appearance.h"

class TkzFirework;

using AppearanceModelList = std::vector<std::unique_ptr<TKZ_AppearanceModel>>;

constexpr int32_t kFireworkLaunchKinds = 18;
constexpr int32_t kFireworkSetupKinds = 4;

// Appends the two spare appearance models, which no kind refers to.
void BuildSpareAppearanceModels(AppearanceModelList& models);

// Sets the effect's SpawnDelay, PlaneWidth and PlaneDepth, then appends launch kinds 0 to 17 and setup
// kinds 0 to 3 in number order. With `smoke`, every rocket-trail spark may leave a smoke puff.
// Draws from the shared random generator (two draws per launch kind, with smoke only).
void BuildFireworkKinds(TkzFirework& firework, bool smoke);

// What the show's data start-up builds: the spare models into `spare_models` (the caller keeps
// them), then the kinds on `firework`.
void BuildFireworkCatalogue(TkzFirework& firework, bool smoke, AppearanceModelList& spare_models);
