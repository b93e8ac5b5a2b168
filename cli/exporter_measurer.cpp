#include "exporter_measurer.h"

#include <chrono>

#include "automation_text.h"
#include "component.h"
#include "result_codes.h"
#include "throughput_measure.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

struct Kind {
  const char* measurement;  // as the record names it
  Measured measured;        // for the words of its result codes
};

Kind KindOf(const std::string& measurement) {
  if (measurement == "route") return {"route", Measured::Route};
  if (measurement == "responsiveness") return {"responsiveness", Measured::Responsiveness};
  return {measurement == "upload" ? "upload" : "download", Measured::Throughput};
}

// Why a run gave no figures, or "" where it gave them: its record's reading, its result's
// words, or a direction of its load that failed.
std::string Failure(const Kind& kind, double result, const std::optional<RunResults>& run) {
  if (run && !run->Readable()) return run->problem;
  if (result < 0) return FailureText(ResultCodeText(kind.measured, result), run);
  if (!run) return "the run left no record";
  if (run->Succeeded()) return "";
  const RunOutcome* outcome = run->Outcome();
  const ResponsivenessRecord* loaded = run->Responsiveness();
  if (loaded != nullptr && !loaded->downloadFailure.empty()) return loaded->downloadFailure;
  if (outcome != nullptr && !outcome->failure.empty()) return outcome->failure;
  return "the run measured nothing";
}

// A failure's words without the URL's userinfo, wherever the component repeated the URL: they
// go to the exporter's log and pages.
std::string WithoutTargetUserinfo(std::string text, const std::string& target) {
  const std::string bare = WithoutUserinfo(target);
  if (bare == target) return text;
  for (std::size_t at = 0; (at = text.find(target, at)) != std::string::npos; at += bare.size()) {
    text.replace(at, target.size(), bare);
  }
  return text;
}

class SondeMeasurer final : public exporter::RunMeasurer {
 public:
  explicit SondeMeasurer(std::unique_ptr<Component> component)
      : component_(std::move(component)), sonde_(*component_->Sonde2()) {}

  exporter::MeasuredRun Route(const std::string& host, int family, int probes) override {
    sonde_.put_Family(family);
    sonde_.put_Probes(probes > 0 ? probes : Sonde2DefaultProbes);
    sonde_.put_ResolveHopNames(VARIANT_FALSE);
    return Measure(KindOf("route"), host, [this](BSTR text, double* result) {
      LONG hops = 0;
      const HRESULT called = sonde_.Route(text, &hops);
      *result = hops;
      return called;
    });
  }

  exporter::MeasuredRun Transfer(const std::string& measurement, const std::string& url,
                                 double durationSeconds) override {
    if (durationSeconds > 0) sonde_.put_Duration(durationSeconds);
    sonde_.put_ResponsivenessUpload(VARIANT_FALSE);
    const Kind kind = KindOf(measurement);
    return Measure(kind, url, [this, &kind](BSTR text, double* result) {
      if (kind.measured == Measured::Responsiveness) return sonde_.Responsiveness(text, result);
      return kind.measurement == std::string("upload") ? sonde_.Upload(text, result)
                                                       : sonde_.Download(text, result);
    });
  }

  void Cancel() override { sonde_.Cancel(); }

 private:
  template <typename Call>
  exporter::MeasuredRun Measure(const Kind& kind, const std::string& target, Call call) {
    exporter::MeasuredRun measured;
    const double startedUnix =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    BSTR text = ToBstr(target);
    call(text, &measured.result);
    SysFreeString(text);
    BSTR record = nullptr;
    sonde_.get_Results(&record);
    const std::string results = Narrow(record);
    SysFreeString(record);
    if (!results.empty()) {
      RunResults run = ReadRunResults(results, startedUnix);
      // A record of another kind is an earlier run's: this call left none.
      if (!run.Readable() || run.measurement == kind.measurement) measured.run = std::move(run);
    }
    measured.failure = WithoutTargetUserinfo(Failure(kind, measured.result, measured.run), target);
    return measured;
  }

  std::unique_ptr<Component> component_;
  ISonde2& sonde_;
};

}  // namespace

exporter::MeasurerMaker SondeMeasurers() {
  return [](std::string* failure) -> std::unique_ptr<exporter::RunMeasurer> {
    auto component = std::make_unique<Component>();
    if (component->Sonde2() == nullptr) {
      *failure = component->Error().empty() ? "the component made no Sonde2" : component->Error();
      return nullptr;
    }
    return std::make_unique<SondeMeasurer>(std::move(component));
  };
}

}  // namespace telvario::cli
