// The panels of the client's SVG charts, each drawn at a height of the document.
#ifndef TELVARIO_CLI_SVG_PANELS_H
#define TELVARIO_CLI_SVG_PANELS_H

#include <string>

#include "run_results.h"
#include "svg_canvas.h"

namespace telvario::cli {

constexpr double kChartWidth = 960;
constexpr double kPanelHeight = 370;
constexpr double kNoteHeight = 70;

// What a panel says above its plot: what and how much in bold, then the details.
struct PanelHeading {
  std::string title;
  std::string detail;
};

// A panel's plot area, below its heading at `top`, with room for a legend on its right.
PlotArea PanelPlot(double top);
// Opens a panel's group with the record it draws, and writes its heading.
void DrawPanelStart(SvgCanvas& canvas, const RunResults& run, double top,
                    const PanelHeading& heading);

// Throughput over time: all connections together (thick) and each (thin), in Mbit/s.
void DrawThroughputPanel(SvgCanvas& canvas, const RunResults& run, const TransferRecord& transfer,
                         double top, const PanelHeading& heading);

// The round trips' CDF with the median, p90 and p99 marked: of every probe for latency, of the
// idle and the loaded ones side by side for responsiveness.
void DrawLatencyPanel(SvgCanvas& canvas, const RunResults& run, double top,
                      const PanelHeading& heading);

// A route hop by hop: each hop's round trips with the latency that carries on drawn apart; and
// each hop's own loss beside the loss that carries on.
void DrawRouteLatencyPanel(SvgCanvas& canvas, const RunResults& run, const RouteRecord& route,
                           double top, const PanelHeading& heading);
void DrawRouteLossPanel(SvgCanvas& canvas, const RunResults& run, const RouteRecord& route,
                        double top, const PanelHeading& heading);

// A run with nothing to plot: its heading and why.
void DrawNotePanel(SvgCanvas& canvas, double top, const std::string& heading,
                   const std::string& note);

}  // namespace telvario::cli

#endif
