// The look of the program's windows on newer systems: their font becomes "Segoe UI", one point
// larger, where that font is installed.
#pragma once

#include <string>

class QWidget;

// True when the running kernel's major version is above 5.
bool IsNewerSystemVersion();
// The major version at the start of a kernel release text ("6.1.0-18-amd64" gives 6); 0 when
// there is none.
int KernelMajorVersion(const std::string& release);

// The program's windows are laid out for the system's font at 8 points, whatever size the
// desktop prefers: the main window has a fixed size.
void SetDesignedFont(QWidget* form);

// When the window's font is not already "Segoe UI" (in any case) and that font is installed:
// the window's font becomes "Segoe UI", one point larger. Nothing changes otherwise.
void AdjustFont(QWidget* form);
