// vocrate: converts one file per run between a raw EVRC packet file and a
// QCP file. Exit status 0 after a conversion, 255 (-1) on any failure.
#include <cstdio>

#include "converter/vocrate_run.h"

int main(int argc, char** argv) {
  const vocrate::ConsoleTexts texts = vocrate::ConsoleTextsForUserLocale();
  return vocrate::Run(argc, argv, texts, stdout, stdin);
}
