#include "throughput_streams.h"

#include <algorithm>

#include "run_timing.h"
#include "web_address.h"

namespace telvario {
namespace {

// As much as a read may give: the platform gives what it has, up to this. Large, since what a
// platform has read past a read's size it must keep for the next (posix: a copy of each byte).
constexpr DWORD kReadSize = 16 * 1024 * 1024;
constexpr DWORD kWriteSize = 64 * 1024;
constexpr std::size_t kUploadDataSize = 1024 * 1024;
// Upload bodies: the first small, so that a slow link finishes it; each next one sized to take
// about two seconds at the rate the last one went, growing at most fourfold. The link idles for
// a round trip between one body and the next (the answer's way back): bodies that long keep
// that to a few hundredths of one connection's time on a long path.
constexpr DWORD kLargestBody = 32 * 1024 * 1024;
constexpr double kBodySeconds = 2.0;
// Within this of the run's end no new body starts: it could not finish.
constexpr double kLastBodySeconds = 0.1;

constexpr char kBodyHeaders[] = "Content-Type: application/octet-stream\r\n";

double Seconds(LONGLONG ticks, LONGLONG frequency) {
  return static_cast<double>(ticks) / static_cast<double>(frequency);
}

}  // namespace

const std::vector<BYTE>& UploadData() {
  static const std::vector<BYTE> data = [] {
    std::vector<BYTE> bytes(kUploadDataSize);
    ULONGLONG state = 0x9E3779B97F4A7C15ULL;  // xorshift64: no pattern a compressor finds
    for (BYTE& byte : bytes) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      byte = static_cast<BYTE>(state >> 24);
    }
    return bytes;
  }();
  return data;
}

std::string ThroughputStream::Failure() const {
  const std::lock_guard<std::mutex> lock(failureMutex_);
  return failure_;
}

void ThroughputStream::Fail(StreamState state, const std::string& failure) {
  {
    const std::lock_guard<std::mutex> lock(failureMutex_);
    failure_ = failure;
  }
  SetState(state);
}

void ThroughputStream::FailTransfer(StreamState broke, const char* failure) {
  if (GetTickCount() - lastMoved_.load() >= kThroughputStallMs) {
    Fail(StreamState::Stalled, "the connection stalled");
  } else {
    Fail(broke, failure);
  }
}

bool ThroughputStream::Succeeded(DWORD status, StreamState failed) {
  if (status >= 200 && status < 300) return true;
  if (status == 0) {  // no status could be read: no success, and no refusal either
    Fail(failed, "the server's answer could not be read");
  } else {
    Fail(StreamState::Refused, "the server answered with status " + std::to_string(status));
  }
  return false;
}

void DownloadStream::Transfer() {
  while (!Stopping()) {
    WebAddress final;
    HINTERNET body = GetFollowingRedirects(session_, address_, kStreamLimits, &final);
    const StreamState failed = Opened() ? StreamState::Broke : StreamState::NotOpened;
    if (body == nullptr) {
      if (!Stopping()) {
        Fail(failed, "the URL could not be opened (or it redirected nowhere a download may go)");
      }
      return;
    }
    const DWORD status = StatusOf(body);
    if (status == 304) {  // nothing to read: as small as a body gets
      if (!TakeSmallBody(0)) return;
      CloseRequest(body);
      continue;
    }
    if (!Succeeded(status, failed)) return;
    SetState(StreamState::Flowing);
    if (!ReadBody(body)) return;
    CloseRequest(body);
  }
  SetState(StreamState::Stopped);
}

bool DownloadStream::ReadBody(HINTERNET body) {
  ULONGLONG declared = 0;
  const bool lengthDeclared = DeclaredLength(body, &declared);
  ULONGLONG read = 0;
  StallWatch watch(*this);
  for (;;) {
    DWORD count = 0;
    // Only the count is measured: the bytes are dropped as they come.
    if (!DiscardInternetData(body, kReadSize, &count)) {
      if (!Stopping()) FailTransfer(StreamState::Broke, "the connection broke");
      return false;
    }
    if (count == 0) break;  // the end of the body: fetched again while time remains
    Count(count);
    Move(count);
    read += count;
    watch.Moved(count);
    if (Stopping()) return false;
  }
  // A body shorter than its response declared broke off, whatever the platform said.
  if (lengthDeclared && read < declared) {
    if (!Stopping()) Fail(StreamState::Broke, "the connection broke");
    return false;
  }
  if (read < kLeastBodyBytes) return TakeSmallBody(read);
  smallInARow_ = 0;
  return true;
}

bool DownloadStream::TakeSmallBody(ULONGLONG bytes) {
  smallBody_.store(bytes);
  if (++smallInARow_ < kMostSmallBodies) return true;
  Fail(StreamState::TooSmall, "the server's bodies are too small to measure a rate (" +
                                  std::to_string(bytes) + " bytes; at least " +
                                  std::to_string(kLeastBodyBytes) + " are needed)");
  return false;
}

std::vector<CompletedBody> UploadStream::Bodies() const {
  const std::lock_guard<std::mutex> lock(bodiesMutex_);
  return bodies_;
}

DWORD NextBodySize(DWORD lastSize, double lastSeconds, double secondsLeft) {
  if (secondsLeft < kLastBodySeconds) return 0;
  const double rate = static_cast<double>(lastSize) / std::max(lastSeconds, 0.001);
  double next = std::min(rate * kBodySeconds, 4.0 * lastSize);
  next = std::min(next, rate * secondsLeft * 0.8);  // done before the run ends
  next = std::clamp(next, static_cast<double>(kFirstBodyBytes), static_cast<double>(kLargestBody));
  return static_cast<DWORD>(next);
}

bool UploadStream::WriteBody(HINTERNET request, DWORD size, StreamState failed) {
  const std::vector<BYTE>& data = UploadData();
  StallWatch watch(*this);
  for (DWORD sent = 0; sent < size;) {
    const std::size_t at = sent % data.size();
    const auto chunk =
        static_cast<DWORD>(std::min<std::size_t>({kWriteSize, size - sent, data.size() - at}));
    DWORD written = 0;
    if (!InternetWriteFile(request, data.data() + at, chunk, &written) || written == 0) {
      if (!Stopping()) FailWrite(request, failed);
      return false;
    }
    sent += written;
    if (!Opened()) firstBodySent_.store(sent);
    Move(written);
    watch.Moved(written);
    if (Stopping()) return false;  // a body cut short is not counted
  }
  return true;
}

void UploadStream::FailWrite(HINTERNET request, StreamState failed) {
  // A server that will not take the body may have said so before it stopped reading.
  if (HttpEndRequestA(request, nullptr, 0, 0)) {
    const DWORD status = StatusOf(request);
    if (status >= 300) {
      Fail(StreamState::Refused,
           "the server refused the upload with status " + std::to_string(status));
      return;
    }
  }
  FailTransfer(failed, failed == StreamState::Broke
                           ? "the connection broke"
                           : "the connection broke before the server took a body");
}

bool UploadStream::SendBody(DWORD size) {
  const StreamState failed = Opened() ? StreamState::Broke : StreamState::NotOpened;
  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpcszHeader = kBodyHeaders;
  buffers.dwHeadersLength = sizeof kBodyHeaders - 1;
  buffers.dwBufferTotal = size;
  const LONGLONG start = PerformanceTicks();
  HINTERNET request = SendRequest(session_, address_, "POST", kStreamLimits, &buffers);
  if (request == nullptr) {
    if (!Stopping()) {
      Fail(failed, Opened() ? "the connection broke" : "no connection could be made");
    }
    return false;
  }
  if (!WriteBody(request, size, failed)) return false;
  if (!HttpEndRequestA(request, nullptr, 0, 0)) {
    if (!Stopping()) Fail(failed, "the connection broke");
    return false;
  }
  if (!Succeeded(StatusOf(request), failed)) return false;
  char answer[4096];
  DWORD count = 0;
  while (InternetReadFile(request, answer, sizeof answer, &count) && count > 0) {
  }
  // Received by the server: its response has come.
  {
    const std::lock_guard<std::mutex> lock(bodiesMutex_);
    bodies_.push_back({start, PerformanceTicks(), size});
  }
  Count(size);
  SetState(StreamState::Flowing);
  CloseRequest(request);
  return true;
}

void UploadStream::Transfer() {
  DWORD size = kFirstBodyBytes;
  while (!Stopping() && size > 0) {
    const LONGLONG start = PerformanceTicks();
    if (!SendBody(size)) return;
    const double seconds = Seconds(PerformanceTicks() - start, frequency_);
    size = NextBodySize(size, seconds, Seconds(endsAt_ - PerformanceTicks(), frequency_));
  }
  SetState(StreamState::Stopped);
}

std::string UploadStream::FirstBodyFailure() const {
  return "the server took no whole body before the run ended (" +
         std::to_string(firstBodySent_.load()) + " of the first " +
         std::to_string(kFirstBodyBytes) + " bytes were sent)";
}

}  // namespace telvario
