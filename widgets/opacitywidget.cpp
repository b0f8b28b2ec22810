#include "opacitywidget.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <cmath>

OpacityWidget::OpacityWidget(QWidget *owner)
    : owner(owner)
{
}

void OpacityWidget::setOpacity(double value)
{
    value = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
    if (value == currentOpacity)
        return;
    currentOpacity = value;
    if (!owner)
        return;

    if (!haveBasePalette) {
        // An inherited palette may already be faded by a fading parent: start
        // from the natural one unless the owner chose its own.
        basePalette = owner->testAttribute(Qt::WA_SetPalette) ? owner->palette() : QApplication::palette(owner);
        haveBasePalette = true;
    }
    QPalette faded = basePalette;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            QBrush brush = basePalette.brush(g, r);
            QColor colour = brush.color();
            colour.setAlphaF(float(colour.alphaF() * value));
            brush.setColor(colour);
            faded.setBrush(g, r, brush);
        }
    }
    owner->setPalette(faded);

    const QList<QWidget *> children = owner->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (auto *fading = dynamic_cast<OpacityWidget *>(child))
            fading->setOpacity(value);
    }
}
