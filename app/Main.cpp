// The program: the one application object, linked in from the core library.
#include "app/UpdaterApp.h"

// Naming the object here makes the linker keep it (and the globals beside it).
extern CWinApp* const g_pProgramApp;
CWinApp* const g_pProgramApp = &theApp;
