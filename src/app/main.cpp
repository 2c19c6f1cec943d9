// The engine's entry point. The run modes (silent install, wizard, builder,
// uninstaller relaunch) are wired in as the engine's parts arrive; until the
// worker exists the program starts and ends with exit code 0, as every run of
// the engine does.
int main() { return 0; }
