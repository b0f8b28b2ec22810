#pragma once

// While it lives, no file of this process grows beyond `bytes`: a file-size
// limit fails writes as a full disk does, for root too. The signal that
// would end the process at such a write is ignored, as the program does.

#include <QtGlobal>

#include <csignal>

#include <sys/resource.h>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &before) != 0)
            return;
        rlimit limit = before;
        limit.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (active)
            setrlimit(RLIMIT_FSIZE, &before);
    }
    Q_DISABLE_COPY(FileSizeLimit)

    bool active = false;

private:
    rlimit before{};
};
