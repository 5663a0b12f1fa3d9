// Shared between the parts of the runtime library.
#pragma once

namespace vxsrvc {

// Drops the timers not yet fired and stops the timer thread (VxSrvcCleanup).
void stopTimers();

} // namespace vxsrvc
