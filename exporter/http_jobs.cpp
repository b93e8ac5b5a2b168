#include "http_jobs.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace telvario::exporter {
namespace {

// How often the loop looks at its jobs while it has any.
constexpr std::uint64_t kLookMs = 5;

void AddHeader(h2o_req_t* req, const h2o_token_t* token, const std::string& value) {
  const h2o_iovec_t copy = h2o_strdup(&req->pool, value.data(), value.size());
  h2o_add_header(&req->pool, &req->res.headers, token, nullptr, copy.base, copy.len);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

}  // namespace

void SendReply(h2o_req_t* req, const Reply& reply) {
  req->res.status = reply.status;
  req->res.reason = Reason(reply.status);
  AddHeader(req, H2O_TOKEN_CONTENT_TYPE, reply.type);
  AddHeader(req, H2O_TOKEN_CACHE_CONTROL, "no-store");
  const h2o_iovec_t body = h2o_strdup(&req->pool, reply.body.data(), reply.body.size());
  h2o_send_inline(req, body.base, body.len);
}

// A job: its thread and what it gives, and the request it answers while that is still there.
struct HttpJobs::Job {
  std::thread thread;
  std::mutex lock;
  bool done = false;
  Reply reply;
  h2o_req_t* req = nullptr;
  // In the request's memory: told when the request goes, and cut loose once it is answered.
  struct Token {
    Job* job;
  };
  Token* token = nullptr;
  std::uint64_t deadlineMs = 0;
  Reply late;

  void Answer(const Reply& given) {
    if (req == nullptr) return;
    token->job = nullptr;
    h2o_req_t* answered = req;
    req = nullptr;
    SendReply(answered, given);
  }
};

HttpJobs::HttpJobs(h2o_loop_t* loop, std::size_t most) : loop_(loop), most_(most) {
  h2o_timeout_init(loop_, &every_, kLookMs);
  look_.entry.cb = OnLook;
  look_.jobs = this;
}

HttpJobs::~HttpJobs() {
  stopping_ = true;
  for (const auto& job : jobs_) {
    if (job->req != nullptr) job->token->job = nullptr;
    job->thread.join();
  }
  jobs_.clear();
  if (h2o_timeout_is_linked(&look_.entry)) h2o_timeout_unlink(&look_.entry);
  h2o_timeout_dispose(loop_, &every_);
}

bool HttpJobs::Start(h2o_req_t* req, Work work, std::uint64_t deadlineMs, Reply late) {
  if (jobs_.size() >= most_) return false;
  auto job = std::make_unique<Job>();
  Job* running = job.get();
  running->deadlineMs = deadlineMs;
  running->late = std::move(late);
  try {
    running->thread = std::thread([running, work = std::move(work), this] {
      Reply reply = work(stopping_);
      const std::lock_guard<std::mutex> hold(running->lock);
      running->reply = std::move(reply);
      running->done = true;
    });
  } catch (const std::system_error&) {
    return false;
  }
  if (req != nullptr) {
    running->req = req;
    running->token = static_cast<Job::Token*>(
        h2o_mem_alloc_shared(&req->pool, sizeof(Job::Token), OnRequestGone));
    running->token->job = running;
  }
  jobs_.push_back(std::move(job));
  if (!h2o_timeout_is_linked(&look_.entry)) h2o_timeout_link(loop_, &every_, &look_.entry);
  return true;
}

void HttpJobs::OnRequestGone(void* token) {
  Job* job = static_cast<Job::Token*>(token)->job;
  if (job != nullptr) job->req = nullptr;
}

void HttpJobs::OnLook(h2o_timeout_entry_t* entry) {
  reinterpret_cast<Look*>(entry)->jobs->LookAtJobs();
}

void HttpJobs::LookAtJobs() {
  const std::uint64_t now = h2o_now(loop_);
  for (auto job = jobs_.begin(); job != jobs_.end();) {
    bool done = false;
    {
      const std::lock_guard<std::mutex> hold((*job)->lock);
      done = (*job)->done;
    }
    if (done) {
      (*job)->Answer((*job)->reply);
      (*job)->thread.join();
      job = jobs_.erase(job);
      continue;
    }
    if (now >= (*job)->deadlineMs) (*job)->Answer((*job)->late);
    ++job;
  }
  if (!jobs_.empty()) h2o_timeout_link(loop_, &every_, &look_.entry);
}

}  // namespace telvario::exporter
