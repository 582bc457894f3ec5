// webform_submit.cpp: submit a form, print the answer.  webform_submit URL [NAME VALUE]...
#include <cstdio>

#include "corv/http/Corvwebform.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: webform_submit URL [NAME VALUE]...\n");
    return 2;
  }
  try {
    TcorvWebForm form(nullptr);
    form.Timeout = 20;
    for (int i = 2; i < argc; i += 2) form.AddFormVar(argv[i], argv[i + 1]);
    form.SubmitTo(argv[1]);  // a POST, URL-encoded (Encoding)
    AnsiString answer = form.TransferredData();
    std::fwrite(answer.c_str(), 1, answer.Length(), stdout);
  } catch (Exception& e) {
    std::fprintf(stderr, "webform_submit: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
