#include "sc-obs-wrapper.h"

#include "sc-obs-wrapper-internal.h"

#include <algorithm>
#include <cstring>

// The two sound sources, their devices, their level meters and the sound server's health.

using namespace ObsEngine;

void ObsWrapper::AtomicLevels::store(const float *m, const float *p, const float *ip)
{
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        magnitude[i].store(m[i], std::memory_order_relaxed);
        peak[i].store(p[i], std::memory_order_relaxed);
        inputPeak[i].store(ip[i], std::memory_order_relaxed);
    }
    lastSoundMs.store(steadyMs(), std::memory_order_relaxed);
}

void ObsWrapper::AtomicLevels::markFresh()
{
    createdMs.store(steadyMs(), std::memory_order_relaxed);
}

qint64 ObsWrapper::AtomicLevels::silentForMs() const
{
    return steadyMs()
            - std::max(lastSoundMs.load(std::memory_order_relaxed),
                       createdMs.load(std::memory_order_relaxed));
}

bool ObsWrapper::AtomicLevels::delivered() const
{
    return lastSoundMs.load(std::memory_order_relaxed) >= createdMs.load(std::memory_order_relaxed);
}

bool ObsWrapper::AtomicLevels::dead() const
{
    return silentForMs() > (delivered() ? SOUND_LOST_MS : SOUND_START_MS);
}

void ObsWrapper::AtomicLevels::clear()
{
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        magnitude[i].store(0.0f, std::memory_order_relaxed);
        peak[i].store(0.0f, std::memory_order_relaxed);
        inputPeak[i].store(0.0f, std::memory_order_relaxed);
    }
}

void ObsWrapper::oBSVolumeLevel(void *data, const float magnitude[LEVEL_CHANNELS],
                                const float peak[LEVEL_CHANNELS],
                                const float inputPeak[LEVEL_CHANNELS])
{
    auto *id = static_cast<SoundDeviceIdentifier *>(data);
    if (!id || !id->wrapper)
        return;
    if (id->type == SoundDeviceIdentifier::Mic)
        id->wrapper->m_micLevels.store(magnitude, peak, inputPeak);
    else
        id->wrapper->m_playerLevels.store(magnitude, peak, inputPeak);
}

void ObsWrapper::emitLevels()
{
    emitPlayerLevels();
    emitMicLevels();
}

void ObsWrapper::emitMicLevels()
{
    // Without sound coming in, the last level would stay on the meter.
    if (m_micLevels.silentForMs() > METER_STALE_MS)
        m_micLevels.clear();
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        m_micSnapshot.magnitude[i] = m_micLevels.magnitude[i].load(std::memory_order_relaxed);
        m_micSnapshot.peak[i] = m_micLevels.peak[i].load(std::memory_order_relaxed);
        m_micSnapshot.inputPeak[i] = m_micLevels.inputPeak[i].load(std::memory_order_relaxed);
    }
    emit micVolumeDataChange(m_micSnapshot.magnitude, m_micSnapshot.peak, m_micSnapshot.inputPeak);
}

void ObsWrapper::emitPlayerLevels()
{
    if (m_playerLevels.silentForMs() > METER_STALE_MS)
        m_playerLevels.clear();
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        m_playerSnapshot.magnitude[i] = m_playerLevels.magnitude[i].load(std::memory_order_relaxed);
        m_playerSnapshot.peak[i] = m_playerLevels.peak[i].load(std::memory_order_relaxed);
        m_playerSnapshot.inputPeak[i] = m_playerLevels.inputPeak[i].load(std::memory_order_relaxed);
    }
    emit playerVolumeDataChange(m_playerSnapshot.magnitude, m_playerSnapshot.peak,
                                m_playerSnapshot.inputPeak);
}

// Asked again whenever devices are offered: the server's list changes.
void ObsWrapper::searchDevices(const char *sourceType, QStringList &names, QStringList &ids)
{
    obs_properties_t *props = obs_get_source_properties(sourceType);
    if (!props)
        return;
    names.clear();
    ids.clear();
    fillList(props, "device_id", names, ids, false, false);
    obs_properties_destroy(props);
    if (names.isEmpty()) {
        names.append(QStringLiteral("No Device"));
        ids.append(QStringLiteral("default"));
    }
}

void ObsWrapper::searchMicDevice()
{
    searchDevices(MIC_SOURCE_ID, m_micNames, m_micIds);
}

void ObsWrapper::searchPlayerDevice()
{
    searchDevices(PLAYER_SOURCE_ID, m_playerNames, m_playerIds);
}

QStringList ObsWrapper::micphoneDeviceName() const
{
    return m_micSource ? m_micNames : QStringList {QStringLiteral("No Device")};
}

QStringList ObsWrapper::playerDeviceName() const
{
    return m_playerSource ? m_playerNames : QStringList {QStringLiteral("No Device")};
}

bool ObsWrapper::hasMicDevice() const
{
    return m_micNames.size() > 1;
}

QString ObsWrapper::micDeviceId(const QString &name) const
{
    return deviceIdFor(m_micNames, m_micIds, name);
}

QString ObsWrapper::playerDeviceId(const QString &name) const
{
    return deviceIdFor(m_playerNames, m_playerIds, name);
}

bool ObsWrapper::micDeviceKnown(const QString &deviceId) const
{
    return deviceId == QLatin1String("default") || m_micIds.contains(deviceId);
}

bool ObsWrapper::playerDeviceKnown(const QString &deviceId) const
{
    return deviceId == QLatin1String("default") || m_playerIds.contains(deviceId);
}

void ObsWrapper::setMicGain(float gain)
{
    m_micGain = gain;
    if (m_micSource)
        obs_source_set_volume(m_micSource, gain);
}

void ObsWrapper::setPlayerGain(float gain)
{
    m_playerGain = gain;
    if (m_playerSource)
        obs_source_set_volume(m_playerSource, gain);
}

bool ObsWrapper::soundSilent() const
{
    return (m_micSource && m_micLevels.dead()) || (m_playerSource && m_playerLevels.dead());
}

void ObsWrapper::watchSoundServer()
{
    if (soundSilent()) {
        if (!m_soundWarned) {
            logger()->warning(
                    QStringLiteral("No sound from the sound server (microphone %1, "
                                   "speakers %2); recordings go on with silence")
                            .arg(m_micSource && m_micLevels.dead() ? "silent" : "ok",
                                 m_playerSource && m_playerLevels.dead() ? "silent" : "ok"));
            m_soundWarned = true;
        }
        // A running recording keeps its sources; the next one gets new ones.
        if (!m_recording)
            reconnectSound();
    } else if (m_soundWarned && (!m_micSource || m_micLevels.delivered())
               && (!m_playerSource || m_playerLevels.delivered())) {
        logger()->info(QStringLiteral("Sound is coming in again"));
        m_soundWarned = false;
    }
}

void ObsWrapper::reconnectSound()
{
    const QByteArray mic = m_micSource ? m_micDevice : QByteArray();
    const QByteArray player = m_playerSource ? m_playerDevice : QByteArray();
    // libobs's PulseAudio sources share one server connection, made anew only once no
    // source is left: drop both before creating either.
    ResetAudioDevice(MIC_SOURCE_ID, DISABLED_DEVICE, "Mic/Aux", MIC_CHANNEL);
    ResetAudioDevice(PLAYER_SOURCE_ID, DISABLED_DEVICE, "Desktop Audio", PLAYER_CHANNEL);
    // Sources are destroyed on a libobs thread of their own.
    obs_wait_for_destroy_queue();
    if (!mic.isEmpty())
        ResetAudioDevice(MIC_SOURCE_ID, mic.constData(), "Mic/Aux", MIC_CHANNEL);
    if (!player.isEmpty())
        ResetAudioDevice(PLAYER_SOURCE_ID, player.constData(), "Desktop Audio", PLAYER_CHANNEL);
}

void ObsWrapper::recMicAudio(bool enable, const QString &deviceId)
{
    if (!m_recording && (m_soundWarned || soundSilent()))
        reconnectSound();
    if (!HasAudioDevices(MIC_SOURCE_ID))
        return;
    const QByteArray id = enable ? deviceId.toUtf8() : QByteArray(DISABLED_DEVICE);
    ResetAudioDevice(MIC_SOURCE_ID, id.constData(), "Mic/Aux", MIC_CHANNEL);
}

void ObsWrapper::recPlayerAudio(bool enable, const QString &deviceId)
{
    if (!m_recording && (m_soundWarned || soundSilent()))
        reconnectSound();
    if (!HasAudioDevices(PLAYER_SOURCE_ID))
        return;
    const QByteArray id = enable ? deviceId.toUtf8() : QByteArray(DISABLED_DEVICE);
    ResetAudioDevice(PLAYER_SOURCE_ID, id.constData(), "Desktop Audio", PLAYER_CHANNEL);
}

void ObsWrapper::setMixerBit(int channel, bool on)
{
    if (!m_output)
        return;
    const size_t bit = channel == MIC_CHANNEL ? 1 : 2;
    size_t mixers = obs_output_get_mixers(m_output);
    mixers = on ? (mixers | bit) : (mixers & ~bit);
    obs_output_set_mixers(m_output, mixers);
}

void ObsWrapper::ResetAudioDevice(const char *sourceType, const char *deviceId,
                                  const char *deviceName, int channel)
{
    const bool mic = channel == MIC_CHANNEL;
    OBSSource &source = mic ? m_micSource : m_playerSource;
    obs_volmeter_t *meter = mic ? m_micVolmeter.get() : m_playerVolmeter.get();
    SoundDeviceIdentifier *identifier = mic ? m_micIdentifier.get() : m_playerIdentifier.get();
    const bool disable = strcmp(deviceId, DISABLED_DEVICE) == 0;

    // The running source already reads this device: replacing it would only churn the
    // sound server's streams.
    {
        OBSSourceAutoRelease current = obs_get_output_source(static_cast<uint32_t>(channel));
        if (!disable && source && current.Get() == source.Get() && obs_source_enabled(source)
            && (mic ? m_micDevice : m_playerDevice) == deviceId) {
            obs_source_set_volume(source, mic ? m_micGain : m_playerGain);
            setMixerBit(channel, true);
            return;
        }
        if (current)
            obs_set_output_source(static_cast<uint32_t>(channel), nullptr);
    }

    if (disable)
        setMixerBit(channel, false);
    if (source) {
        if (meter) {
            obs_volmeter_detach_source(meter);
            obs_volmeter_remove_callback(meter, oBSVolumeLevel, identifier);
        }
        obs_source_set_enabled(source, false);
        source = nullptr;
        if (disable) {
            if (mic) {
                m_micLevels.clear();
                emitMicLevels();
            } else {
                m_playerLevels.clear();
                emitPlayerLevels();
            }
        } else {
            // libobs's PulseAudio plugin aborts in the sound server's thread when a stream
            // is torn down on libobs's destroy thread while the next one connects.
            obs_wait_for_destroy_queue();
        }
    }
    if (disable)
        return;

    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "device_id", deviceId);
    OBSSourceAutoRelease created = createSoundSource(sourceType, deviceName, settings);
    if (!created)
        return;

    obs_source_set_volume(created, mic ? m_micGain : m_playerGain);
    obs_set_output_source(static_cast<uint32_t>(channel), created);
    setMixerBit(channel, true);
    source = created.Get();
    (mic ? m_micDevice : m_playerDevice) = deviceId;
    (mic ? m_micLevels : m_playerLevels).markFresh();
    obs_source_set_enabled(source, true);
    if (meter) {
        // Removing first keeps a repeated switch-on from registering the callback twice.
        obs_volmeter_remove_callback(meter, oBSVolumeLevel, identifier);
        obs_volmeter_attach_source(meter, source);
        obs_volmeter_add_callback(meter, oBSVolumeLevel, identifier);
    }
}

obs_source_t *ObsWrapper::getSoundSource(const char *sourceType, const char *deviceId,
                                         const char *name, int channel)
{
    obs_source_t *existing = obs_get_output_source(static_cast<uint32_t>(channel));
    if (existing)
        return existing;
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "device_id", deviceId);
    return createSoundSource(sourceType, name, settings);
}

bool ObsWrapper::HasAudioDevices(const char *sourceType)
{
    obs_properties_t *props = obs_get_source_properties(sourceType);
    if (!props)
        return false;
    bool found = false;
    if (obs_property_t *list = obs_properties_get(props, "device_id"))
        found = obs_property_list_item_count(list) > 0;
    obs_properties_destroy(props);
    return found;
}

void ObsWrapper::resetMicphoneVolumeLevelCallback(const QString &deviceId)
{
    if (m_micSource) {
        obs_volmeter_detach_source(m_micVolmeter.get());
        obs_set_output_source(MIC_CHANNEL, nullptr);
        m_micSource = nullptr;
        obs_volmeter_remove_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    }
    if (!m_micVolmeter)
        return;
    obs_volmeter_add_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    const QByteArray id = deviceId.toUtf8();
    m_micSource = getSoundSource(MIC_SOURCE_ID, id.constData(), "Mic/Aux", MIC_CHANNEL);
    obs_source_release(m_micSource);
    if (m_micSource)
        obs_volmeter_attach_source(m_micVolmeter.get(), m_micSource);
    obs_set_output_source(MIC_CHANNEL, m_micSource);
    m_micDevice = id;
    m_micLevels.markFresh();
    emitMicLevels();
}

void ObsWrapper::resetPlayerVolumeLevelCallback(const QString &deviceId)
{
    if (m_playerSource) {
        obs_volmeter_detach_source(m_playerVolmeter.get());
        obs_set_output_source(PLAYER_CHANNEL, nullptr);
        m_playerSource = nullptr;
        obs_volmeter_remove_callback(m_playerVolmeter.get(), oBSVolumeLevel,
                                     m_playerIdentifier.get());
    }
    if (!m_playerVolmeter)
        return;
    obs_volmeter_add_callback(m_playerVolmeter.get(), oBSVolumeLevel, m_playerIdentifier.get());
    const QByteArray id = deviceId.toUtf8();
    m_playerSource
            = getSoundSource(PLAYER_SOURCE_ID, id.constData(), "Desktop Audio", PLAYER_CHANNEL);
    obs_source_release(m_playerSource);
    if (m_playerSource)
        obs_volmeter_attach_source(m_playerVolmeter.get(), m_playerSource);
    obs_set_output_source(PLAYER_CHANNEL, m_playerSource);
    m_playerDevice = id;
    m_playerLevels.markFresh();
    emitPlayerLevels();
}
