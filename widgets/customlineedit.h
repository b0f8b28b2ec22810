#pragma once

// A line edit that, read-only, shows its placeholder instead of an empty text.

#include <QLineEdit>

class CustomLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit CustomLineEdit(QWidget *parent = nullptr);

    void setText(const QString &text);
};
