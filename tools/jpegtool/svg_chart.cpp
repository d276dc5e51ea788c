// svg_chart.cpp - renders the demo chart: axes with round tick values, a
// grid, a line through the points of each series with a label at each point,
// a legend, and dashed vertical markers.
#include "svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace jpegtool {
namespace {

constexpr double kWidth = 640, kHeight = 420;
constexpr double kLeft = 70, kRight = 30, kTop = 50, kBottom = 60;  // plot margins
constexpr int kTicks = 5;

struct Axis {
  double low, high, step;
  double Fraction(double v) const { return (v - low) / (high - low); }
};

// Round tick steps (1, 2 or 5 times a power of ten) covering [low, high].
Axis NiceAxis(double low, double high) {
  if (high <= low) high = low + 1;
  const double rough = (high - low) / kTicks;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  return Axis{std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

std::string TextAt(double x, double y, const std::string& text, const char* extra = "") {
  char head[160];
  std::snprintf(head, sizeof head, "<text x=\"%.1f\" y=\"%.1f\" %s>", x, y, extra);
  return head + Escape(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const char* style) {
  char text[200];
  std::snprintf(text, sizeof text, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" %s/>\n", x1, y1, x2,
                y2, style);
  return text;
}

struct Plot {
  Axis x, y;
  double PixelX(double v) const { return kLeft + x.Fraction(v) * (kWidth - kLeft - kRight); }
  double PixelY(double v) const { return kHeight - kBottom - y.Fraction(v) * (kHeight - kTop - kBottom); }
};

std::string GridAndTicks(const Plot& plot) {
  std::string svg;
  const char* grid = "stroke=\"#ddd\"";
  for (double v = plot.x.low; v <= plot.x.high + plot.x.step / 2; v += plot.x.step) {
    svg += Line(plot.PixelX(v), kTop, plot.PixelX(v), kHeight - kBottom, grid);
    svg += TextAt(plot.PixelX(v), kHeight - kBottom + 18, Number(v), "text-anchor=\"middle\"");
  }
  for (double v = plot.y.low; v <= plot.y.high + plot.y.step / 2; v += plot.y.step) {
    svg += Line(kLeft, plot.PixelY(v), kWidth - kRight, plot.PixelY(v), grid);
    svg += TextAt(kLeft - 8, plot.PixelY(v) + 4, Number(v), "text-anchor=\"end\"");
  }
  const char* axis = "stroke=\"#333\"";
  svg += Line(kLeft, kHeight - kBottom, kWidth - kRight, kHeight - kBottom, axis);
  svg += Line(kLeft, kTop, kLeft, kHeight - kBottom, axis);
  return svg;
}

std::string Series(const Plot& plot, const ChartSeries& series) {
  const char* color = series.color.c_str();
  std::string path = "<polyline fill=\"none\" stroke=\"" + series.color + "\" stroke-width=\"2\" points=\"";
  std::string marks;
  char text[160];
  for (const ChartPoint& p : series.points) {
    std::snprintf(text, sizeof text, "%.1f,%.1f ", plot.PixelX(p.x), plot.PixelY(p.y));
    path += text;
    std::snprintf(text, sizeof text, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>\n",
                  plot.PixelX(p.x), plot.PixelY(p.y), color);
    marks += text;
    if (!p.label.empty()) marks += TextAt(plot.PixelX(p.x) + 7, plot.PixelY(p.y) - 7, p.label);
  }
  return path + "\"/>\n" + marks;
}

std::string Marker(const Plot& plot, const ChartMarker& marker) {
  const double x = plot.PixelX(marker.x);
  return Line(x, kTop, x, kHeight - kBottom, "stroke=\"#888\" stroke-dasharray=\"5,4\"") +
         TextAt(x + 4, kTop + 12, marker.label, "fill=\"#555\" font-size=\"11\"");
}

// One line per series at the bottom right of the plot.
std::string Legend(const std::vector<ChartSeries>& series) {
  std::string svg;
  double y = kHeight - kBottom - 12.0 * series.size();
  for (const ChartSeries& s : series) {
    const double x = kWidth - kRight - 190;
    svg += Line(x, y - 4, x + 20, y - 4, ("stroke=\"" + s.color + "\" stroke-width=\"2\"").c_str());
    svg += TextAt(x + 26, y, s.name);
    y += 12;
  }
  return svg;
}

}  // namespace

std::string RenderLineChartSvg(const std::vector<ChartSeries>& series, const std::vector<ChartMarker>& markers,
                               const ChartText& text) {
  double xMax = 0, yMin = 1e9, yMax = -1e9;
  for (const ChartSeries& s : series) {
    for (const ChartPoint& p : s.points) {
      xMax = std::max(xMax, p.x);
      yMin = std::min(yMin, p.y);
      yMax = std::max(yMax, p.y);
    }
  }
  if (yMin > yMax) yMin = 0, yMax = 1;
  const Plot plot{NiceAxis(0, xMax), NiceAxis(yMin - 1, yMax + 1)};
  char head[256];
  std::snprintf(head, sizeof head,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                kWidth, kHeight, kWidth, kHeight);
  std::string svg = head;
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += TextAt(kWidth / 2, 28, text.title, "text-anchor=\"middle\" font-size=\"15\"");
  svg += GridAndTicks(plot);
  svg += TextAt((kLeft + kWidth - kRight) / 2, kHeight - 18, text.xLabel, "text-anchor=\"middle\"");
  char rotate[96];
  std::snprintf(rotate, sizeof rotate, "text-anchor=\"middle\" transform=\"rotate(-90 18 %.1f)\"",
                (kTop + kHeight - kBottom) / 2);
  svg += TextAt(18, (kTop + kHeight - kBottom) / 2, text.yLabel, rotate);
  for (const ChartMarker& marker : markers) svg += Marker(plot, marker);
  for (const ChartSeries& s : series) svg += Series(plot, s);
  svg += Legend(series);
  return svg + "</svg>\n";
}

}  // namespace jpegtool
