#pragma once
// What a chart shows, written to a file: the picture as PNG or SVG, the numbers of the lines shown
// as CSV. Shared by the live plots and the history's trends.

#include <QString>

#include <functional>
#include <optional>

class QChart;
class QChartView;
class QPushButton;
class QWidget;

namespace zanst::app {

enum class ChartFormat { Png, Svg, Csv };

// By the file's suffix (any case); nothing for another one.
std::optional<ChartFormat> chartFormatOf(const QString& path);

// The lines shown (an area by its upper and lower line), one column each, named after the line
// and its axis's unit; one row per x value, empty where a line has no point there. A date-time x
// axis gives ISO 8601 local times with milliseconds; numbers have a '.' for a decimal point.
QString chartCsv(const QChart& chart);

// Writes what `view` shows through a temporary file, so that a failure never replaces an earlier
// file. Returns an empty text, or why it failed.
QString exportChart(QChartView& view, const QString& path, ChartFormat format);

// An "Export..." button with a menu for the three formats. `choosePath(format)` names the file
// (empty: cancelled); `done(message, failed)` tells what happened.
QPushButton* makeChartExportButton(QChartView* view, QWidget* parent,
                                   std::function<QString(ChartFormat)> choosePath,
                                   std::function<void(const QString&, bool)> done);

// The save dialog for a chart file of `format`, starting at `suggestedName`.
QString askChartPath(QWidget* parent, ChartFormat format, const QString& suggestedName);

} // namespace zanst::app
