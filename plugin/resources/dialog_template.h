// Dialog template 3000: the conversion dialog's frame and its controls, with
// positions in dialog units. The template's font ("MS Shell Dlg" 8 pt)
// becomes the system's default UI font, whose metrics turn
// dialog units into pixels. Captions are those the template carries before
// start-up replaces them with the host's texts.
#pragma once

#include <array>

#include "frontends/dialog/dialog_window.h"

namespace wavrel {

enum class ControlKind { kGroupBox, kStaticText, kStaticCentred, kPicture, kEdit, kPushButton };

struct DialogControl {
  int id;  // kNoControlId for the unnamed group box
  ControlKind kind;
  const char* caption;      // UTF-8; empty when the template gives none
  int x, y, width, height;  // dialog units
};

inline constexpr int kNoControlId = -1;
inline constexpr int kDialogWidthDu = 217;
inline constexpr int kDialogHeightDu = 174;

/// In creation (and tab) order; later controls lie above earlier ones.
inline constexpr std::array<DialogControl, 12> kDialogControls{{
    {kIdPromptGroup, ControlKind::kGroupBox, "\u63d0\u793a", 7, 7, 203, 46},
    {kIdStatus, ControlKind::kStaticCentred,
     "QCP\u6587\u4ef6\u8f6c\u5316WAV\u683c\u5f0f\u64cd\u4f5c", 14, 22, 188, 8},
    {kIdPicture, ControlKind::kPicture, "", 35, 36, 147, 8},
    {kNoControlId, ControlKind::kGroupBox, "", 7, 56, 203, 85},
    {kIdInputLabel, ControlKind::kStaticText, "QCP\u8f93\u5165\u8def\u5f84", 19, 65, 156, 8},
    {kIdInputEdit, ControlKind::kEdit, "", 19, 79, 156, 14},
    {kIdBrowseInput, ControlKind::kPushButton, "...", 181, 79, 19, 14},
    {kIdOutputLabel, ControlKind::kStaticText, "WAV\u8f93\u51fa\u8def\u5f84", 19, 103, 157, 8},
    {kIdOutputEdit, ControlKind::kEdit, "", 19, 116, 156, 14},
    {kIdBrowseOutput, ControlKind::kPushButton, "...", 181, 116, 19, 14},
    {kIdConvert, ControlKind::kPushButton, "\u8f6c\u6362", 45, 153, 50, 14},
    {kIdCancelConversion, ControlKind::kPushButton, "\u53d6\u6d88", 121, 153, 50, 14},
}};

}  // namespace wavrel
