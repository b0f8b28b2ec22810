#pragma once

// Keeping the program's resident memory near what its heap holds alive. The
// C library keeps freed memory for later requests, and one heap ("arena")
// for each thread that met another in it: with pictures decoded, painted and
// encoded on every pool thread, most of what is freed stays with the process.
// Where the C library offers no such controls these do nothing.

// Lets the C library make at most `count` heaps however many threads
// allocate. Call first thing in main, before any thread starts.
void limitHeapArenas(int count);

// Gives the free memory of every heap back to the system. Takes a few
// milliseconds on a large heap: call it after large frees, off the GUI
// thread where it can be.
void releaseFreeHeapMemory();

// The heaps the program allows itself: the GUI thread's and three that the
// pool's threads share. Fewer would make the store's readers at start-up
// queue on each other's heap; more would let every pool thread keep freed
// pictures in a heap of its own.
inline constexpr int programHeapArenas = 4;
// Frees of about this many bytes at once (a screen-sized picture) are worth
// a release.
inline constexpr long long largeFreeBytes = 4LL * 1024 * 1024;
