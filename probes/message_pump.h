// Keeps the hosting window alive while a member waits: the calling thread's queued messages are
// handed to their windows. A measurement waits this way throughout, as an apartment's modal loop
// does, so that a call marshalled to the object from another apartment (a Cancel) is dispatched
// while it runs rather than after it.
#ifndef TELVARIO_PROBES_MESSAGE_PUMP_H
#define TELVARIO_PROBES_MESSAGE_PUMP_H

#include <atomic>

#include "windows_api.h"

namespace telvario {

// Removes and dispatches every message queued for any window of the calling thread; returns
// when the queue is empty.
void DrainMessageQueue();

// Sleeps up to `milliseconds`, dispatching the thread's messages every few milliseconds;
// returns early once `stop` (where given) is set.
void SleepDispatching(DWORD milliseconds, const std::atomic<bool>* stop = nullptr);

}  // namespace telvario

#endif
