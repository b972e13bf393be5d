// Restorix.exe: takes no arguments.
#include <windows.h>

#include "app/Startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  CRestorixApp app;
  app.InitInstance();
  return app.ExitInstance();
}
