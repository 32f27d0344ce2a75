#pragma once

#include <QMainWindow>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMediaPlayer;
class QProgressBar;
class QPushButton;
class QTimeEdit;
class QTimer;
class QVideoWidget;
class SCMediaTrimmer;
class SCTrimTimeline;
struct SCMediaTrimResult;

// Cuts a piece out of a recording of the library into a new file beside it: a preview, the
// time line with its two handles, the times to the millisecond, and "Save as New File". The
// original file is only read.
class SCTrimWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SCTrimWindow(const QString &path, QWidget *parent = nullptr);
    ~SCTrimWindow() override;

    QString sourcePath() const { return m_path; }
    // Where "Save as New File" writes now.
    QString targetPath() const;

Q_SIGNALS:
    // A new file was written and may join the library.
    void saved(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildBody(QWidget *body);
    QWidget *buildTimeRow(QWidget *parent);
    QWidget *buildSaveRow(QWidget *parent);
    void loadStyle();
    void setUpPlayer();
    void showRange(qint64 start, qint64 end);
    void takeEditedTimes();
    void updateSnapNote();
    void togglePlay();
    void chooseTarget();
    void save();
    void finish(const SCMediaTrimResult &result);
    void setBusy(bool busy);
    void tell(const QString &text, bool problem);
    QString failureText(const SCMediaTrimResult &result) const;

    QString m_path;
    QString m_folder;
    // A name the file dialog already asked about replacing.
    QString m_confirmed;
    qint64 m_duration = 0;
    bool m_copies = false;
    bool m_video = false;

    QMediaPlayer *m_player = nullptr;
    QVideoWidget *m_videoWidget = nullptr;
    SCTrimTimeline *m_timeline = nullptr;
    QTimeEdit *m_startEdit = nullptr;
    QTimeEdit *m_endEdit = nullptr;
    QPushButton *m_playButton = nullptr;
    QCheckBox *m_exact = nullptr;
    QLabel *m_snapNote = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    QPushButton *m_chooseButton = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_closeBtn = nullptr;
    SCMediaTrimmer *m_trimmer = nullptr;
    QTimer *m_progressDelay = nullptr;
    QTimer *m_snapDelay = nullptr;
};
