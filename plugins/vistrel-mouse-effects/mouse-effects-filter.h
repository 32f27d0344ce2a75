#pragma once

struct obs_source_info;

// Id under which the engine creates the filter on the screen capture source.
constexpr const char *kMouseEffectsFilterId = "vistrel_mouse_effects";

// Type description of the pointer highlight / click ring video filter.
const obs_source_info &mouseEffectsFilterInfo();
