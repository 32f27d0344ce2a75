#pragma once

#include <QLineEdit>

// A read-only field for a folder path. When the path is wider than the field it is shortened
// in the middle, so both the start and the folder's own name stay readable; the tool tip
// holds the whole path, and text() always returns it.
class SCPathField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SCPathField(QWidget *parent = nullptr);

    // The text as drawn in the field's current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textArea() const;
};
