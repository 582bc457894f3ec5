// tavlin-snapshot FOLDER: the start-up of tavlin_COM3 (both windows, the first show with its
// open and send), then PNG images of the two windows in FOLDER, then Exit. For showing the
// program where there is no desktop.
#include <cstdio>

#include "app/Unit1.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavlin-snapshot FOLDER\n");
    return 2;
  }
  const AnsiString folder = argv[1];
  StartupPortEntry = 0;
  bool written = false;
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(ComPortForm);
    Form1->Show();
    ComPortForm->Show();
    Application->ProcessMessages();
    written = Form1->SaveToPng(folder + "/tavlin-main-window.png") &&
              ComPortForm->SaveToPng(folder + "/tavlin-com-port-window.png");
    Form1->Button6->Click();
  } catch (Exception& exception) {
    Application->ShowException(&exception);
  }
  if (!written) std::fprintf(stderr, "tavlin-snapshot: could not write the images into %s\n", argv[1]);
  return written ? 0 : 1;
}
