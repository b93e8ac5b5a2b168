#include "svg_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "utf8_text.h"

namespace telvario::cli {

std::string XmlText(const std::string& text, std::size_t limit) {
  std::string out;
  std::size_t kept = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (kept == limit) {
      out += "\xE2\x80\xA6";  // …
      break;
    }
    ++kept;
    const std::size_t length = Utf8SequenceLength(text, at);
    const char c = text[at];
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++at;
      continue;
    }
    if (length == 1) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        default:
          out += static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' ? ' ' : c;
      }
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

std::string Coordinate(double value) {
  if (!std::isfinite(value)) value = 0;
  value = std::clamp(value, -1e6, 1e6);
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

void SvgCanvas::Text(double x, double y, const std::string& text, const std::string& attributes,
                     std::size_t limit) {
  svg_ += "<text x=\"" + Coordinate(x) + "\" y=\"" + Coordinate(y) + "\" " + attributes + ">" +
          XmlText(text, limit) + "</text>\n";
}

void SvgCanvas::Line(double x1, double y1, double x2, double y2, const std::string& attributes) {
  svg_ += "<line x1=\"" + Coordinate(x1) + "\" y1=\"" + Coordinate(y1) + "\" x2=\"" +
          Coordinate(x2) + "\" y2=\"" + Coordinate(y2) + "\" " + attributes + "/>\n";
}

void SvgCanvas::Rect(double x, double y, double width, double height,
                     const std::string& attributes) {
  svg_ += "<rect x=\"" + Coordinate(x) + "\" y=\"" + Coordinate(y) + "\" width=\"" +
          Coordinate(width) + "\" height=\"" + Coordinate(height) + "\" " + attributes + "/>\n";
}

void SvgCanvas::Circle(double x, double y, double radius, const std::string& attributes) {
  svg_ += "<circle cx=\"" + Coordinate(x) + "\" cy=\"" + Coordinate(y) + "\" r=\"" +
          Coordinate(radius) + "\" " + attributes + "/>\n";
}

void SvgCanvas::Polyline(const std::vector<std::pair<double, double>>& points,
                         const std::string& attributes) {
  if (points.empty()) return;
  svg_ += "<polyline points=\"";
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i > 0) svg_ += ' ';
    svg_ += Coordinate(points[i].first) + "," + Coordinate(points[i].second);
  }
  svg_ += "\" fill=\"none\" stroke-linejoin=\"round\" " + attributes + "/>\n";
}

void SvgCanvas::Open(const std::string& element) {
  svg_ += element + "\n";
}

void SvgCanvas::Close(const std::string& name) {
  svg_ += "</" + name + ">\n";
}

double PlotArea::X(double value) const {
  return left + (value - x.min) / (x.max - x.min) * width;
}

double PlotArea::Y(double value) const {
  return Bottom() - (value - y.min) / (y.max - y.min) * height;
}

void PlotArea::DrawAxes(SvgCanvas& canvas, const std::string& xTitle,
                        const std::string& yTitle) const {
  for (const double tick : x.ticks) {
    const double at = X(tick);
    canvas.Line(at, top, at, Bottom(),
                "stroke=\"#e2e2e2\" stroke-width=\"1\" shape-rendering=\"crispEdges\"");
    canvas.Line(at, Bottom(), at, Bottom() + 5,
                "stroke=\"#444\" stroke-width=\"1\" shape-rendering=\"crispEdges\"");
    canvas.Text(at, Bottom() + 19, TickText(tick, x.step),
                "class=\"tick-x\" text-anchor=\"middle\" font-size=\"12\"");
  }
  for (const double tick : y.ticks) {
    const double at = Y(tick);
    canvas.Line(left, at, Right(), at,
                "stroke=\"#e2e2e2\" stroke-width=\"1\" shape-rendering=\"crispEdges\"");
    canvas.Line(left - 5, at, left, at,
                "stroke=\"#444\" stroke-width=\"1\" shape-rendering=\"crispEdges\"");
    canvas.Text(left - 8, at + 4, TickText(tick, y.step),
                "class=\"tick-y\" text-anchor=\"end\" font-size=\"12\"");
  }
  canvas.Rect(left, top, width, height,
              "class=\"plot\" fill=\"none\" stroke=\"#444\" stroke-width=\"1\" "
              "shape-rendering=\"crispEdges\"");
  canvas.Text(left + width / 2, Bottom() + 40, xTitle, "text-anchor=\"middle\" font-size=\"13\"");
  const std::string middle = Coordinate(top + height / 2);
  canvas.Raw("<text x=\"0\" y=\"0\" transform=\"translate(" + Coordinate(left - 52) + "," + middle +
             ") rotate(-90)\" text-anchor=\"middle\" font-size=\"13\">" + XmlText(yTitle) +
             "</text>\n");
}

double Legend::Next() {
  return top_ + 20.0 * entries_++;
}

void Legend::Line(const std::string& colour, double width, const std::string& label) {
  const double y = Next();
  canvas_.Line(
      left_, y, left_ + 24, y,
      "class=\"key\" stroke=\"" + colour + "\" stroke-width=\"" + Coordinate(width) + "\"");
  canvas_.Text(left_ + 32, y + 4, label, "font-size=\"12\"");
}

void Legend::Dot(const std::string& colour, const std::string& label) {
  const double y = Next();
  canvas_.Circle(left_ + 12, y, 5,
                 "class=\"key\" fill=\"" + colour + "\" stroke=\"#fff\" stroke-width=\"1.5\"");
  canvas_.Text(left_ + 32, y + 4, label, "font-size=\"12\"");
}

void Legend::Note(const std::string& text) {
  canvas_.Text(left_, Next() + 4, text, "font-size=\"12\" fill=\"#555\"");
}

}  // namespace telvario::cli
