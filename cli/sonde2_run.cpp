#include "sonde2_run.h"

#include <chrono>

#include "automation_text.h"

namespace telvario::cli {
namespace {

IConnectionPoint* ProgressPoint(ISonde2& sonde) {
  IConnectionPointContainer* container = nullptr;
  if (sonde.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)) !=
      S_OK) {
    return nullptr;
  }
  IConnectionPoint* point = nullptr;
  if (container->FindConnectionPoint(DIID__ISonde2Events, &point) != S_OK) point = nullptr;
  container->Release();
  return point;
}

}  // namespace

Sonde2Run::Sonde2Run(ISonde2& sonde, const std::string& label, LiveTable table)
    : sonde_(sonde),
      startedUnix_(
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count()) {
  point_ = ProgressPoint(sonde);
  if (point_ != nullptr) {
    sink_ = new ProgressSink(sonde, std::move(table));
    if (point_->Advise(sink_, &cookie_) != S_OK) {
      sink_->Release();
      sink_ = nullptr;
      point_->Release();
      point_ = nullptr;
    }
  }
  if (sink_ == nullptr) seconds_ = std::make_unique<Progress>(label);
  interrupt_ = std::make_unique<InterruptScope>([&sonde] { sonde.Cancel(); });
}

Sonde2Run::~Sonde2Run() {
  Stop();
}

void Sonde2Run::Stop() {
  interrupt_.reset();
  if (point_ != nullptr) {
    point_->Unadvise(cookie_);
    point_->Release();
    point_ = nullptr;
  }
  if (sink_ != nullptr) {
    sink_->Clear();
    sink_->Release();
    sink_ = nullptr;
  }
  seconds_.reset();
}

std::optional<RunResults> Sonde2Run::Finish(const std::string& measurement) {
  Stop();
  BSTR text = nullptr;
  sonde_.get_Results(&text);
  const std::string results = Narrow(text);
  SysFreeString(text);
  if (results.empty()) return std::nullopt;
  RunResults run = ReadRunResults(results, startedUnix_);
  if (run.Readable() && run.measurement != measurement) return std::nullopt;
  return run;
}

void AddRunFailure(Report& report, Measured measured, double result,
                   const std::optional<RunResults>& run) {
  if (run && !run->Readable()) {
    report.AddFailure("Failure", run->problem);
  } else if (result < 0) {
    const char* known = ResultCodeText(measured, result);
    const RunOutcome* outcome = run ? run->Outcome() : nullptr;
    report.AddFailure("Failure", known != nullptr     ? std::string(known)
                                 : outcome != nullptr ? outcome->failure
                                                      : "the run failed");
  }
}

}  // namespace telvario::cli
