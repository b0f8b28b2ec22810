#pragma once

// The widgets of the title prompt, laid out in a grid: the question over the
// title edit and its OK button, over the note about the copied URL.

#include "custombutton.h"
#include "customlabel.h"
#include "customlineedit.h"

#include <QCoreApplication>
#include <QGridLayout>

class Ui_SkrinDone
{
public:
    QGridLayout *gridLayout = nullptr;
    CustomLabel *label = nullptr;
    CustomLineEdit *title = nullptr;
    CustomButton *button = nullptr;
    CustomLabel *label_2 = nullptr;

    void setupUi(QWidget *form)
    {
        if (form->objectName().isEmpty())
            form->setObjectName(QStringLiteral("SkrinDone"));
        form->resize(245, 89);
        gridLayout = new QGridLayout(form);
        label = new CustomLabel(form);
        gridLayout->addWidget(label, 0, 0, 1, 2);
        title = new CustomLineEdit(form);
        title->setMinimumSize(200, 0);
        gridLayout->addWidget(title, 1, 0);
        button = new CustomButton(form);
        gridLayout->addWidget(button, 1, 1);
        label_2 = new CustomLabel(form);
        gridLayout->addWidget(label_2, 2, 0, 1, 2);
        retranslateUi(form);
    }

    void retranslateUi(QWidget *form)
    {
        form->setWindowTitle(QCoreApplication::translate("SkrinDone", "Form"));
        label->setText(QCoreApplication::translate("SkrinDone", "Set title for new screenshot"));
        label_2->setText(QCoreApplication::translate(
            "SkrinDone", "Screenshot URL has been copied.\nYou can paste it anywhere you want using %1."));
    }
};
