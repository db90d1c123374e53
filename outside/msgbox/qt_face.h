// The message box drawn with Qt Widgets, used when the process runs a
// QApplication.
#pragma once

#include <cstdint>

#include "outside/msgbox/message_box_model.h"

namespace wavrel::msgbox {

/// True when a QApplication (not just a core application) exists.
bool QtFaceAvailable();

/// Shows request as a modal QMessageBox on the application's GUI thread and
/// returns the button that closed it. From another thread the call waits
/// until the GUI thread has shown and closed the box, so the GUI thread must
/// not be waiting for the caller meanwhile.
std::int32_t ShowQtBox(const BoxRequest& request);

}  // namespace wavrel::msgbox
