#include "skrindone.h"

#include "skrindone_p.h"

#include <QKeySequence>

SkrinDone::SkrinDone(QWidget *parent)
    : CustomWidget(parent, false)
    , ui(std::make_unique<Ui_SkrinDone>())
{
    ui->setupUi(this);
    QString note = ui->label_2->text();
    note.replace(QStringLiteral("%1"), QKeySequence(QKeySequence::Paste).toString(QKeySequence::PortableText));
    ui->label_2->setText(note);

    QFont closeFont = font();
    closeFont.setWeight(QFont::Bold);
    closeFont.setPointSizeF(15.0);
    setBorder(true, 0.0, QColor("#a4a4a4"));
    setShadowSize(10);
    hide();

    closeButton = new CustomButton(this);
    closeButton->setSize(0, 0);
    closeButton->setText(QStringLiteral("X"));
    // After the size and the text: setting either takes the parent's font.
    closeButton->setFont(closeFont);
    closeButton->show();
    closeButton->setGeometry(QRect(QPoint(0, 0), closeButton->sizeHint()));
    connect(closeButton, &CustomButton::clicked, this, &QWidget::close);

    ui->title->setPlaceholderText(tr("No title"));
    ui->button->setTextIcon(tr("OK"));
    ui->button->setToolTip(tr("OK"));
    connect(ui->button, &CustomButton::clicked, this, &SkrinDone::save);
    connect(ui->title, &QLineEdit::returnPressed, this, &SkrinDone::on_title_returnPressed);

    ui->label->setContentsMargins(0, 0, 0, 0);
    setContentsMargins(10, 5, 10, 10);
    adjustKeepingCentre();
}

SkrinDone::~SkrinDone() = default;

void SkrinDone::showForSkrin(Id id, bool urlCopied)
{
    skrin = id;
    ui->title->setText(QString());
    if (ui->label_2->isHidden() == urlCopied) {
        ui->label_2->setVisible(urlCopied);
        adjustKeepingCentre();
    }
    show();
    ui->title->setFocus(Qt::OtherFocusReason);
}

void SkrinDone::save()
{
    // Cleared before the write: whatever the write sets off (the window hides
    // the prompt on a title change) cannot store the title a second time.
    const Id id = skrin;
    skrin = 0;
    if (id != 0)
        setMember(id, QStringLiteral("title"), ui->title->text());
    close();
}

void SkrinDone::on_title_returnPressed()
{
    save();
}

void SkrinDone::resizeEvent(QResizeEvent *event)
{
    CustomWidget::resizeEvent(event);
    closeButton->move(width() - 20 - closeButton->width(), 12);
}

void SkrinDone::hideEvent(QHideEvent *event)
{
    CustomWidget::hideEvent(event);
    emit hideEventSignal();
}
