// The client's sink for Sonde2's Progress events (_ISonde2Events, raised on the measuring
// thread). On a terminal, once the run has taken a second, each event redraws one line on
// standard error: the phase, the percentage done and the latest figure with its unit; the line
// is cleared when the sink is done. After Ctrl-C each event asks the object to cancel again, in
// case the watcher's request came before the run had begun (a run clears it when it starts).
// A run that has a table to show (a route's hops) has it redrawn in place under the line, where
// the terminal takes the cursor's moves.
#ifndef TELVARIO_CLI_PROGRESS_SINK_H
#define TELVARIO_CLI_PROGRESS_SINK_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "telvario2_idl.h"

namespace telvario::cli {

// The lines of a table as they stand, each at most `columns` characters.
using LiveTable = std::function<std::vector<std::string>(std::size_t columns)>;

class ProgressSink final : public IDispatch {
 public:
  explicit ProgressSink(ISonde2& sonde, LiveTable table = {});

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

  // Clears the line (and the table), if one was drawn.
  void Clear();

 private:
  ~ProgressSink() = default;  // through Release only
  void Draw(const std::string& line);
  void DrawTable(const std::string& line);

  ISonde2& sonde_;
  ULONG references_ = 1;
  bool terminal_;
  std::chrono::steady_clock::time_point started_;
  std::size_t drawn_ = 0;  // the length of the line on the terminal
  LiveTable table_;
  std::size_t columns_ = 0, rows_ = 0;  // the terminal's, where it takes moves and a table shows
  std::size_t drawnLines_ = 0;          // the line and the table's, on the terminal
};

}  // namespace telvario::cli

#endif
