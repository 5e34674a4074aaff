#include "windows/chart_export.hpp"

#include <QAbstractAxis>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineSeries>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QXYSeries>

#include <map>
#include <optional>
#include <vector>

namespace zanst::app {

namespace {

struct Column {
    QString name;
    QList<QPointF> points;
    QCategoryAxis* names = nullptr; // values stand for the names of this axis
};

QAbstractAxis* verticalAxisOf(QAbstractSeries& series) {
    for (QAbstractAxis* axis : series.attachedAxes()) {
        if (axis->orientation() == Qt::Vertical) {
            return axis;
        }
    }
    return nullptr;
}

QString unitOf(QAbstractSeries& series) {
    const QAbstractAxis* axis = verticalAxisOf(series);
    return axis != nullptr ? axis->titleText() : QString();
}

// The name of the category a value falls in, as the axis shows it.
QString categoryOf(QCategoryAxis& axis, double value) {
    double low = axis.startValue();
    for (const QString& label : axis.categoriesLabels()) {
        const double high = axis.endValue(label);
        if (value >= low && value < high) {
            return label;
        }
        low = high;
    }
    return QString::number(value, 'g', 10);
}

QString named(const QString& name, const QString& unit) {
    return unit.isEmpty() || name.contains(QLatin1Char('[')) ? name
                                                             : name + QStringLiteral(" [") + unit + ']';
}

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
QString field(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

std::vector<Column> columnsOf(const QChart& chart) {
    std::vector<Column> columns;
    for (QAbstractSeries* s : chart.series()) {
        if (!s->isVisible()) {
            continue;
        }
        const QString unit = unitOf(*s);
        if (auto* area = qobject_cast<QAreaSeries*>(s)) {
            if (area->upperSeries() != nullptr) {
                columns.push_back({named(area->name() + QStringLiteral(" (highest)"), unit),
                                   area->upperSeries()->points()});
            }
            if (area->lowerSeries() != nullptr) {
                columns.push_back(
                    {named(area->name() + QStringLiteral(" (lowest)"), unit), area->lowerSeries()->points()});
            }
        } else if (auto* xy = qobject_cast<QXYSeries*>(s)) {
            auto* names = qobject_cast<QCategoryAxis*>(verticalAxisOf(*s));
            columns.push_back({names != nullptr ? xy->name() : named(xy->name(), unit), xy->points(), names});
        }
    }
    return columns;
}

const char* suffixOf(ChartFormat format) {
    switch (format) {
    case ChartFormat::Png:
        return "png";
    case ChartFormat::Svg:
        return "svg";
    case ChartFormat::Csv:
        return "csv";
    }
    return "";
}

} // namespace

std::optional<ChartFormat> chartFormatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (ChartFormat f : {ChartFormat::Png, ChartFormat::Svg, ChartFormat::Csv}) {
        if (suffix == QLatin1String(suffixOf(f))) {
            return f;
        }
    }
    return std::nullopt;
}

QString chartCsv(const QChart& chart) {
    const std::vector<Column> columns = columnsOf(chart);
    const QList<QAbstractAxis*> horizontal = chart.axes(Qt::Horizontal);
    const auto* timeAxis =
        horizontal.isEmpty() ? nullptr : qobject_cast<const QDateTimeAxis*>(horizontal.front());
    QString xName = horizontal.isEmpty() ? QString() : horizontal.front()->titleText();
    if (timeAxis != nullptr) {
        xName = QStringLiteral("time");
    } else if (xName.isEmpty()) {
        xName = QStringLiteral("x");
    }

    // One row per x value, in order; a line without a point there leaves its cell empty.
    std::map<double, std::vector<std::optional<double>>> rows;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        for (const QPointF& p : columns[c].points) {
            auto& row = rows[p.x()];
            row.resize(columns.size());
            row[c] = p.y();
        }
    }
    QString out = field(xName);
    for (const Column& c : columns) {
        out += QLatin1Char(',') + field(c.name);
    }
    out += QLatin1Char('\n');
    for (auto& [x, values] : rows) {
        values.resize(columns.size());
        out += timeAxis != nullptr
                   ? QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x)).toString(Qt::ISODateWithMs)
                   : QString::number(x, 'g', 12);
        for (std::size_t c = 0; c < values.size(); ++c) {
            out += QLatin1Char(',');
            if (const std::optional<double>& v = values[c]) {
                out += columns[c].names != nullptr ? field(categoryOf(*columns[c].names, *v))
                                                   : QString::number(*v, 'g', 10);
            }
        }
        out += QLatin1Char('\n');
    }
    return out;
}

QString exportChart(QChartView& view, const QString& path, ChartFormat format) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    }
    switch (format) {
    case ChartFormat::Png:
        if (!view.grab().save(&file, "PNG")) {
            file.cancelWriting();
            return QStringLiteral("Cannot write %1: the picture could not be encoded").arg(path);
        }
        break;
    case ChartFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(view.size());
        svg.setViewBox(QRect(QPoint(0, 0), view.size()));
        svg.setTitle(view.chart() != nullptr ? view.chart()->title() : QString());
        QPainter painter;
        if (!painter.begin(&svg)) {
            file.cancelWriting();
            return QStringLiteral("Cannot write %1: the drawing could not start").arg(path);
        }
        view.render(&painter);
        painter.end();
        break;
    }
    case ChartFormat::Csv: {
        const QByteArray text = view.chart() != nullptr ? chartCsv(*view.chart()).toUtf8() : QByteArray();
        if (file.write(text) != text.size()) {
            file.cancelWriting();
            return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        }
        break;
    }
    }
    if (!file.commit()) {
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}

QString askChartPath(QWidget* parent, ChartFormat format, const QString& suggestedName) {
    const QString suffix = QString::fromLatin1(suffixOf(format));
    const QString filter = format == ChartFormat::Csv   ? QStringLiteral("CSV files (*.csv)")
                           : format == ChartFormat::Svg ? QStringLiteral("SVG pictures (*.svg)")
                                                        : QStringLiteral("PNG pictures (*.png)");
    QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Export"), suggestedName + '.' + suffix, filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        path += '.' + suffix;
    }
    return path;
}

QPushButton* makeChartExportButton(QChartView* view, QWidget* parent,
                                   std::function<QString(ChartFormat)> choosePath,
                                   std::function<void(const QString&, bool)> done) {
    auto* button = new QPushButton(QStringLiteral("&Export..."), parent);
    button->setAccessibleName(QStringLiteral("Export"));
    button->setToolTip(QStringLiteral("The picture as PNG or SVG, or the numbers of the lines shown as CSV"));
    auto* menu = new QMenu(button);
    const struct {
        const char* caption;
        ChartFormat format;
    } entries[] = {{"Picture as &PNG...", ChartFormat::Png},
                   {"Picture as &SVG...", ChartFormat::Svg},
                   {"Data as &CSV...", ChartFormat::Csv}};
    for (const auto& e : entries) {
        const ChartFormat format = e.format;
        menu->addAction(QString::fromLatin1(e.caption), button, [view, format, choosePath, done] {
            const QString path = choosePath(format);
            if (path.isEmpty()) {
                return;
            }
            const QString error = exportChart(*view, path, format);
            done(error.isEmpty() ? QStringLiteral("Saved to ") + path : error, !error.isEmpty());
        });
    }
    button->setMenu(menu);
    return button;
}

} // namespace zanst::app
