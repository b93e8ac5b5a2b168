#include "download_stream.h"

#include <algorithm>
#include <new>

#include "incompressible_bytes.h"

namespace telvario::serve {
namespace {

// Large enough that a fast client costs few writes, small enough that a thousand connections
// over TLS (whose records the library keeps until sent) hold little.
constexpr std::uint64_t kChunkBytes = 256 * 1024;

struct DownloadStream {
  h2o_generator_t generator;  // first: the library hands this back as the stream
  h2o_timeout_entry_t wait;   // for the bandwidth budget
  ServeState* state;
  h2o_req_t* req;
  std::uint64_t left;
  std::uint64_t endsAtMs;
  std::size_t offset;
  bool sized;
};

DownloadStream* StreamOfWait(h2o_timeout_entry_t* entry) {
  return reinterpret_cast<DownloadStream*>(reinterpret_cast<char*>(entry) -
                                           offsetof(DownloadStream, wait));
}

void SendNext(DownloadStream* stream);

void OnBudget(h2o_timeout_entry_t* entry) {
  SendNext(StreamOfWait(entry));
}

void Proceed(h2o_generator_t* generator, h2o_req_t* /*req*/) {
  SendNext(reinterpret_cast<DownloadStream*>(generator));
}

void Stop(h2o_generator_t* generator, h2o_req_t* /*req*/) {
  auto* stream = reinterpret_cast<DownloadStream*>(generator);
  if (h2o_timeout_is_linked(&stream->wait)) h2o_timeout_unlink(&stream->wait);
}

void Dispose(void* memory) {
  auto* stream = static_cast<DownloadStream*>(memory);
  if (h2o_timeout_is_linked(&stream->wait)) h2o_timeout_unlink(&stream->wait);
}

// The slice of the block that the next `bytes` go from, so that no slice wraps.
h2o_iovec_t NextSlice(DownloadStream* stream, std::size_t bytes) {
  const std::span<const char> block = IncompressibleBytes();
  if (stream->offset + bytes > block.size()) stream->offset = 0;
  const h2o_iovec_t slice = h2o_iovec_init(block.data() + stream->offset, bytes);
  stream->offset += bytes;
  return slice;
}

void SendNext(DownloadStream* stream) {
  ServeState& state = *stream->state;
  const std::uint64_t now = h2o_now(state.loop);
  if (stream->left == 0 || now >= stream->endsAtMs) {
    // Out of time or bytes: a sized body cut short must not pass for whole.
    const bool cut = stream->sized && stream->left > 0;
    h2o_send(stream->req, nullptr, 0, cut ? H2O_SEND_STATE_ERROR : H2O_SEND_STATE_FINAL);
    return;
  }
  const auto wanted = static_cast<std::size_t>(std::min(stream->left, kChunkBytes));
  const std::size_t granted = state.budget.Take(wanted, now);
  if (granted == 0) {
    h2o_timeout_link(state.loop, &state.budgetWait, &stream->wait);
    return;
  }
  h2o_iovec_t slice = NextSlice(stream, granted);
  stream->left -= granted;
  state.counts.bytesSent += granted;
  const bool last = stream->left == 0 && stream->sized;
  h2o_send(stream->req, &slice, 1, last ? H2O_SEND_STATE_FINAL : H2O_SEND_STATE_IN_PROGRESS);
}

}  // namespace

void StartDownload(ServeState* state, h2o_req_t* req, std::uint64_t bytes, bool sized) {
  void* memory = h2o_mem_alloc_shared(&req->pool, sizeof(DownloadStream), Dispose);
  auto* stream = new (memory) DownloadStream{};
  stream->generator.proceed = Proceed;
  stream->generator.stop = Stop;
  stream->wait.cb = OnBudget;
  stream->state = state;
  stream->req = req;
  stream->left = std::min(bytes, state->limits.downloadBytes);
  stream->endsAtMs =
      h2o_now(state->loop) + static_cast<std::uint64_t>(state->limits.requestSeconds * 1000);
  stream->sized = sized;
  ++state->counts.downloads;
  h2o_start_response(req, &stream->generator);
  SendNext(stream);
}

}  // namespace telvario::serve
