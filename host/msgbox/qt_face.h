// The message box drawn with Qt Widgets, used when the process runs a
// QApplication.
#pragma once

#include <cstdint>

#include "host/msgbox/message_box_model.h"

namespace wavrel::msgbox {

/// True when a QApplication (not just a core application) exists.
bool QtFaceAvailable();

/// Shows request as a modal QMessageBox on the application's GUI thread and
/// returns the button that closed it. From another thread the call waits
/// until the GUI thread has shown and closed the box; when the GUI thread
/// does not take the box up within a few seconds (it is blocked, perhaps
/// waiting for the caller), the box is withdrawn and the answer is 2.
std::int32_t ShowQtBox(const BoxRequest& request);

}  // namespace wavrel::msgbox
