#pragma once

// The synchronised options that decide how captures are saved.

#include <QString>

class Options
{
public:
    Options() = delete;

    // The server option "ext": the file name extension, and so the format,
    // of saved captures: ".jpg" (default), ".jpeg" or ".png". Anything else
    // falls back to ".jpg".
    static QString ext();
    // The server option "quality": the JPEG quality of saved captures, 0 to
    // 100; default 85. A value out of range is clamped, a non-number ignored.
    static int quality();
};
