// Qt's offscreen fonts go through fontconfig, which keeps a cache it never frees: not our leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
