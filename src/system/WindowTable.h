// The process's table of top-level windows: the headless viewer enters its
// main window here, and window lookups by class or title and the close and
// destroy messages work on it the way they work on a desktop's windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "automation/Internal.h"

namespace pm::windows {

using Handle = uint64_t;  // 0: no window

inline constexpr uint32_t kMsgDestroy = 2;
inline constexpr uint32_t kMsgClose = 16;

// The window's handler answers messages; its result is the message's.
using Handler = std::function<int64_t(uint32_t message)>;

PM_INTERNAL Handle create(std::string className, std::string title, bool visible, Handler handler);
PM_INTERNAL void destroy(Handle h);
PM_INTERNAL void setVisible(Handle h, bool visible);
void setTitle(Handle h, std::string title);
PM_INTERNAL bool exists(Handle h);
bool visible(Handle h);
// FindWindow: class and title each empty for "any"; the title compares
// without regard to case. 0 when no window matches.
Handle find(const std::string& className, const std::string& title);
// SendMessage: the handler's result; 0 for a window that does not exist.
int64_t send(Handle h, uint32_t message);

}  // namespace pm::windows
