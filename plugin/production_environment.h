// The environment of a real dialog, handed to CWavrelDlg by whoever makes it
// (the plug-in object): the core's environment over platform/, texts
// and message boxes through the host pointer, the folders beside the host
// executable.
#pragma once

#include "frontends/dialog/dialog_environment.h"

namespace wavrel {

/// The one process-wide production environment; it outlives every dialog.
IDialogEnvironment& ProductionEnvironment();

}  // namespace wavrel
