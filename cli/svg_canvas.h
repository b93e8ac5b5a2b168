// The pieces the client's SVG charts are written with, by hand: text escaped for XML, shapes
// with their coordinates, and a plot area that maps values onto its pixels.
#ifndef TELVARIO_CLI_SVG_CANVAS_H
#define TELVARIO_CLI_SVG_CANVAS_H

#include <string>
#include <utility>
#include <vector>

#include "chart_axes.h"

namespace telvario::cli {

// Text for XML content or an attribute: markup characters escaped, bytes that are not UTF-8 (or
// are control characters XML refuses) replaced, at most `limit` characters kept.
std::string XmlText(const std::string& text, std::size_t limit = 4096);

// A coordinate as written: two decimals.
std::string Coordinate(double value);

class SvgCanvas {
 public:
  // `attributes` are written as given: the callers' own constants and numbers. The text keeps
  // `limit` characters at most.
  void Text(double x, double y, const std::string& text, const std::string& attributes,
            std::size_t limit = 160);
  void Line(double x1, double y1, double x2, double y2, const std::string& attributes);
  void Rect(double x, double y, double width, double height, const std::string& attributes);
  void Circle(double x, double y, double radius, const std::string& attributes);
  void Polyline(const std::vector<std::pair<double, double>>& points,
                const std::string& attributes);
  void Open(const std::string& element);  // "<g ...>"
  void Close(const std::string& name);    // "</g>"
  // Text that goes in as it is (escaped already).
  void Raw(const std::string& markup) { svg_ += markup; }
  const std::string& Markup() const { return svg_; }

 private:
  std::string svg_;
};

// A plot area: its pixels, and the axes mapped onto them (y grows upwards).
struct PlotArea {
  double left = 0, top = 0, width = 0, height = 0;
  Axis x, y;

  double X(double value) const;
  double Y(double value) const;
  double Right() const { return left + width; }
  double Bottom() const { return top + height; }
  // The frame, grid and tick labels, with the axes' titles.
  void DrawAxes(SvgCanvas& canvas, const std::string& xTitle, const std::string& yTitle) const;
};

// The key beside a plot: one entry under another, each a sample of what it names.
class Legend {
 public:
  Legend(SvgCanvas& canvas, double left, double top) : canvas_(canvas), left_(left), top_(top) {}
  void Line(const std::string& colour, double width, const std::string& label);
  void Dot(const std::string& colour, const std::string& label);
  void Note(const std::string& text);

 private:
  double Next();
  SvgCanvas& canvas_;
  double left_, top_;
  int entries_ = 0;
};

}  // namespace telvario::cli

#endif
