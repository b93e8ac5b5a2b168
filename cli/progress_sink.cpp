#include "progress_sink.h"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

#include "automation_text.h"
#include "interrupt.h"
#include "progress_line.h"
#include "terminal.h"

namespace telvario::cli {
namespace {

constexpr DISPID kProgress = 1;
constexpr auto kQuietStart = std::chrono::seconds(1);  // a short run shows no line

}  // namespace

ProgressSink::ProgressSink(ISonde2& sonde, LiveTable table)
    : sonde_(sonde),
      terminal_(isatty(fileno(stderr)) != 0),
      started_(std::chrono::steady_clock::now()),
      table_(std::move(table)) {
  if (table_ && terminal_) {
    const TerminalSize size = RedrawableTerminal();
    columns_ = size.columns;
    rows_ = size.rows;
  }
}

HRESULT STDMETHODCALLTYPE ProgressSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ||
      IsEqualGUID(iid, DIID__ISonde2Events)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ProgressSink::AddRef() {
  return ++references_;
}

ULONG STDMETHODCALLTYPE ProgressSink::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE ProgressSink::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ProgressSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ProgressSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ProgressSink::Invoke(DISPID member, REFIID, LCID, WORD,
                                               DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  if (Interrupted()) sonde_.Cancel();
  if (member != kProgress) return DISP_E_MEMBERNOTFOUND;
  // Arguments come last first: value, fraction, phase.
  if (params == nullptr || params->cArgs != 3 || params->rgvarg == nullptr) {
    return DISP_E_BADPARAMCOUNT;
  }
  const VARIANT* arguments = params->rgvarg;
  if (arguments[2].vt != VT_BSTR || arguments[1].vt != VT_R8 || arguments[0].vt != VT_R8) {
    return DISP_E_TYPEMISMATCH;
  }
  if (!terminal_ || std::chrono::steady_clock::now() - started_ < kQuietStart) return S_OK;
  const std::string line =
      ProgressLine(Narrow(arguments[2].bstrVal), arguments[1].dblVal, arguments[0].dblVal);
  if (rows_ > 1) {
    DrawTable(line);
  } else {
    Draw(line);
  }
  return S_OK;
}

void ProgressSink::Draw(const std::string& line) {
  // Spaces over what a longer line left, rather than an escape a console may not know.
  const std::string padding(drawn_ > line.size() ? drawn_ - line.size() : 0, ' ');
  std::fprintf(stderr, "\r%s%s", line.c_str(), padding.c_str());
  std::fflush(stderr);
  drawn_ = line.size();
}

// Back to the first line drawn, then every line over what was there, the rest erased; no more
// lines than the terminal shows, or the cursor could not come back to the first.
void ProgressSink::DrawTable(const std::string& line) {
  std::vector<std::string> lines{line};
  for (std::string& row : table_(columns_)) lines.push_back(std::move(row));
  lines.resize(std::min(lines.size(), rows_ - 1));
  std::string text;
  if (drawnLines_ > 1) text += "\x1b[" + std::to_string(drawnLines_ - 1) + "A";
  text += "\r";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i] + "\x1b[K" + (i + 1 < lines.size() ? "\n" : "");
  }
  text += "\x1b[J";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  drawnLines_ = lines.size();
}

void ProgressSink::Clear() {
  if (drawnLines_ > 0) {
    const std::string up =
        drawnLines_ > 1 ? "\x1b[" + std::to_string(drawnLines_ - 1) + "A" : std::string();
    std::fprintf(stderr, "%s\r\x1b[J", up.c_str());
    std::fflush(stderr);
    drawnLines_ = 0;
  }
  if (drawn_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
  std::fflush(stderr);
  drawn_ = 0;
}

}  // namespace telvario::cli
