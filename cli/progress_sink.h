// The client's sink for Sonde2's Progress events (_ISonde2Events, raised on the measuring
// thread). On a terminal, once the run has taken a second, each event redraws one line on
// standard error: the phase, the percentage done and the latest figure with its unit; the line
// is cleared when the sink is done. After Ctrl-C each event asks the object to cancel again, in
// case the watcher's request came before the run had begun (a run clears it when it starts).
#ifndef TELVARIO_CLI_PROGRESS_SINK_H
#define TELVARIO_CLI_PROGRESS_SINK_H

#include <chrono>
#include <cstddef>
#include <string>

#include "telvario2_idl.h"

namespace telvario::cli {

class ProgressSink final : public IDispatch {
 public:
  explicit ProgressSink(ISonde2& sonde);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // Clears the line, if one was drawn.
  void Clear();

 private:
  ~ProgressSink() = default;  // through Release only

  ISonde2& sonde_;
  ULONG references_ = 1;
  bool terminal_;
  std::chrono::steady_clock::time_point started_;
  std::size_t drawn_ = 0;  // the length of the line on the terminal
};

}  // namespace telvario::cli

#endif
