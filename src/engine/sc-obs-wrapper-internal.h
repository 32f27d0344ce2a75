#pragma once

// What the engine's files share: the libobs ids and names it uses, its channels, and small
// helpers. Not for anyone outside the engine.

#include "sc-logger.h"

#include <obs.h>

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstring>

namespace ObsEngine {

inline const char *const SCREEN_SOURCE_ID = "xshm_input";
inline const char *const SCREEN_SOURCE_NAME = "Display Capture";
inline const char *const WINDOW_SOURCE_ID = "xshm_input";
inline const char *const WINDOW_SOURCE_NAME = "Window_Capture";
inline const char *const MIC_SOURCE_ID = "pulse_input_capture";
inline const char *const PLAYER_SOURCE_ID = "pulse_output_capture";
inline const char *const OUTPUT_ID = "vistrel_output";
inline const char *const OUTPUT_NAME = "adv_ffmpeg_output";
inline const char *const AUDIO_ENCODER_ID = "ffmpeg_aac";
inline const char *const MOUSE_EFFECTS_ID = "vistrel_mouse_effects";
inline const char *const MOUSE_EFFECTS_NAME = "Mouse Effects";
inline const char *const SCENE_NAME = "CurrentDesktopCapture";
inline const char *const DISABLED_DEVICE = "disabled";

inline const int TRANSITION_CHANNEL = 0;
inline const int PLAYER_CHANNEL = 1;
inline const int MIC_CHANNEL = 2;
inline const int MAX_OUTPUT_CHANNELS = 64;

inline SCLogger *logger()
{
    return SCLogger::instance();
}

// libobs makes a placeholder for an unknown type id instead of failing: ask first.
inline bool typeRegistered(const char *id)
{
    return obs_source_get_display_name(id) != nullptr;
}

inline obs_source_t *createSource(const char *id, const char *name, obs_data_t *settings)
{
    return typeRegistered(id) ? obs_source_create(id, name, settings, nullptr) : nullptr;
}

inline const char *const SOUND_CLOCK_ID = "vistrel_sound_clock";
inline const char *const DESKTOP_SOUND_ID = "vistrel_desktop_sound";

// A sound source that keeps to the system clock, as the pictures do: without it, the sound of
// a long recording wanders off the picture by tens of milliseconds. The desktop's sound is
// read by our own source, stamped with when it is heard rather than when the sink mixed it;
// libobs's type still lists the devices, with the same ids.
inline obs_source_t *createSoundSource(const char *id, const char *name, obs_data_t *settings)
{
    const bool desktop = std::strcmp(id, PLAYER_SOURCE_ID) == 0 && typeRegistered(DESKTOP_SOUND_ID);
    obs_source_t *source = createSource(desktop ? DESKTOP_SOUND_ID : id, name, settings);
    if (source && typeRegistered(SOUND_CLOCK_ID)) {
        obs_source_t *clock = obs_source_create_private(SOUND_CLOCK_ID, "Sound clock", nullptr);
        if (clock) {
            obs_source_filter_add(source, clock);
            obs_source_release(clock);
        }
    }
    return source;
}

inline QString deviceIdFor(const QStringList &names, const QStringList &ids, const QString &name)
{
    const int index = names.indexOf(name);
    if (index < 0 || index >= ids.size())
        return QStringLiteral("default");
    return ids.at(index);
}

inline qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// A sound source delivers every few milliseconds, silence included: this long without any
// means its server or device is gone.
constexpr qint64 METER_STALE_MS = 300;
constexpr qint64 SOUND_LOST_MS = 1500;
// A new source takes a while to deliver its first sound.
constexpr qint64 SOUND_START_MS = 3000;

inline void fillList(obs_properties_t *props, const char *key, QStringList &names, QStringList &ids,
                     bool prepend, bool nameFromValue)
{
    obs_property_t *list = obs_properties_get(props, key);
    if (!list)
        return;
    const size_t count = obs_property_list_item_count(list);
    const obs_combo_format format = obs_property_list_format(list);
    for (size_t i = 0; i < count; ++i) {
        QString id;
        if (format == OBS_COMBO_FORMAT_STRING)
            id = QString::fromUtf8(obs_property_list_item_string(list, i));
        else if (format == OBS_COMBO_FORMAT_INT)
            id = QString::number(obs_property_list_item_int(list, i));
        const QString name
                = nameFromValue ? id : QString::fromUtf8(obs_property_list_item_name(list, i));
        if (prepend) {
            names.prepend(name);
            ids.prepend(id);
        } else {
            names.append(name);
            ids.append(id);
        }
    }
}

} // namespace ObsEngine
