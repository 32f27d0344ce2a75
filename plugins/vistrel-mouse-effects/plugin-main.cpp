#include "mouse-effects-filter.h"

#include <obs-module.h>

OBS_DECLARE_MODULE()

MODULE_EXPORT const char *obs_module_description(void)
{
    return "Pointer highlight and click rings over the screen capture";
}

bool obs_module_load(void)
{
    obs_register_source(&mouseEffectsFilterInfo());
    return true;
}
