// Each thread's queue of asynchronous procedure calls, as Windows keeps one per thread: a call
// that completes an operation the thread started is queued to that thread, and runs only when
// the thread waits alertably (SleepEx with bAlertable TRUE), never on another thread and never
// during Sleep. A thread that ends with calls still queued drops them unrun.
#ifndef TELVARIO_PLATFORM_POSIX_APC_QUEUE_H
#define TELVARIO_PLATFORM_POSIX_APC_QUEUE_H

#include <condition_variable>
#include <memory>
#include <mutex>

#include "windows_types.h"

namespace apc {

// One queued call. Queuing takes no memory, so that completing an operation cannot fail: the
// operation's own record is the item, freed once it has run (or with the queue, unrun).
class Item {
 public:
  Item() = default;
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
  virtual ~Item() = default;
  virtual void Run() noexcept = 0;

 private:
  friend class Queue;
  Item* next_ = nullptr;
};

class Queue {
 public:
  Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;
  ~Queue();

  void Push(std::unique_ptr<Item> item) noexcept;
  // Runs every queued call on the calling thread, first waiting up to `milliseconds` (INFINITE
  // for ever) for one; true when any ran. Calls queued while these run are run too.
  bool RunQueued(DWORD milliseconds) noexcept;

 private:
  Item* Pop();

  std::mutex lock_;
  std::condition_variable queued_;
  Item* head_ = nullptr;
  Item* tail_ = nullptr;
};

// The calling thread's queue, made on its first use (may throw std::bad_alloc). An operation
// keeps it to queue its completion, also after the thread has ended.
std::shared_ptr<Queue> ThisThread();

}  // namespace apc

#endif
