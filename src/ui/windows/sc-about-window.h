#pragma once

#include <QMainWindow>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// Product name, version, a short description and the maker's web address.
class SCAboutWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SCAboutWindow(QWidget *parent = nullptr);

    static QString homeUrl();

public Q_SLOTS:
    void on_closeBtn_clicked();
    void on_homeURLLabel_linkActivated(const QString &link);

protected:
private:
    static constexpr int WIDTH = 420;
    static constexpr int HEIGHT = 300;

    void initUI();
    void fitToTexts(QPlainTextEdit *description);

    QWidget *m_titleWidget = nullptr;
    QPushButton *m_closeBtn = nullptr;
    QLabel *m_homeURLLabel = nullptr;
};
