#pragma once

#include <QMainWindow>

class QLabel;
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
    void initUI();

    QWidget *m_titleWidget = nullptr;
    QPushButton *m_closeBtn = nullptr;
    QLabel *m_homeURLLabel = nullptr;
};
