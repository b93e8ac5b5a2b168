// Alertable waits and the per-thread queues they run. See apc_queue.h.
//
// Reproduced from Windows: SleepEx(ms, TRUE) returns WAIT_IO_COMPLETION as soon as it has run
// the calls queued to its thread (at once when some were queued before it began), and 0 when
// the time passed with none; SleepEx(ms, FALSE) is Sleep. Only SleepEx waits alertably here:
// the other waits of this layer never run queued calls.
#include "apc_queue.h"

#include <chrono>

#include "kernel.h"

namespace apc {

Queue::~Queue() {
  while (Item* item = Pop()) delete item;
}

Item* Queue::Pop() {
  Item* item = head_;
  if (item != nullptr) {
    head_ = item->next_;
    if (head_ == nullptr) tail_ = nullptr;
    item->next_ = nullptr;
  }
  return item;
}

void Queue::Push(std::unique_ptr<Item> item) noexcept {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    Item* added = item.release();
    if (tail_ != nullptr) {
      tail_->next_ = added;
    } else {
      head_ = added;
    }
    tail_ = added;
  }
  queued_.notify_all();
}

bool Queue::RunQueued(DWORD milliseconds) noexcept {
  std::unique_lock<std::mutex> hold(lock_);
  const auto anyQueued = [this] { return head_ != nullptr; };
  if (milliseconds == INFINITE) {
    queued_.wait(hold, anyQueued);
  } else if (!queued_.wait_for(hold, std::chrono::milliseconds(milliseconds), anyQueued)) {
    return false;
  }
  while (Item* item = Pop()) {
    // Run without the lock: the call may start another operation, or wait alertably itself.
    hold.unlock();
    item->Run();
    delete item;
    hold.lock();
  }
  return true;
}

std::shared_ptr<Queue> ThisThread() {
  thread_local std::shared_ptr<Queue> queue;
  if (queue == nullptr) queue = std::make_shared<Queue>();
  return queue;
}

}  // namespace apc

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
  if (alertable == FALSE) {
    Sleep(milliseconds);
    return 0;
  }
  std::shared_ptr<apc::Queue> queue;
  try {
    queue = apc::ThisThread();
  } catch (...) {
    // No queue could be made, so nothing can have been queued to this thread.
    Sleep(milliseconds);
    return 0;
  }
  return queue->RunQueued(milliseconds) ? WAIT_IO_COMPLETION : 0;
}
