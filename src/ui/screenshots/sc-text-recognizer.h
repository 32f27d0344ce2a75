#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// Reads the text in a screenshot with Tesseract, in the program's language and English.
class SCTextRecognizer : public QObject
{
    Q_OBJECT

public:
    explicit SCTextRecognizer(QObject *parent = nullptr);
    ~SCTextRecognizer() override;

    // Tesseract's language list for a program locale ("de_DE" -> "deu+eng", "zh_TW" ->
    // "chi_tra+eng", "en_US" -> "eng"); a missing language pack is left out and logged once,
    // so the result always works while English is installed.
    static QString languagesFor(const QString &localeCode);

    // Recognises `image` off the GUI thread; exactly one of the signals follows. An empty
    // localeCode means the program's current language.
    void recognize(const QImage &image, const QString &localeCode = QString());
    bool isBusy() const;

signals:
    // Trimmed; empty when the picture holds no text.
    void finished(const QString &text);
    // An English sentence for the log; the caller shows its own text.
    void failed(const QString &reason);

private:
    int m_running = 0;
    // Shared with the runs still going, which stop at their next word once it is set.
    std::shared_ptr<std::atomic_bool> m_cancelled;
};
