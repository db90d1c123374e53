// evrc_2004: the EVRC decoder that the plug-in runs for each recording.
// Exit status 0 when the whole input was decoded; 2 for a bad command line;
// 1 when the input cannot be read, the decoder cannot be set up or the output
// cannot be written. Nothing is left under the output name on failure.
#include "programs/decoders/decoder_programs.h"

int main(int argc, char** argv) { return evrc::ProgramMain(argc, argv, evrc::RunEvrc2004); }
