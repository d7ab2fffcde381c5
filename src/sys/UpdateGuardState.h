#pragma once
// The process-wide state behind UpdateGuard, shared by its platform parts. A request is a
// nonzero code (the signal number, or the console event + 1). Hold runs in signal handlers:
// it is lock-free and async-signal-safe.

namespace sys::guard {

inline constexpr char kFinishingNotice[] =
    "odflash: interrupt received; the update is finishing safely and odflash will stop when "
    "the drive is safe\n";

void Activate();
void Deactivate();
// Remembers the first request of the active guard. True once per guard, for the first request
// in the critical phase: the caller then shows the notice.
bool Hold(int request);
// The held request of the active guard, 0 when none.
int HeldRequest();

} // namespace sys::guard
