// Program entry of tavlin_COM3 and tavlin_COM1; TAVLIN_START_PORT_ENTRY picks the port entry
// the main window opens at start-up.
#include "app/Unit1.h"
#include "platform/win32/win32.h"

#ifndef TAVLIN_START_PORT_ENTRY
#error "TAVLIN_START_PORT_ENTRY must be defined"
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  StartupPortEntry = TAVLIN_START_PORT_ENTRY;
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(ComPortForm);
    Application->Run();
  } catch (Exception& exception) {
    Application->ShowException(&exception);
  }
  return 0;
}

int main() { return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), 1); }
