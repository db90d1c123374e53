// qcelp_13k: the QCELP-13K decoder that the plug-in runs for each QCELP
// recording. It reads the QCP file itself (there is no raw packet file for
// this codec), writes headerless PCM, and appends the lost frames to
// loss_stat.txt in the current folder as vocrate does for EVRC.
// Exit status 0 when the whole recording was decoded; 2 for a bad command
// line; 1 when the input cannot be read or is not QCELP-13K speech, the
// decoder cannot be set up, or the output or loss_stat.txt cannot be written.
// Nothing is left under the output name on failure.
#include "programs/decoders/decoder_programs.h"

int main(int argc, char** argv) { return evrc::ProgramMain(argc, argv, evrc::RunQcelp13k); }
