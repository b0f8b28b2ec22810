#include "heapmemory.h"

#include <cstdlib> // defines __GLIBC__ with the GNU C library

#ifdef __GLIBC__
#include <malloc.h>
#endif

void limitHeapArenas(int count)
{
#ifdef __GLIBC__
    if (count > 0)
        mallopt(M_ARENA_MAX, count);
#else
    (void)count;
#endif
}

void releaseFreeHeapMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
