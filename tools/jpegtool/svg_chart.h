// svg_chart.h - a small self-contained SVG line chart (the demo's PSNR
// against bits per pixel).
#ifndef JPEGTOOL_SVG_CHART_H
#define JPEGTOOL_SVG_CHART_H

#include <string>
#include <vector>

namespace jpegtool {

struct ChartPoint {
  double x = 0, y = 0;
  std::string label;  // drawn beside the point
};

struct ChartText {
  std::string title, xLabel, yLabel;
};

// The points are joined in the order given.
std::string RenderLineChartSvg(const std::vector<ChartPoint>& points, const ChartText& text);

}  // namespace jpegtool

#endif
