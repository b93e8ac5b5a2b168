#include "throughput_streams.h"

#include <algorithm>

#include "echo_sessions.h"
#include "web_address.h"

namespace telvario {
namespace {

constexpr DWORD kReadSize = 64 * 1024;
constexpr DWORD kWriteSize = 64 * 1024;
constexpr std::size_t kUploadDataSize = 1024 * 1024;
// Upload bodies: the first small, so that a slow link finishes it; each next one sized to take
// about a quarter of a second at the rate the last one went, growing at most fourfold.
constexpr DWORD kFirstBody = 64 * 1024;
constexpr DWORD kLargestBody = 32 * 1024 * 1024;
constexpr double kBodySeconds = 0.25;
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

bool ThroughputStream::Succeeded(DWORD status, StreamState failed) {
  if (status >= 200 && status < 300) return true;
  if (status == 0) {  // no status could be read: no success, and no refusal either
    Fail(failed, "the server's answer could not be read");
  } else {
    Fail(StreamState::Refused, "the server answered with status " + std::to_string(status));
  }
  return false;
}

void DownloadStream::Run() {
  std::vector<char> buffer(kReadSize);
  bool opened = false;
  while (!Stopping()) {
    std::string finalUrl;
    HINTERNET body = OpenFollowingRedirects(session_, url_, &finalUrl);
    if (body == nullptr) {
      if (!Stopping()) {
        Fail(opened ? StreamState::Broke : StreamState::NotOpened,
             "the URL could not be opened (or it redirected nowhere a download may go)");
      }
      return;
    }
    if (!Succeeded(StatusOf(body), opened ? StreamState::Broke : StreamState::NotOpened)) return;
    if (!opened) SetState(StreamState::Flowing);
    opened = true;
    ULONGLONG declared = 0;
    const bool lengthDeclared = DeclaredLength(body, &declared);
    ULONGLONG read = 0;
    BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
    for (;;) {
      DWORD count = 0;
      if (!InternetReadFile(body, buffer.data(), kReadSize, &count)) {
        if (!Stopping()) Fail(StreamState::Broke, "the connection broke");
        return;
      }
      if (count == 0) break;  // the end of the body: fetched again while time remains
      Count(count);
      read += count;
      Progressed();
      if (Stopping()) break;
    }
    // A body shorter than its response declared broke off, whatever the platform said.
    if (!Stopping() && lengthDeclared && read < declared) {
      Fail(StreamState::Broke, "the connection broke");
      return;
    }
    Close(body);
  }
  SetState(StreamState::Stopped);
}

std::vector<CompletedBody> UploadStream::Bodies() const {
  const std::lock_guard<std::mutex> lock(bodiesMutex_);
  return bodies_;
}

DWORD UploadStream::NextSize(DWORD lastSize, LONGLONG lastTicks) const {
  const double left = Seconds(endsAt_ - PerformanceTicks(), frequency_);
  if (left < kLastBodySeconds) return 0;
  const double seconds = std::max(Seconds(lastTicks, frequency_), 0.001);
  const double rate = static_cast<double>(lastSize) / seconds;  // bytes a second
  double next = std::min(rate * kBodySeconds, 4.0 * lastSize);
  next = std::min(next, rate * left * 0.8);  // done before the run ends
  next = std::clamp(next, static_cast<double>(kFirstBody), static_cast<double>(kLargestBody));
  return static_cast<DWORD>(next);
}

bool UploadStream::SendBody(HINTERNET connection, const std::string& path, DWORD flags,
                            DWORD size) {
  BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
  const bool opened = State() != StreamState::Connecting;
  const StreamState failed = opened ? StreamState::Broke : StreamState::NotOpened;
  HINTERNET request =
      Own(HttpOpenRequestA(connection, "POST", path.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (request == nullptr) {
    Fail(failed, "the request could not be made");
    return false;
  }
  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpcszHeader = kBodyHeaders;
  buffers.dwHeadersLength = sizeof kBodyHeaders - 1;
  buffers.dwBufferTotal = size;
  const LONGLONG start = PerformanceTicks();
  if (!HttpSendRequestExA(request, &buffers, nullptr, 0, 0)) {
    if (!Stopping()) Fail(failed, opened ? "the connection broke" : "no connection could be made");
    return false;
  }
  const std::vector<BYTE>& data = UploadData();
  for (DWORD sent = 0; sent < size;) {
    const std::size_t at = sent % data.size();
    const auto chunk =
        static_cast<DWORD>(std::min<std::size_t>({kWriteSize, size - sent, data.size() - at}));
    DWORD written = 0;
    if (!InternetWriteFile(request, data.data() + at, chunk, &written) || written == 0) {
      if (!Stopping()) Fail(failed, "the connection broke");
      return false;
    }
    sent += written;
    Progressed();
    if (Stopping()) return false;  // a body cut short is not counted
  }
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
  Close(request);
  return true;
}

void UploadStream::Run() {
  WebAddress address;
  if (!ParseWebAddress(url_, &address)) {
    Fail(StreamState::NotOpened, "the URL cannot be read");
    return;
  }
  const bool secure = address.scheme == "https";
  std::string host = address.host;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  const auto port = static_cast<INTERNET_PORT>(address.port != 0 ? address.port
                                               : secure          ? INTERNET_DEFAULT_HTTPS_PORT
                                                                 : INTERNET_DEFAULT_HTTP_PORT);
  const std::string path = address.pathAndQuery.empty() ? "/" : address.pathAndQuery;
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
  if (secure) flags |= INTERNET_FLAG_SECURE;
  BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
  HINTERNET connection = Own(InternetConnectA(session_, host.c_str(), port, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0));
  if (connection == nullptr) {
    Fail(StreamState::NotOpened, "no connection could be made");
    return;
  }
  DWORD size = kFirstBody;
  while (!Stopping() && size > 0) {
    const LONGLONG start = PerformanceTicks();
    if (!SendBody(connection, path, flags, size)) return;
    size = NextSize(size, PerformanceTicks() - start);
  }
  SetState(StreamState::Stopped);
}

}  // namespace telvario
