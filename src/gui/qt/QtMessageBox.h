#pragma once
// Modal message boxes of the Qt window: the same kinds, titles, icons and buttons as the
// Windows window's boxes, with the text shown exactly as given (never as rich text).

#include <QString>

#include <string>

#include "sys/Messages.h"

class QWidget;

namespace gui {

// The title of a box of this kind: "Information", "Warning", "Error", "Confirm", or the
// application title for a plain box.
QString MessageTitle(sys::MessageKind kind);

// Shows the box modally over parent (may be null) and returns the button pressed; Closed when
// the box was closed without one.
sys::MessageAnswer ShowMessageBox(QWidget* parent, const std::string& text, sys::MessageKind kind,
                                  sys::MessageButtons buttons);

// The system's single-byte texts on screen and back: bytes that are not UTF-8 are shown as
// their Latin-1 characters rather than dropped.
QString ToQString(const std::string& text);

} // namespace gui
