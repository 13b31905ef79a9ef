// Shared internals of the seam's panel part (panels, pop-ups, graphs, the display); not
// for the application modules.
#pragma once

#include "internal.h"

#include <string>

class QApplication;
class QComboBox;
class QWidget;

namespace runtime::detail {

// The engine with a display (engine_ui.cpp); null without one.
extern QApplication* theApp;

// The widget of a loaded control (null when the panel has no such control).
QWidget* CtrlWidget(int panel, int control);

// The PORT selector: filled with the numbered ports, and filled again each time it opens.
void FillPortSelector(QComboBox* box);
void WatchPortSelector(QComboBox* box);

// Whether Qt will find a display to start on (display.cpp); `why` says what is wrong.
bool DisplayReachable(int argc, char** argv, std::string& why);

// A panel has just been shown (a screenshot asked for before may be taken now).
void PanelShown(QWidget* top);

} // namespace runtime::detail
