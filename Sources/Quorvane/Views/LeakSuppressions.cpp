// LeakSanitizer's suppressions for the application and the view tests: the sanitizer looks the
// function up in the program. Qt's offscreen fonts go through fontconfig, which keeps a cache it
// never frees, and under X11 Qt talks to the session bus through libdbus, which keeps its own:
// not our leaks.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
