#pragma once

#include <QColor>

// The canvas and page colour "#ebebeb", under every screenshot's picture and
// counted into every pixelation block.
inline QColor pageColor()
{
    return QColor(0xeb, 0xeb, 0xeb);
}
