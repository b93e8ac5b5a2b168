// Round trips as a cumulative distribution, with the median, p90 and p99 marked on the curve.
#include <algorithm>
#include <cmath>
#include <limits>

#include "percentile.h"
#include "svg_panels.h"

namespace telvario::cli {
namespace {

struct Mark {
  double percent;
  const char* name;
  const char* colour;
};
constexpr Mark kMarks[] = {
    {50, "median", "#e8a202"}, {90, "p90", "#8e44ad"}, {99, "p99", "#111111"}};

struct Curve {
  std::string phase;  // "" for a latency run
  std::string label;
  const char* colour;
  std::vector<double> rtts;  // sorted
  double marks[3];           // at kMarks' percentages
};

// A latency run's percentiles are the ones it states; a responsiveness run's are those of the
// probes drawn, by the same nearest rank.
std::vector<Curve> CurvesOf(const RunResults& run) {
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  std::vector<Curve> curves;
  if (const LatencyRecord* latency = run.Latency()) {
    curves.push_back({"",
                      "round trips",
                      "#1f3f99",
                      RoundTripsOf(latency->samples, ""),
                      {latency->median.value_or(kNone), latency->p90.value_or(kNone),
                       latency->p99.value_or(kNone)}});
  } else if (const ResponsivenessRecord* responsiveness = run.Responsiveness()) {
    const std::vector<RoundTrip>& probes = responsiveness->probes;
    curves.push_back({"idle", "idle", "#2a9d3f", RoundTripsOf(probes, "idle"), {}});
    curves.push_back({"loaded", "under load", "#d1495b", RoundTripsOf(probes, "loaded"), {}});
  }
  for (Curve& curve : curves) {
    for (std::size_t m = 0; m < 3; ++m) {
      if (curve.phase.empty() && std::isfinite(curve.marks[m]) && !curve.rtts.empty()) continue;
      curve.marks[m] = curve.rtts.empty() ? kNone : NearestRank(curve.rtts, kMarks[m].percent);
    }
  }
  return curves;
}

std::vector<std::pair<double, double>> Steps(const PlotArea& plot,
                                             const std::vector<double>& rtts) {
  std::vector<std::pair<double, double>> points;
  const auto count = static_cast<double>(rtts.size());
  if (rtts.empty()) return points;
  points.emplace_back(plot.X(rtts[0]), plot.Y(0));
  for (std::size_t i = 0; i < rtts.size(); ++i) {
    const double share = 100 * static_cast<double>(i + 1) / count;
    points.emplace_back(plot.X(rtts[i]), plot.Y(share));
    if (i + 1 < rtts.size()) points.emplace_back(plot.X(rtts[i + 1]), plot.Y(share));
  }
  return points;
}

// The marks over every curve, and every mark's disc over every guide line, so that none is
// hidden by another's line (close percentiles put one mark's guide through the next's disc).
void DrawMarks(SvgCanvas& canvas, const PlotArea& plot, const std::vector<Curve>& curves) {
  for (const bool discs : {false, true}) {
    for (const Curve& curve : curves) {
      for (std::size_t m = 0; m < 3; ++m) {
        const double value = curve.marks[m];
        if (!std::isfinite(value) || curve.rtts.empty()) continue;
        const double x = plot.X(std::clamp(value, plot.x.min, plot.x.max));
        const double y = plot.Y(kMarks[m].percent);
        if (!discs) {
          canvas.Line(x, plot.Bottom(), x, y,
                      std::string("stroke=\"") + kMarks[m].colour +
                          "\" stroke-width=\"1\" stroke-dasharray=\"4 3\"");
          continue;
        }
        canvas.Circle(x, y, 5,
                      std::string("class=\"marker\" data-percentile=\"") +
                          TickText(kMarks[m].percent, 1) + "\" data-phase=\"" + curve.phase +
                          "\" fill=\"" + kMarks[m].colour +
                          "\" stroke=\"#fff\" stroke-width=\"1.5\"");
      }
    }
  }
}

}  // namespace

void DrawLatencyPanel(SvgCanvas& canvas, const RunResults& run, double top,
                      const PanelHeading& heading) {
  const std::vector<Curve> curves = CurvesOf(run);
  PlotArea plot = PanelPlot(top);
  double longest = 0;
  bool any = false;
  for (const Curve& curve : curves) {
    if (!curve.rtts.empty()) longest = std::max(longest, curve.rtts.back()), any = true;
    for (const double mark : curve.marks) {
      if (std::isfinite(mark)) longest = std::max(longest, mark);
    }
  }
  plot.x = NiceAxis(0, longest > 0 ? longest : 1);
  plot.y = NiceAxis(0, 100);

  DrawPanelStart(canvas, run, top, heading);
  plot.DrawAxes(canvas, "round-trip time (ms)", "round trips at most this long (%)");
  if (!any) {
    canvas.Text(plot.left + plot.width / 2, plot.top + plot.height / 2, "no round trip answered",
                "text-anchor=\"middle\" font-size=\"14\" fill=\"#777\"");
  }
  for (const Curve& curve : curves) {
    canvas.Polyline(Steps(plot, curve.rtts), "class=\"series\" data-series=\"" +
                                                 (curve.phase.empty() ? "all" : curve.phase) +
                                                 "\" stroke=\"" + curve.colour +
                                                 "\" stroke-width=\"2\"");
  }
  DrawMarks(canvas, plot, curves);

  Legend legend(canvas, plot.Right() + 24, plot.top + 8);
  for (const Curve& curve : curves) {
    legend.Line(curve.colour, 2, curve.label + " (" + std::to_string(curve.rtts.size()) + ")");
  }
  if (curves.size() > 1) legend.Note("marks: idle / under load");
  for (std::size_t m = 0; m < 3; ++m) {
    std::string label = std::string(kMarks[m].name) + " ";
    for (const Curve& curve : curves) {
      if (&curve != &curves.front()) label += " / ";
      label += FigureText(curve.marks[m]);
    }
    legend.Dot(kMarks[m].colour, label + " ms");
  }
  canvas.Close("g");
}

}  // namespace telvario::cli
