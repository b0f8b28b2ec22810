#pragma once

// Drawing options of one tool. An entry read for a tool that has none starts
// with these values.

#include <QColor>
#include <QFont>

struct SkrinToolOptions
{
    double penSize = 1.0;
    QColor color = Qt::black;
    QFont font = QFont(QStringLiteral("Arial"), 10);
    QColor secondColor = Qt::black;
};
