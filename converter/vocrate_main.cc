// vocrate: converts one file per run between a raw EVRC packet file and a
// QCP file. Exit status 0 after a conversion, 255 (-1) on any failure.
#include <fcntl.h>

#include <cstdio>

#include "converter/vocrate_run.h"

int main(int argc, char** argv) {
  // A standard stream started closed would hand its descriptor to the next
  // file opened, and console text could land in the destination file.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) {
      return -1;
    }
  }
  const vocrate::ConsoleTexts texts = vocrate::ConsoleTextsForUserLocale();
  return vocrate::Run(argc, argv, texts, stdout, stdin);
}
