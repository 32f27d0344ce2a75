#pragma once

struct obs_source_info;

// The libobs filter "vistrel_sound_clock" that the engine puts on each sound source.
const obs_source_info &soundClockFilterInfo();
