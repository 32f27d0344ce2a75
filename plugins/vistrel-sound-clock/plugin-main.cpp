#include "desktop-sound-source.h"
#include "sound-clock-filter.h"

#include <obs-module.h>

OBS_DECLARE_MODULE()

MODULE_EXPORT const char *obs_module_description(void)
{
    return "Keeps sound sources on the system clock and reads the desktop's sound as it is heard";
}

bool obs_module_load(void)
{
    obs_register_source(&soundClockFilterInfo());
    obs_register_source(&desktopSoundSourceInfo());
    return true;
}
