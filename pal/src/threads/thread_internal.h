// What threads and message queues share inside the platform layer.
#pragma once

#include "pal/types.h"

namespace pal {

// Frees the message queue of a thread that ends; called under waitMutex(). Later posts to the
// thread fail with ERROR_INVALID_THREAD_ID.
void discardMessageQueueLocked(DWORD threadId);

} // namespace pal
