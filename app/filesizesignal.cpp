#include "filesizesignal.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

void failWritesPastFileSizeLimit()
{
#if defined(Q_OS_UNIX) && defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}
