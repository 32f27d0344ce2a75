#include "sound-clock-filter.h"

#include <obs-module.h>

OBS_DECLARE_MODULE()

MODULE_EXPORT const char *obs_module_description(void)
{
    return "Keeps sound sources on the system clock";
}

bool obs_module_load(void)
{
    obs_register_source(&soundClockFilterInfo());
    return true;
}
