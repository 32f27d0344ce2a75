#pragma once

#include <QMainWindow>
#include <memory>

class SCTranslator;

// The program's main window. It grows into the recording hub; today it is the shell that
// start-up shows and hands the translator and the engine start to.
class SCMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SCMainWindow(QWidget *parent = nullptr);
    ~SCMainWindow() override;

    void setTranslator(std::shared_ptr<SCTranslator> translator);

public Q_SLOTS:
    void initObsRecording();

private:
    std::shared_ptr<SCTranslator> m_translator;
};
