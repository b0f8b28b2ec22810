#pragma once

// A file-size limit on the process (`ulimit -f`): by default the system ends
// a program that writes past it (SIGXFSZ). Ignored, such a write fails with
// EFBIG as on a full disk, which the store reports and retries while the
// program runs on.

// Makes every later write past the limit fail rather than end the process.
// Does nothing where the platform has no such limit.
void failWritesPastFileSizeLimit();
