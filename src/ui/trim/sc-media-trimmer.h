#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

struct SCMediaTrimRequest
{
    QString source;
    QString target;
    // From the file's beginning, as a player shows it.
    qint64 startMs = 0;
    qint64 endMs = 0;
    // Re-encodes instead of copying, so the cut starts exactly at startMs.
    bool exact = false;
};

struct SCMediaTrimResult
{
    enum class Failure { None, Unreadable, Unsupported, DiskFull, NotWritable, Cancelled, Failed };
    Failure failure = Failure::None;
    // FFmpeg's own words, for the log.
    QString detail;
    // Where the new file really starts in the source: the keyframe a stream copy snapped to.
    qint64 startMs = 0;

    bool ok() const { return failure == Failure::None; }
};

// Cuts a piece out of a recording into a new file through FFmpeg's libraries: a stream copy
// from the keyframe at or before the start where the format allows, else (or when asked) a
// re-encode. The source is only read; a failed or cancelled cut leaves no file behind.
class SCMediaTrimmer : public QObject
{
    Q_OBJECT

public:
    explicit SCMediaTrimmer(QObject *parent = nullptr);
    // Cancels a running cut and waits for it.
    ~SCMediaTrimmer() override;

    static bool isSupported(const QString &path);
    // GIF and WebM are always re-encoded.
    static bool copiesStreams(const QString &path);
    // Length in milliseconds, -1 when the file cannot be read.
    static qint64 durationMs(const QString &path);
    static bool hasVideo(const QString &path);
    // Where a stream copy from startMs begins; -1 when the file cannot be read.
    static qint64 keyframeAtOrBefore(const QString &path, qint64 startMs);
    // Beside the source, base name + "_trimmed" + suffix, numbered when that exists.
    static QString defaultTarget(const QString &source);

    // The cut itself, on the calling thread; `progress` gets 0..100.
    static SCMediaTrimResult trim(const SCMediaTrimRequest &request,
                                  const std::function<void(int)> &progress,
                                  const std::atomic<bool> &cancel);

    bool isRunning() const;

public Q_SLOTS:
    void start(const SCMediaTrimRequest &request);
    void cancel();

Q_SIGNALS:
    void progressChanged(int percent);
    void finished(const SCMediaTrimResult &result);

private:
    std::shared_ptr<std::atomic<bool>> m_cancel;
    QFutureWatcher<SCMediaTrimResult> *m_watcher = nullptr;
};
