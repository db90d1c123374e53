// The mark of a program of this build: linked into vocrate, evrc_2004 and
// qcelp_13k, so that `wavrel convert` knows the programs its worker stands
// in for from any other program put in their place (a wrapper script, a
// decoder of another build), which it starts as it is.
#include "wavrel_version.h"

namespace wavrel {

// Kept by the linker although nothing refers to it.
[[gnu::used]] extern const char kProgramMark[] = WAVREL_PROGRAM_MARK;

}  // namespace wavrel
