// A route hop by hop, in two panels: each hop's round trips (best to worst, median to p90, the
// median) with the latency that carries on to the hops after it drawn apart; and each hop's loss,
// its own beside what carries on. A hop whose own figures are well above what carries on (its
// reading) has its median marked in another colour.
#include <algorithm>
#include <cmath>

#include "svg_panels.h"

namespace telvario::cli {
namespace {

constexpr char kSpreadColour[] = "#9db0dd";
constexpr char kMedianColour[] = "#1f3f99";
constexpr char kOwnColour[] = "#e8a202";  // a router's own figures, not the path's
constexpr char kCarriedColour[] = "#2a9d3f";
constexpr char kOwnLossColour[] = "#f3c26b";
constexpr char kForwardLossColour[] = "#d1495b";

// The hops along x, one tick a hop where they are few; the last hop short of the frame's end.
Axis HopAxis(const RouteRecord& route) {
  const double last = route.hops.empty() ? 1 : route.hops.back().hop;
  return NiceAxis(0, last + 1, static_cast<int>(std::min(last + 1, 10.0)));
}

std::string HopAttribute(const HopRecord& hop) {
  return "data-hop=\"" + TickText(hop.hop, 1) + "\"";
}

// The latency that carries on up to each hop that answered: the sum of what each such hop adds.
std::vector<std::pair<double, double>> CarriedLatency(const PlotArea& plot,
                                                      const RouteRecord& route) {
  std::vector<std::pair<double, double>> points;
  double carried = 0;
  for (const HopRecord& hop : route.hops) {
    if (!hop.addedLatency) continue;
    carried += *hop.addedLatency;
    points.emplace_back(plot.X(hop.hop), plot.Y(std::clamp(carried, plot.y.min, plot.y.max)));
  }
  return points;
}

void DrawHopRoundTrips(SvgCanvas& canvas, const PlotArea& plot, const HopRecord& hop) {
  if (!hop.min || !hop.max || !hop.median) return;
  const double x = plot.X(hop.hop);
  const auto y = [&plot](double ms) { return plot.Y(std::clamp(ms, plot.y.min, plot.y.max)); };
  canvas.Line(x, y(*hop.min), x, y(*hop.max),
              std::string("class=\"spread\" ") + HopAttribute(hop) + " stroke=\"" + kSpreadColour +
                  "\" stroke-width=\"2\"");
  const double p90 = hop.p90.value_or(*hop.median);
  canvas.Rect(
      x - 6, y(p90), 12, std::max(y(*hop.median) - y(p90), 1.0),
      std::string("class=\"box\" ") + HopAttribute(hop) + " fill=\"" + kSpreadColour + "\"");
  const char* colour = hop.reading.empty() ? kMedianColour : kOwnColour;
  canvas.Circle(x, y(*hop.median), 5,
                std::string("class=\"hop-median\" ") + HopAttribute(hop) + " fill=\"" + colour +
                    "\" stroke=\"#fff\" stroke-width=\"1.5\"");
}

void DrawHopLoss(SvgCanvas& canvas, const PlotArea& plot, const HopRecord& hop) {
  const double x = plot.X(hop.hop);
  const auto bar = [&](double ratio, double width, const char* kind, const char* colour) {
    // Up to the frame, not over it.
    const double top = std::min(plot.Y(std::clamp(ratio * 100, 0.0, 100.0)), plot.Bottom() - 1);
    canvas.Rect(
        x - width / 2, top, width, plot.Bottom() - 1 - top,
        std::string("class=\"") + kind + "\" " + HopAttribute(hop) + " fill=\"" + colour + "\"");
  };
  if (hop.loss) bar(*hop.loss, 22, "own-loss", kOwnLossColour);
  if (hop.forwardLoss) bar(*hop.forwardLoss, 10, "forward-loss", kForwardLossColour);
}

}  // namespace

void DrawRouteLatencyPanel(SvgCanvas& canvas, const RunResults& run, const RouteRecord& route,
                           double top, const PanelHeading& heading) {
  PlotArea plot = PanelPlot(top);
  double longest = 0;
  for (const HopRecord& hop : route.hops) longest = std::max(longest, hop.max.value_or(0));
  plot.x = HopAxis(route);
  plot.y = NiceAxis(0, longest > 0 ? longest : 1);

  DrawPanelStart(canvas, run, top, heading);
  plot.DrawAxes(canvas, "hop (time to live)", "round-trip time (ms)");
  if (longest <= 0) {
    canvas.Text(plot.left + plot.width / 2, plot.top + plot.height / 2, "no hop answered",
                "text-anchor=\"middle\" font-size=\"14\" fill=\"#777\"");
  }
  canvas.Polyline(CarriedLatency(plot, route),
                  std::string("class=\"series\" data-series=\"carried\" stroke=\"") +
                      kCarriedColour + "\" stroke-width=\"2\" stroke-dasharray=\"6 3\"");
  for (const HopRecord& hop : route.hops) DrawHopRoundTrips(canvas, plot, hop);

  Legend legend(canvas, plot.Right() + 24, plot.top + 8);
  legend.Line(kSpreadColour, 2, "best to worst");
  legend.Line(kSpreadColour, 10, "median to p90");
  legend.Dot(kMedianColour, "median");
  legend.Dot(kOwnColour, "median of the router's own");
  legend.Line(kCarriedColour, 2, "latency that carries on");
  canvas.Close("g");
}

void DrawRouteLossPanel(SvgCanvas& canvas, const RunResults& run, const RouteRecord& route,
                        double top, const PanelHeading& heading) {
  PlotArea plot = PanelPlot(top);
  plot.x = HopAxis(route);
  plot.y = NiceAxis(0, 100);

  DrawPanelStart(canvas, run, top, heading);
  plot.DrawAxes(canvas, "hop (time to live)", "requests lost (%)");
  for (const HopRecord& hop : route.hops) DrawHopLoss(canvas, plot, hop);

  Legend legend(canvas, plot.Right() + 24, plot.top + 8);
  legend.Line(kOwnLossColour, 10, "lost at the hop");
  legend.Line(kForwardLossColour, 10, "loss that carries on");
  legend.Note("lost at a hop alone: the router");
  legend.Note("limits its own answers");
  canvas.Close("g");
}

}  // namespace telvario::cli
