// The leak checker's settings for every fuzz target. Qt's font and platform
// libraries keep allocations for the life of the process; they are not ours
// to free. libFuzzer checks for leaks after many inputs, and each check
// would list the suppressions it used: the log keeps to what was found.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:QFactoryLoader\nleak:QLibraryPrivate\n";
}

extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}
