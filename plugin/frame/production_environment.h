// The environment of a real run, handed to CWavrelDlg by whoever makes it
// (the plug-in object, the console front end): programs and files over
// plugin/platform, texts and message boxes through the host pointer, the
// folders beside the host executable.
#pragma once

#include "plugin/engine/engine_environment.h"

namespace wavrel {

/// The one process-wide production environment; it outlives every dialog.
IEngineEnvironment& ProductionEnvironment();

}  // namespace wavrel
