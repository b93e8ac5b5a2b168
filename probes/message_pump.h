// Keeps the hosting window alive while a member waits: the calling thread's queued messages
// are handed to their windows.
#ifndef TELVARIO_PROBES_MESSAGE_PUMP_H
#define TELVARIO_PROBES_MESSAGE_PUMP_H

namespace telvario {

// Removes and dispatches every message queued for any window of the calling thread; returns
// when the queue is empty.
void DrainMessageQueue();

}  // namespace telvario

#endif
