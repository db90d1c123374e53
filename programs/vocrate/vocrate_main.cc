// vocrate: converts one file per run between a raw EVRC packet file and a
// QCP file. Exit status 0 after a conversion, 255 (-1) on any failure.
// `vocrate --version` alone prints the version; every other argument list is
// the converter's own.
#include <cstdio>
#include <cstring>

#include "formats/posix_file.h"
#include "programs/vocrate/vocrate_run.h"
#include "wavrel_version.h"

int main(int argc, char** argv) {
  // A standard stream started closed would hand its descriptor to the next
  // file opened, and console text could land in the destination file.
  if (!vocrate::OpenClosedStandardStreams()) return -1;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("vocrate (Wavrel) " WAVREL_VERSION "\n" WAVREL_LICENSE_NOTICE, stdout);
    return 0;
  }
  const vocrate::ConsoleTexts texts = vocrate::ConsoleTextsForUserLocale();
  return vocrate::Run(argc, argv, texts, stdout, stdin);
}
