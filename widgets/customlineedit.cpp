#include "customlineedit.h"

CustomLineEdit::CustomLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
}

void CustomLineEdit::setText(const QString &text)
{
    if (isReadOnly() && text.isEmpty())
        QLineEdit::setText(placeholderText());
    else
        QLineEdit::setText(text);
}
