#pragma once
// The message loops of the program (MessageLoop.cpp). Both dispatch every
// message in one step that gives each form dialog-style keys.
#include <functional>

namespace ui {

// Runs until a WM_QUIT for which quitAsked() is true; returns its exit
// code. Any other WM_QUIT, one another program posted, is dropped.
int RunMessageLoop(const std::function<bool()>& quitAsked);
// Dispatches every message waiting for this thread, then returns. Returns
// false when WM_QUIT was seen (it is posted again for the main loop).
bool PumpMessages();

}  // namespace ui
