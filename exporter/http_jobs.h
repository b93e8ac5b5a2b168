// Work that an HTTP request waits for without holding up the event loop (a probe, a reload):
// each job runs on a thread of its own, and the loop answers its request once it is done, or
// once the request's deadline has come, whichever is first. A request whose client went away
// meanwhile is not answered; its job ends in its own time. The loop looks at its jobs every
// few milliseconds while it has any, and not at all when it has none.
#ifndef TELVARIO_EXPORTER_HTTP_JOBS_H
#define TELVARIO_EXPORTER_HTTP_JOBS_H

#include <h2o.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "reply.h"

namespace telvario::exporter {

// Writes a reply to a request of the loop's.
void SendReply(h2o_req_t* req, const Reply& reply);

class HttpJobs {
 public:
  HttpJobs(h2o_loop_t* loop, std::size_t most);
  // Tells every job to stop, and waits for their threads.
  ~HttpJobs();
  HttpJobs(const HttpJobs&) = delete;
  HttpJobs& operator=(const HttpJobs&) = delete;

  // Runs `work` on a thread, then answers `req` (null: no one waits) with its reply; `late`
  // answers it instead once `deadlineMs` (on the loop's clock) has come first. False where as
  // many jobs as allowed are running, or no thread could be had: nothing is started.
  using Work = std::function<Reply(const std::atomic<bool>& stopping)>;
  bool Start(h2o_req_t* req, Work work, std::uint64_t deadlineMs, Reply late);
  std::size_t Running() const { return jobs_.size(); }

 private:
  struct Job;
  struct Look {
    h2o_timeout_entry_t entry;  // first: the library hands this back
    HttpJobs* jobs;
  };
  static void OnLook(h2o_timeout_entry_t* entry);
  static void OnRequestGone(void* token);
  void LookAtJobs();

  h2o_loop_t* loop_;
  std::size_t most_;
  std::atomic<bool> stopping_{false};
  std::list<std::unique_ptr<Job>> jobs_;
  h2o_timeout_t every_{};
  Look look_{};
};

}  // namespace telvario::exporter

#endif
