#include "progress_sink.h"

#include <cstdio>

#include <unistd.h>

#include "automation_text.h"
#include "progress_line.h"
#include "interrupt.h"

namespace telvario::cli {
namespace {

constexpr DISPID kProgress = 1;
constexpr auto kQuietStart = std::chrono::seconds(1);  // a short run shows no line

}  // namespace

ProgressSink::ProgressSink(ISonde2& sonde)
    : sonde_(sonde),
      terminal_(isatty(fileno(stderr)) != 0),
      started_(std::chrono::steady_clock::now()) {}

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
  // Spaces over what a longer line left, rather than an escape a console may not know.
  const std::string padding(drawn_ > line.size() ? drawn_ - line.size() : 0, ' ');
  std::fprintf(stderr, "\r%s%s", line.c_str(), padding.c_str());
  std::fflush(stderr);
  drawn_ = line.size();
  return S_OK;
}

void ProgressSink::Clear() {
  if (drawn_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
  std::fflush(stderr);
  drawn_ = 0;
}

}  // namespace telvario::cli
