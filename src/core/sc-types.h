#pragma once

// Values shared by the whole program: formats, languages and their lookup tables.
// The strings are what the settings store holds.

#include <QList>
#include <QString>
#include <map>

enum class ScreenshotFormat { PNG = 0, JPG = 1 };

// The value is the index in every format combo box: 0-3 and 7-8 are video formats, 4-6
// audio-only. Formats added later go at the end, so stored choices keep their meaning.
enum class OutputFormat {
    MP4 = 0,
    AVI = 1,
    FLV = 2,
    GIF = 3,
    MP3 = 4,
    AAC = 5,
    FLAC = 6,
    MKV = 7,
    WEBM = 8
};
constexpr int OUTPUT_FORMAT_COUNT = 9;

// How much the encoder may spend on a picture; the value is the index in the quality combo.
// Lossless exists for the H.264 formats only.
enum class RecordingQuality { Small = 0, Balanced = 1, High = 2, Lossless = 3 };

// Which H.264 encoder records: Automatic takes a working hardware one where the machine has
// it, the software one otherwise.
enum class VideoEncoderChoice { Automatic = 0, Software = 1, VaApi = 2, Nvenc = 3 };

enum class Language {
    en_US = 0,
    de_DE = 1,
    fr_FR = 2,
    es_ES = 3,
    pt_PT = 4,
    it_IT = 5,
    zh_CN = 6,
    zh_TW = 7,
    ja_JP = 8
};

inline const std::map<ScreenshotFormat, QString> SCREENSHOT_FORMAT_STRINGS = {
        {ScreenshotFormat::PNG, QStringLiteral("PNG")},
        {ScreenshotFormat::JPG, QStringLiteral("JPG")},
};

inline const std::map<QString, ScreenshotFormat> SCREENSHOT_FORMAT_MAP = {
        {QStringLiteral("PNG"), ScreenshotFormat::PNG},
        {QStringLiteral("JPG"), ScreenshotFormat::JPG},
};

inline const std::map<OutputFormat, QString> OUTPUT_FORMAT_STRINGS = {
        {OutputFormat::MP4, QStringLiteral("MP4")},   {OutputFormat::AVI, QStringLiteral("AVI")},
        {OutputFormat::FLV, QStringLiteral("FLV")},   {OutputFormat::GIF, QStringLiteral("GIF")},
        {OutputFormat::MP3, QStringLiteral("MP3")},   {OutputFormat::AAC, QStringLiteral("AAC")},
        {OutputFormat::FLAC, QStringLiteral("FLAC")}, {OutputFormat::MKV, QStringLiteral("MKV")},
        {OutputFormat::WEBM, QStringLiteral("WEBM")},
};

inline const std::map<QString, OutputFormat> OUTPUT_FORMAT_MAP = {
        {QStringLiteral("MP4"), OutputFormat::MP4},   {QStringLiteral("AVI"), OutputFormat::AVI},
        {QStringLiteral("FLV"), OutputFormat::FLV},   {QStringLiteral("GIF"), OutputFormat::GIF},
        {QStringLiteral("MP3"), OutputFormat::MP3},   {QStringLiteral("AAC"), OutputFormat::AAC},
        {QStringLiteral("FLAC"), OutputFormat::FLAC}, {QStringLiteral("MKV"), OutputFormat::MKV},
        {QStringLiteral("WEBM"), OutputFormat::WEBM},
};

inline const std::map<RecordingQuality, QString> RECORDING_QUALITY_STRINGS = {
        {RecordingQuality::Small, QStringLiteral("Small")},
        {RecordingQuality::Balanced, QStringLiteral("Balanced")},
        {RecordingQuality::High, QStringLiteral("High")},
        {RecordingQuality::Lossless, QStringLiteral("Lossless")},
};

inline const std::map<QString, RecordingQuality> RECORDING_QUALITY_MAP = {
        {QStringLiteral("Small"), RecordingQuality::Small},
        {QStringLiteral("Balanced"), RecordingQuality::Balanced},
        {QStringLiteral("High"), RecordingQuality::High},
        {QStringLiteral("Lossless"), RecordingQuality::Lossless},
};

inline const std::map<VideoEncoderChoice, QString> VIDEO_ENCODER_STRINGS = {
        {VideoEncoderChoice::Automatic, QStringLiteral("Automatic")},
        {VideoEncoderChoice::Software, QStringLiteral("Software")},
        {VideoEncoderChoice::VaApi, QStringLiteral("VAAPI")},
        {VideoEncoderChoice::Nvenc, QStringLiteral("NVENC")},
};

inline const std::map<QString, VideoEncoderChoice> VIDEO_ENCODER_MAP = {
        {QStringLiteral("Automatic"), VideoEncoderChoice::Automatic},
        {QStringLiteral("Software"), VideoEncoderChoice::Software},
        {QStringLiteral("VAAPI"), VideoEncoderChoice::VaApi},
        {QStringLiteral("NVENC"), VideoEncoderChoice::Nvenc},
};

// The formats that can carry H.264 from a hardware encoder.
inline bool formatOffersHardwareEncoder(OutputFormat format)
{
    return format == OutputFormat::MP4 || format == OutputFormat::MKV
            || format == OutputFormat::FLV;
}

inline const std::map<Language, QString> LANGUAGE_STRINGS = {
        {Language::en_US, QStringLiteral("en_US")}, {Language::de_DE, QStringLiteral("de_DE")},
        {Language::fr_FR, QStringLiteral("fr_FR")}, {Language::es_ES, QStringLiteral("es_ES")},
        {Language::pt_PT, QStringLiteral("pt_PT")}, {Language::it_IT, QStringLiteral("it_IT")},
        {Language::zh_CN, QStringLiteral("zh_CN")}, {Language::zh_TW, QStringLiteral("zh_TW")},
        {Language::ja_JP, QStringLiteral("ja_JP")},
};

inline const std::map<QString, Language> LANGUAGE_MAP = {
        {QStringLiteral("en_US"), Language::en_US}, {QStringLiteral("de_DE"), Language::de_DE},
        {QStringLiteral("fr_FR"), Language::fr_FR}, {QStringLiteral("es_ES"), Language::es_ES},
        {QStringLiteral("pt_PT"), Language::pt_PT}, {QStringLiteral("it_IT"), Language::it_IT},
        {QStringLiteral("zh_CN"), Language::zh_CN}, {QStringLiteral("zh_TW"), Language::zh_TW},
        {QStringLiteral("ja_JP"), Language::ja_JP},
};

inline const std::map<Language, QString> LANGUAGE_NAME_STRINGS = {
        {Language::en_US, QStringLiteral("English")},
        {Language::de_DE, QStringLiteral("Deutsch")},
        {Language::fr_FR, QStringLiteral("Français")},
        {Language::es_ES, QStringLiteral("Español")},
        {Language::pt_PT, QStringLiteral("Português")},
        {Language::it_IT, QStringLiteral("Italiano")},
        {Language::zh_CN, QStringLiteral("简体中文")},
        {Language::zh_TW, QStringLiteral("繁體中文")},
        {Language::ja_JP, QStringLiteral("日本語")},
};

inline const std::map<QString, Language> LANGUAGE_NAME_MAP = {
        {QStringLiteral("English"), Language::en_US},
        {QStringLiteral("Deutsch"), Language::de_DE},
        {QStringLiteral("Français"), Language::fr_FR},
        {QStringLiteral("Español"), Language::es_ES},
        {QStringLiteral("Português"), Language::pt_PT},
        {QStringLiteral("Italiano"), Language::it_IT},
        {QStringLiteral("简体中文"), Language::zh_CN},
        {QStringLiteral("繁體中文"), Language::zh_TW},
        {QStringLiteral("日本語"), Language::ja_JP},
};

inline bool isAudioOnlyFormat(OutputFormat format)
{
    return format == OutputFormat::MP3 || format == OutputFormat::AAC
            || format == OutputFormat::FLAC;
}

// For a format combo's index; -1 (nothing chosen) counts as video, the default.
inline bool isAudioOnlyFormatIndex(int index)
{
    return index >= 0 && index < OUTPUT_FORMAT_COUNT
            && isAudioOnlyFormat(static_cast<OutputFormat>(index));
}

// The name lists show; the stored strings are upper case.
inline QString outputFormatDisplayName(OutputFormat format)
{
    return format == OutputFormat::WEBM ? QStringLiteral("WebM") : OUTPUT_FORMAT_STRINGS.at(format);
}

// The file name extension, which the library also sorts files by.
inline QString outputFormatExtension(OutputFormat format)
{
    return OUTPUT_FORMAT_STRINGS.at(format).toLower();
}

inline bool formatOffersLossless(OutputFormat format)
{
    return format == OutputFormat::MP4 || format == OutputFormat::MKV;
}

// A palette for every picture costs GIF more than a video picture, so it offers lower rates.
inline QList<int> recordingFpsChoices(OutputFormat format)
{
    if (format == OutputFormat::GIF)
        return {5, 8, 10, 12, 15, 20, 24, 30};
    return {10, 15, 24, 30, 60};
}

inline int defaultRecordingFps(OutputFormat format)
{
    return format == OutputFormat::GIF ? 15 : 30;
}
