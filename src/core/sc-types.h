#pragma once

// Values shared by the whole program: formats, languages and their lookup tables.
// The strings are what the settings store holds.

#include <QString>
#include <map>

enum class ScreenshotFormat { PNG = 0, JPG = 1 };

// 0-3 are video formats, 4-6 audio-only; the value is the index in every format combo box.
enum class OutputFormat { MP4 = 0, AVI = 1, FLV = 2, GIF = 3, MP3 = 4, AAC = 5, FLAC = 6 };

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
        {OutputFormat::FLAC, QStringLiteral("FLAC")},
};

inline const std::map<QString, OutputFormat> OUTPUT_FORMAT_MAP = {
        {QStringLiteral("MP4"), OutputFormat::MP4},   {QStringLiteral("AVI"), OutputFormat::AVI},
        {QStringLiteral("FLV"), OutputFormat::FLV},   {QStringLiteral("GIF"), OutputFormat::GIF},
        {QStringLiteral("MP3"), OutputFormat::MP3},   {QStringLiteral("AAC"), OutputFormat::AAC},
        {QStringLiteral("FLAC"), OutputFormat::FLAC},
};

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
    return static_cast<int>(format) >= static_cast<int>(OutputFormat::MP3);
}
