#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>
#include <optional>
#include <utility>

// What ffprobe and ffmpeg say about a recorded file.
class MediaProbe
{
public:
    explicit MediaProbe(const QString &path);

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QString formatName() const;
    double formatDuration() const; // -1 when not given
    QStringList codecs() const; // one entry per stream, in stream order
    QJsonObject stream(const QString &type) const;
    // end of the last packet of the first stream of this type, from the packets themselves
    double packetEnd(const QString &type) const;
    // time of the first packet shown: an encoder's picture reordering starts a stream later
    double packetStart(const QString &type) const;
    int packetCount(const QString &type) const;

    // Decodes the whole file; true when ffmpeg reports no error.
    static bool decodes(const QString &path, QString *messages = nullptr);
    // The colour tables of a GIF file, global first, and its number of pictures.
    static QList<QByteArray> gifPalettes(const QString &path, int *pictures);
    // Length found by decoding the whole file: a header's bitrate says little about the real one.
    static double decodedDuration(const QString &path);
    // One line per stream: "video,W,H" or "audio", in stream order.
    QString streamSummary() const;
    struct Loudness
    {
        bool hasAudio = false;
        double mean = -std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();
    };
    // ffmpeg's volumedetect over the first audio stream from `skip` seconds on, after an
    // optional filter chain; "-inf" and a file without sound both read as -infinity.
    static Loudness loudness(const QString &path, const QString &filter = QString(),
                             double skip = 0.0);

    // Decoded video frames, counted by ffprobe.
    static std::optional<long> frameCount(const QString &file);
    // Frames left after mpdecimate drops each one that looks like the frame kept before it.
    static std::optional<long> distinctFrameCount(const QString &file);
    // Frames whose decoded picture differs in any pixel from every other frame's: an upper
    // bound, as encoder noise can make copies of one picture differ.
    static std::optional<long> uniqueFrameCount(const QString &file);
    // One decoded picture, `fromEnd` counting from the last one.
    static QImage frame(const QString &file, const QString &pngPath, bool fromEnd = false);
    static QString pixelFormat(const QString &file);

    // Runs a tool to its end; its standard output, or nothing when it failed or hung.
    static std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                             int timeoutMs = 600000);

private:
    void readPackets() const;
    // first start and last end of the packets of the first stream of this type
    std::pair<double, double> packetSpan(const QString &type) const;

    QString m_path;
    bool m_ok = false;
    QString m_error;
    QJsonObject m_info;
    mutable bool m_havePackets = false;
    mutable QJsonObject m_packets;
};
