// svg_chart.h - a small self-contained SVG line chart (the demo's PSNR
// against bits per pixel): one or more series with a legend, and dashed
// vertical markers with a label.
#ifndef JPEGTOOL_SVG_CHART_H
#define JPEGTOOL_SVG_CHART_H

#include <string>
#include <vector>

namespace jpegtool {

struct ChartPoint {
  double x = 0, y = 0;
  std::string label;  // drawn beside the point
};

struct ChartSeries {
  std::string name;   // in the legend
  std::string color;  // an SVG colour
  std::vector<ChartPoint> points;  // joined in the order given
};

struct ChartMarker {
  double x = 0;
  std::string label;  // drawn at the top of the line
};

struct ChartText {
  std::string title, xLabel, yLabel;
};

std::string RenderLineChartSvg(const std::vector<ChartSeries>& series, const std::vector<ChartMarker>& markers,
                               const ChartText& text);

}  // namespace jpegtool

#endif
