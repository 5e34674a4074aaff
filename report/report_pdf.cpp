#include "report/report_pdf.hpp"

#include "bus/hex.hpp"

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zanst::report {

namespace {

// Page geometry in points (the writer runs at 72 dots per inch).
constexpr double kPageWidth = 595.0;
constexpr double kPageHeight = 842.0;
constexpr double kMargin = 40.0;
constexpr double kLeft = kMargin;
constexpr double kRight = kPageWidth - kMargin;
constexpr double kWidth = kRight - kLeft;
constexpr double kTop = kMargin;
constexpr double kBottom = kPageHeight - kMargin - 16.0; // the footer below
constexpr double kRow = 11.5;

// The band the tables colour: warning outside 2.80..3.65 V, alarm outside 2.70..3.75 V.
constexpr int kAlarmLowMv = 2700;
constexpr int kWarnLowMv = 2800;
constexpr int kWarnHighMv = 3650;
constexpr int kAlarmHighMv = 3750;

QString dateText(const QDateTime& t) {
    if (!t.isValid()) {
        return QStringLiteral("-");
    }
    return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC");
}

// A time within the visit: the clock alone on the visit's day.
QString clockText(const QDateTime& t, const QDateTime& day) {
    if (!t.isValid()) {
        return QStringLiteral("-");
    }
    const QDateTime u = t.toUTC();
    return u.date() == day.toUTC().date() ? u.toString(QStringLiteral("HH:mm"))
                                          : u.toString(QStringLiteral("MM-dd HH:mm"));
}

QString orDash(const QString& s) {
    return s.isEmpty() ? QStringLiteral("-") : s;
}

QString versionsText(const std::vector<std::uint32_t>& list) {
    QStringList texts;
    for (std::uint32_t v : list) {
        texts << versionText(v);
    }
    return texts.isEmpty() ? QStringLiteral("-") : texts.join(QStringLiteral(", "));
}

QString gainsText(const std::optional<servicelog::CalibrationValues>& v) {
    if (!v) {
        return QStringLiteral("-");
    }
    return QStringLiteral("%1 / %2 / %3").arg(v->vGain).arg(v->iGain).arg(v->iOffset);
}

QString inputText(const servicelog::CalibrationRecord& c) {
    switch (c.step) {
    case servicelog::CalibrationStep::Voltage:
        return millivoltText(c.input);
    case servicelog::CalibrationStep::CurrentGain:
        return QString::number(c.input / 10.0, 'f', 1) + QStringLiteral(" A");
    case servicelog::CalibrationStep::CurrentOffset:
        return QStringLiteral("0 A");
    default:
        return QStringLiteral("-");
    }
}

struct Column {
    QString title;
    double width; // share of the table's width
    Qt::Alignment align = Qt::AlignLeft;
};

class Document {
  public:
    Document(QPdfWriter& writer, const ReportContent& c) : writer_(writer), c_(c), p_(&writer) {
        body_ = QFont(QStringLiteral("DejaVu Sans"));
        body_.setPointSizeF(7.5);
        bold_ = body_;
        bold_.setBold(true);
        small_ = body_;
        small_.setPointSizeF(6.5);
        headerFont_ = bold_;
        headerFont_.setPointSizeF(6.5);
        heading_ = bold_;
        heading_.setPointSizeF(10.5);
        title_ = bold_;
        title_.setPointSizeF(16);
        p_.setRenderHint(QPainter::Antialiasing);
        y_ = kTop;
    }

    bool ok() const { return p_.isActive(); }
    int pages() const { return page_; }
    bool shortened() const { return shortened_; }
    void finish() {
        footer();
        p_.end();
    }

    // Room for `h` points, on a new page if need be; false once the pages are used up.
    bool room(double h) {
        if (full_) {
            return false;
        }
        if (y_ + h <= kBottom) {
            return true;
        }
        if (page_ >= kMaxPages) {
            full_ = true;
            shortened_ = true;
            return false;
        }
        footer();
        writer_.newPage();
        ++page_;
        y_ = kTop;
        return true;
    }

    void newPage() {
        if (page_ >= kMaxPages) {
            return;
        }
        footer();
        writer_.newPage();
        ++page_;
        y_ = kTop;
    }

    double spaceLeft() const { return kBottom - y_; }

    void text(double x, double y, double w, double h, const QString& s, const QFont& f,
              Qt::Alignment align = Qt::AlignLeft) {
        p_.setFont(f);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(x, y, w, h), static_cast<int>(align | Qt::AlignVCenter), s);
    }

    bool heading(const QString& s, double after = 0) {
        if (!room(18 + after)) {
            return false;
        }
        y_ += 6;
        text(kLeft, y_, kWidth, 12, s, heading_);
        y_ += 13;
        p_.setPen(QPen(Qt::black, 0.6));
        p_.drawLine(QPointF(kLeft, y_), QPointF(kRight, y_));
        y_ += 3;
        return true;
    }

    void paragraph(const QString& s) {
        p_.setFont(body_);
        const QFontMetricsF fm(body_, &writer_);
        const QRectF need = fm.boundingRect(QRectF(0, 0, kWidth, 10000), Qt::TextWordWrap, s);
        double h = need.height() + 2;
        if (!room(std::min(h, 60.0))) {
            return;
        }
        h = std::min(h, kBottom - y_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(kLeft, y_, kWidth, h), Qt::TextWordWrap, s);
        y_ += h + 2;
    }

    // A table with a header row; `bold[i]` and `shade` mark a row that needs attention.
    class Table {
      public:
        static constexpr double kNarrowScale = 0.8;
        Table(Document& d, std::vector<Column> columns, double x = kLeft, double width = kWidth)
            : d_(d), columns_(std::move(columns)), x_(x), width_(width) {}
        bool header() {
            if (!d_.room(kRow * 2)) {
                return false;
            }
            draw(titles(), true, false, {});
            d_.p_.setPen(QPen(Qt::black, 0.4));
            d_.p_.drawLine(QPointF(x_, d_.y_), QPointF(x_ + width_, d_.y_));
            return true;
        }
        bool row(const QStringList& cells, bool shade = false, std::vector<bool> bold = {}) {
            if (d_.y_ + kRow > kBottom) {
                if (!d_.room(kRow * 2)) {
                    return false;
                }
                header();
            }
            draw(cells, false, shade, bold);
            return true;
        }

      private:
        QStringList titles() const {
            QStringList t;
            for (const Column& c : columns_) {
                t << c.title;
            }
            return t;
        }
        void draw(const QStringList& cells, bool isHeader, bool shade, const std::vector<bool>& bold) {
            if (shade) {
                d_.p_.fillRect(QRectF(x_, d_.y_, width_, kRow), QColor(225, 225, 225));
            }
            double x = x_;
            for (int i = 0; i < static_cast<int>(columns_.size()) && i < cells.size(); ++i) {
                const Column& col = columns_[static_cast<std::size_t>(i)];
                const double w = col.width * width_;
                const bool b = isHeader || (static_cast<std::size_t>(i) < bold.size() &&
                                            bold[static_cast<std::size_t>(i)]);
                QFont f = isHeader ? d_.headerFont_ : b ? d_.bold_ : d_.body_;
                // A value a little too long (a counter at its maximum) is set smaller rather than
                // cut; only what would not fit even then is elided.
                if (QFontMetricsF(f, &d_.writer_).horizontalAdvance(cells[i]) > w - 3) {
                    f.setPointSizeF(f.pointSizeF() * kNarrowScale);
                }
                const QString s = QFontMetricsF(f, &d_.writer_).elidedText(cells[i], Qt::ElideMiddle, w - 3);
                d_.text(x + 1.5, d_.y_, w - 3, kRow, s, f, col.align);
                x += w;
            }
            d_.y_ += kRow;
        }
        Document& d_;
        std::vector<Column> columns_;
        double x_;
        double width_;
    };

    void titleBlock();
    void batteries();
    void figures();
    void distributionPicture();
    void bandPicture();
    void comparison();
    void cellTable();
    void firmware();
    void calibrations();
    void parameters();
    void lifetime();
    void recordingsAndFaults();
    void notes();

  private:
    void footer() {
        const QString s = QStringLiteral("Service report · %1 · %2 · page %3")
                              .arg(orDash(c_.site), dateText(c_.startedAt))
                              .arg(page_);
        text(kLeft, kPageHeight - kMargin - 10, kWidth, 10, s, small_, Qt::AlignRight);
        text(kLeft, kPageHeight - kMargin - 10, kWidth, 10, QStringLiteral("Visit ") + c_.visitId, small_);
    }
    // x of a voltage on a horizontal scale from lo to hi over [x0, x0 + w].
    static double scale(double v, double lo, double hi, double x0, double w) {
        return x0 + (v - lo) / (hi - lo) * w;
    }
    void marker(QPointF at, const CellLine& cell, double size);

    QPdfWriter& writer_;
    const ReportContent& c_;
    QPainter p_;
    QFont body_, bold_, small_, headerFont_, heading_, title_;
    double y_ = kTop;
    int page_ = 1;
    bool full_ = false;
    bool shortened_ = false;
};

void Document::titleBlock() {
    text(kLeft, y_, kWidth, 20, QStringLiteral("Service report"), title_);
    text(kLeft, y_, kWidth, 20, dateText(c_.startedAt), heading_, Qt::AlignRight);
    y_ += 26;
    const QString ended = c_.endedAt.isValid() ? dateText(c_.endedAt) : QStringLiteral("(still open)");
    const QStringList labels{QStringLiteral("Site"), QStringLiteral("Technician"), QStringLiteral("Visit"),
                             QStringLiteral("Adapter")};
    const QStringList values{
        orDash(c_.site), orDash(c_.technician), dateText(c_.startedAt) + QStringLiteral(" to ") + ended,
        orDash(c_.adapter) + (c_.port.isEmpty() ? QString() : QStringLiteral(" on ") + c_.port)};
    for (int i = 0; i < labels.size(); ++i) {
        text(kLeft, y_, 70, kRow, labels[i] + QLatin1Char(':'), bold_);
        text(kLeft + 70, y_, kWidth - 70, kRow, values[i], body_);
        y_ += kRow;
    }
    if (c_.snapshotSeq > 0) {
        text(kLeft, y_, kWidth, kRow,
             QStringLiteral("Figures from the %1 snapshot of %2 (snapshot %3 of the visit).")
                 .arg(servicelog::kindText(c_.snapshotKind), dateText(c_.snapshotAt))
                 .arg(c_.snapshotSeq),
             small_);
    } else {
        text(kLeft, y_, kWidth, kRow, QStringLiteral("No snapshot of the bank was taken during this visit."),
             small_);
    }
    y_ += kRow;
}

void Document::batteries() {
    if (!heading(QStringLiteral("Bank and batteries"), kRow * 3)) {
        return;
    }
    // Wide enough for battery 10, a temperature range and a beta boot loader.
    Table t(*this, {{QStringLiteral("#"), 0.03},
                    {QStringLiteral("Serial"), 0.125},
                    {QStringLiteral("Product id"), 0.085},
                    {QStringLiteral("Capacity"), 0.075, Qt::AlignRight},
                    {QStringLiteral("Cells"), 0.045, Qt::AlignRight},
                    {QStringLiteral("Firmware"), 0.175},
                    {QStringLiteral("Boot loader"), 0.12},
                    {QStringLiteral("Lowest (cell)"), 0.11, Qt::AlignRight},
                    {QStringLiteral("Highest (cell)"), 0.11, Qt::AlignRight},
                    {QStringLiteral("Temperature"), 0.125, Qt::AlignRight}});
    if (!t.header()) {
        return;
    }
    for (const BatteryLine& b : c_.batteries) {
        const QString lo =
            b.minMv ? millivoltText(*b.minMv) + QStringLiteral(" (%1)").arg(b.minPlace) : QStringLiteral("-");
        const QString hi =
            b.maxMv ? millivoltText(*b.maxMv) + QStringLiteral(" (%1)").arg(b.maxPlace) : QStringLiteral("-");
        const QString temp = b.minTenthsC
                                 ? QStringLiteral("%1-%2").arg(QString::number(*b.minTenthsC / 10.0, 'f', 1),
                                                               tenthsCelsiusText(*b.maxTenthsC))
                                 : QStringLiteral("-");
        if (!t.row({QString::number(b.battery + 1), orDash(b.serial),
                    QString::fromStdString(bus::ConvertHex1(b.productId, 4)),
                    QStringLiteral("%1 Ah").arg(b.capacity), QString::number(b.cells),
                    versionsText(b.fwVersions), versionsText(b.blVersions), lo, hi, temp})) {
            return;
        }
    }
}

void Document::figures() {
    if (!heading(QStringLiteral("Bank figures and ring health"), kRow * 4)) {
        return;
    }
    QStringList left;
    QStringList right;
    const Distribution* d = c_.distribution ? &*c_.distribution : nullptr;
    left << QStringLiteral("Cells with a voltage: %1 of %2").arg(d ? d->count : 0).arg(c_.cells.size());
    left << QStringLiteral("Lowest / median / highest: %1 / %2 / %3")
                .arg(d ? millivoltText(static_cast<int>(d->min)) : QStringLiteral("-"),
                     d ? millivoltText(static_cast<int>(std::lround(d->median))) : QStringLiteral("-"),
                     d ? millivoltText(static_cast<int>(d->max)) : QStringLiteral("-"));
    left << QStringLiteral("Spread: %1 mV; outside the band: %2 cells")
                .arg(d ? QString::number(d->max - d->min, 'f', 0) : QStringLiteral("-"))
                .arg(c_.cellsOutsideBand);
    left << QStringLiteral("Temperatures: lowest %1, average %2, highest %3")
                .arg(c_.minTenthsC ? tenthsCelsiusText(*c_.minTenthsC) : QStringLiteral("-"),
                     c_.avgTenthsC ? tenthsCelsiusText(*c_.avgTenthsC) : QStringLiteral("-"),
                     c_.maxTenthsC ? tenthsCelsiusText(*c_.maxTenthsC) : QStringLiteral("-"));
    right << QStringLiteral("Bank voltage %1, current %2 A, setpoint %3")
                 .arg(millivoltText(c_.bankValues.batVoltage),
                      QString::number(c_.bankValues.batCurrent / 1000.0, 'f', 3),
                      millivoltText(c_.bankValues.balancerSetpoint));
    right << QStringLiteral("Frames sent %1, received %2")
                 .arg(c_.health.framesSent)
                 .arg(c_.health.framesReceived);
    right << QStringLiteral("CRC errors %1 (balancers' records %2), unanswered polls %3")
                 .arg(c_.health.crcErrors)
                 .arg(c_.balancerCrcErrors)
                 .arg(c_.health.unansweredPolls);
    right << (c_.health.noAnswerAfter >= 0
                  ? QStringLiteral("Ring answers only up to balancer %1").arg(c_.health.noAnswerAfter)
                  : QStringLiteral("Every balancer answered"));
    for (int i = 0; i < 4; ++i) {
        text(kLeft, y_, kWidth * 0.54, kRow, left[i], body_);
        text(kLeft + kWidth * 0.55, y_, kWidth * 0.45, kRow, right[i], body_);
        y_ += kRow;
    }
}

void Document::distributionPicture() {
    if (!c_.distribution || !heading(QStringLiteral("Cell voltages: distribution"), 46)) {
        return;
    }
    const Distribution& d = *c_.distribution;
    // A scale around the cells, at least 40 mV wide, in whole 10 mV.
    double lo = std::floor((d.min - 10) / 10.0) * 10;
    double hi = std::ceil((d.max + 10) / 10.0) * 10;
    if (hi - lo < 40) {
        const double mid = (hi + lo) / 2;
        lo = std::floor((mid - 20) / 10) * 10;
        hi = lo + 40;
    }
    const double x0 = kLeft + 60;
    const double w = kWidth - 120;
    double step = 10;
    for (double s : {10.0, 20.0, 50.0, 100.0, 200.0, 500.0}) {
        step = s;
        if ((hi - lo) / s * 34 <= w) { // a label is some 30 points wide
            break;
        }
    }
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    const double top = y_ + 4;
    const double mid = top + 12;
    p_.setPen(QPen(Qt::black, 0.8));
    const double xMin = scale(d.min, lo, hi, x0, w);
    const double xQ1 = scale(d.q1, lo, hi, x0, w);
    const double xMed = scale(d.median, lo, hi, x0, w);
    const double xQ3 = scale(d.q3, lo, hi, x0, w);
    const double xMax = scale(d.max, lo, hi, x0, w);
    p_.drawLine(QPointF(xMin, mid), QPointF(xQ1, mid));
    p_.drawLine(QPointF(xQ3, mid), QPointF(xMax, mid));
    p_.drawLine(QPointF(xMin, mid - 6), QPointF(xMin, mid + 6));
    p_.drawLine(QPointF(xMax, mid - 6), QPointF(xMax, mid + 6));
    p_.setBrush(QColor(230, 230, 230));
    p_.drawRect(QRectF(xQ1, mid - 8, std::max(xQ3 - xQ1, 0.8), 16));
    p_.setBrush(Qt::NoBrush);
    p_.setPen(QPen(Qt::black, 2.0));
    p_.drawLine(QPointF(xMed, mid - 8), QPointF(xMed, mid + 8));
    // the scale
    const double axis = mid + 14;
    p_.setPen(QPen(Qt::black, 0.5));
    p_.drawLine(QPointF(x0, axis), QPointF(x0 + w, axis));
    for (double v = lo; v <= hi + 0.1; v += step) {
        const double x = scale(v, lo, hi, x0, w);
        p_.drawLine(QPointF(x, axis), QPointF(x, axis + 3));
        text(x - 20, axis + 3, 40, 9, QString::number(v / 1000.0, 'f', 3), small_, Qt::AlignHCenter);
    }
    text(kLeft, mid - 6, 58, 12, QStringLiteral("%1 cells").arg(d.count), small_);
    text(x0 + w + 4, axis - 2, 56, 9, QStringLiteral("V"), small_);
    y_ = axis + 14;
    text(kLeft, y_, kWidth, kRow,
         QStringLiteral("Lowest %1   first quartile %2   median %3   third quartile %4   highest %5")
                 .arg(QString::number(d.min / 1000.0, 'f', 3), QString::number(d.q1 / 1000.0, 'f', 4),
                      QString::number(d.median / 1000.0, 'f', 4), QString::number(d.q3 / 1000.0, 'f', 4),
                      QString::number(d.max / 1000.0, 'f', 3)) +
             QStringLiteral(" V"),
         small_, Qt::AlignHCenter);
    y_ += kRow;
}

void Document::marker(QPointF at, const CellLine& cell, double size) {
    p_.setPen(QPen(Qt::black, 0.6));
    if (cell.level == bank::VoltageLevel::Normal) {
        p_.setBrush(Qt::black);
        p_.drawEllipse(at, size * 0.45, size * 0.45);
        p_.setBrush(Qt::NoBrush);
        return;
    }
    // Out of the band: a triangle pointing the way it left, filled for an alarm.
    const double s = size * 1.3;
    QPainterPath tri;
    if (cell.below) {
        tri.moveTo(at + QPointF(-s, -s));
        tri.lineTo(at + QPointF(s, -s));
        tri.lineTo(at + QPointF(0, s));
    } else {
        tri.moveTo(at + QPointF(-s, s));
        tri.lineTo(at + QPointF(s, s));
        tri.lineTo(at + QPointF(0, -s));
    }
    tri.closeSubpath();
    p_.setBrush(cell.level == bank::VoltageLevel::Alarm ? QBrush(Qt::black) : QBrush(Qt::white));
    p_.drawPath(tri);
    p_.setBrush(Qt::NoBrush);
}

void Document::bandPicture() {
    if (c_.cells.empty() || !heading(QStringLiteral("Each cell against the band"), 150)) {
        return;
    }
    const double x0 = kLeft + 34;
    const double w = kWidth - 40;
    const double top = y_ + 6;
    const double h = 130;
    const double lo = 2600;
    const double hi = 3850;
    auto yOf = [&](double mv) { return top + h - (std::clamp(mv, lo, hi) - lo) / (hi - lo) * h; };
    // The normal band as a light area, its edges dashed (warning) and solid (alarm).
    p_.fillRect(QRectF(x0, yOf(kWarnHighMv), w, yOf(kWarnLowMv) - yOf(kWarnHighMv)), QColor(238, 238, 238));
    p_.setPen(QPen(Qt::black, 0.5));
    p_.drawRect(QRectF(x0, top, w, h));
    const struct {
        int mv;
        Qt::PenStyle style;
    } edges[] = {{kAlarmLowMv, Qt::SolidLine},
                 {kWarnLowMv, Qt::DashLine},
                 {kWarnHighMv, Qt::DashLine},
                 {kAlarmHighMv, Qt::SolidLine}};
    for (const auto& e : edges) {
        p_.setPen(QPen(Qt::black, e.style == Qt::SolidLine ? 0.9 : 0.6, e.style));
        p_.drawLine(QPointF(x0, yOf(e.mv)), QPointF(x0 + w, yOf(e.mv)));
        text(kLeft, yOf(e.mv) - 5, 32, 10, QString::number(e.mv / 1000.0, 'f', 2), small_, Qt::AlignRight);
    }
    // Battery boundaries and numbers.
    const double n = static_cast<double>(c_.cells.size());
    const double cellW = w / n;
    p_.setPen(QPen(Qt::black, 0.3, Qt::DotLine));
    for (std::size_t i = 0; i < c_.cells.size(); ++i) {
        if (i == 0 || c_.cells[i].battery != c_.cells[i - 1].battery) {
            const double x = x0 + cellW * static_cast<double>(i);
            if (i > 0) {
                p_.setPen(QPen(Qt::black, 0.3, Qt::DotLine));
                p_.drawLine(QPointF(x, top), QPointF(x, top + h));
            }
            text(x, top + h + 1, 30, 8, QString::number(c_.cells[i].battery + 1), small_);
        }
    }
    const double size = std::clamp(cellW * 0.6, 1.2, 3.0);
    for (std::size_t i = 0; i < c_.cells.size(); ++i) {
        const CellLine& cell = c_.cells[i];
        if (!cell.millivolts) {
            continue;
        }
        marker(QPointF(x0 + cellW * (static_cast<double>(i) + 0.5), yOf(*cell.millivolts)), cell, size);
    }
    y_ = top + h + 10;
    text(kLeft, y_, kWidth, kRow,
         QStringLiteral(
             "Dots: cells in the band (light area). Open triangle: outside 2.80-3.65 V (dashed); filled: "
             "outside 2.70-3.75 V (solid). Battery numbers below."),
         small_);
    y_ += kRow;
}

void Document::comparison() {
    if (c_.previousVisitId.isEmpty()) {
        if (heading(QStringLiteral("Compared with the previous visit"), kRow)) {
            paragraph(QStringLiteral("No earlier visit of these batteries is in the service log."));
        }
        return;
    }
    if (!heading(QStringLiteral("Compared with the previous visit (%1, %2)")
                     .arg(dateText(c_.previousStartedAt), orDash(c_.previousSite)),
                 kRow * 3)) {
        return;
    }
    Table t(*this, {{QStringLiteral("Battery"), 0.16},
                    {QStringLiteral("Spread then"), 0.12, Qt::AlignRight},
                    {QStringLiteral("Spread now"), 0.12, Qt::AlignRight},
                    {QStringLiteral("Weakest cell then"), 0.17, Qt::AlignRight},
                    {QStringLiteral("Weakest cell now"), 0.17, Qt::AlignRight},
                    {QStringLiteral("Cycles left then"), 0.13, Qt::AlignRight},
                    {QStringLiteral("Cycles left now"), 0.13, Qt::AlignRight}});
    if (!t.header()) {
        return;
    }
    auto spread = [](const std::optional<int>& v) {
        return v ? QStringLiteral("%1 mV").arg(*v) : QStringLiteral("-");
    };
    auto weakest = [](const std::optional<int>& v, int place) {
        return v ? millivoltText(*v) + QStringLiteral(" (cell %1)").arg(place) : QStringLiteral("-");
    };
    auto cycles = [](const std::optional<std::uint32_t>& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    for (const ComparisonLine& l : c_.comparison) {
        const bool worse = l.spreadBefore && l.spreadNow && *l.spreadNow > *l.spreadBefore;
        if (!t.row({l.serial, spread(l.spreadBefore), spread(l.spreadNow),
                    weakest(l.weakestBefore, l.weakestPlaceBefore), weakest(l.weakestNow, l.weakestPlaceNow),
                    cycles(l.cyclesBefore), cycles(l.cyclesNow)},
                   false, {false, false, worse})) {
            return;
        }
    }
    if (c_.comparison.empty()) {
        paragraph(QStringLiteral("The previous visit has no snapshot of these batteries."));
    }
}

void Document::cellTable() {
    if (c_.cells.empty()) {
        return;
    }
    // Four blocks side by side; each battery starts with a line naming its serial.
    struct Line {
        bool battery = false;
        const CellLine* cell = nullptr;
    };
    std::vector<Line> lines;
    for (std::size_t i = 0; i < c_.cells.size(); ++i) {
        if (i == 0 || c_.cells[i].battery != c_.cells[i - 1].battery) {
            lines.push_back({true, &c_.cells[i]});
        }
        lines.push_back({false, &c_.cells[i]});
    }
    const int blocks = 4;
    const double gap = 8;
    const double blockW = (kWidth - gap * (blocks - 1)) / blocks;
    const std::vector<Column> columns{{QStringLiteral("Cell"), 0.17},
                                      {QStringLiteral("Volt"), 0.36, Qt::AlignRight},
                                      {QStringLiteral("Amp"), 0.26, Qt::AlignRight},
                                      {QStringLiteral("°C"), 0.21, Qt::AlignRight}};
    std::size_t next = 0;
    bool first = true;
    while (next < lines.size()) {
        const double headingRoom = first ? 34 : 0;
        if (spaceLeft() < headingRoom + kRow * 8) {
            if (page_ >= kMaxPages) {
                shortened_ = true;
                return;
            }
            newPage();
        }
        if (first) {
            heading(QStringLiteral("Cells"));
            text(kLeft, y_, kWidth, kRow,
                 QStringLiteral(
                     "Marks: ▲ above 3.65 V, ▲▲ above 3.75 V, ▼ below 2.80 V, ▼▼ below 2.70 V; such "
                     "rows are bold on grey. Current: H high-range, L low-range sensor."),
                 small_);
            y_ += kRow + 2;
            first = false;
        }
        // Fill the blocks evenly when what is left fits this page.
        const int fit = static_cast<int>((kBottom - y_) / kRow) - 1;
        const int left = static_cast<int>(lines.size() - next);
        const int rowsPerBlock = std::min(fit, (left + blocks - 1) / blocks + 1);
        const double top = y_;
        double lowest = y_;
        for (int b = 0; b < blocks && next < lines.size(); ++b) {
            y_ = top;
            Table t(*this, columns, kLeft + b * (blockW + gap), blockW);
            t.header();
            for (int r = 0; r < rowsPerBlock && next < lines.size(); ++r, ++next) {
                const Line& line = lines[next];
                const CellLine& c = *line.cell;
                if (line.battery && r == rowsPerBlock - 1) {
                    break; // a battery's name never ends a block without its cells
                }
                if (line.battery) {
                    text(kLeft + b * (blockW + gap) + 1.5, y_, blockW - 3, kRow,
                         QStringLiteral("Battery %1 · %2").arg(c.battery + 1).arg(orDash(c.serial)), bold_);
                    y_ += kRow;
                    continue;
                }
                const QString mark = levelMark(c);
                const QString volts = c.millivolts ? (mark.isEmpty() ? QString() : mark + QLatin1Char(' ')) +
                                                         QString::number(*c.millivolts / 1000.0, 'f', 3)
                                                   : QStringLiteral("-");
                const QString amps =
                    c.milliamps ? QStringLiteral("%1 %2").arg(c.highRange ? "H" : "L",
                                                              QString::number(*c.milliamps / 1000.0, 'f', 2))
                                : QStringLiteral("-");
                const QString temp =
                    c.millivolts ? QString::number(c.tenthsCelsius / 10.0, 'f', 1) : QStringLiteral("-");
                const bool flagged = !mark.isEmpty();
                t.row({QString::number(c.balancer), volts, amps, temp}, flagged,
                      {flagged, flagged, false, false});
            }
            lowest = std::max(lowest, y_);
        }
        y_ = lowest + 4;
    }
}

void Document::firmware() {
    if (c_.firmware.empty() || !heading(QStringLiteral("Firmware: before and after"), kRow * 3)) {
        return;
    }
    Table t(*this, {{QStringLiteral("Time"), 0.07},
                    {QStringLiteral("Balancers"), 0.09},
                    {QStringLiteral("Serial"), 0.14},
                    {QStringLiteral("Before"), 0.15},
                    {QStringLiteral("After"), 0.15},
                    {QStringLiteral("Image"), 0.15},
                    {QStringLiteral("Result"), 0.09},
                    {QStringLiteral("File"), 0.16}});
    if (!t.header()) {
        return;
    }
    for (const FirmwareLine& f : c_.firmware) {
        const QString range = f.firstBalancer == f.lastBalancer
                                  ? QString::number(f.firstBalancer)
                                  : QStringLiteral("%1-%2").arg(f.firstBalancer).arg(f.lastBalancer);
        const bool failed = f.outcome == servicelog::Outcome::Failed;
        if (!t.row({clockText(f.at, c_.startedAt), range, orDash(f.serial), versionText(f.fromVersion),
                    f.toVersion ? versionText(*f.toVersion) : QStringLiteral("not seen"),
                    versionText(f.imageVersion),
                    failed ? QStringLiteral("FAILED") : servicelog::outcomeText(f.outcome),
                    QFileInfo(f.file).fileName()},
                   failed, {false, false, false, false, failed, false, failed})) {
            return;
        }
    }
}

void Document::calibrations() {
    if (c_.calibrations.empty() || !heading(QStringLiteral("Calibration: before and after"), kRow * 3)) {
        return;
    }
    // Headings short enough for their columns in bold: a cut one would lose the values' order.
    Table t(*this, {{QStringLiteral("Time"), 0.06},
                    {QStringLiteral("Step"), 0.115},
                    {QStringLiteral("Balancer"), 0.08, Qt::AlignRight},
                    {QStringLiteral("Serial"), 0.13},
                    {QStringLiteral("Measured"), 0.09, Qt::AlignRight},
                    {QStringLiteral("Before: V/I gain, offset"), 0.2175},
                    {QStringLiteral("After: V/I gain, offset"), 0.2175},
                    {QStringLiteral("Result"), 0.09}});
    if (!t.header()) {
        return;
    }
    for (const servicelog::CalibrationRecord& c : c_.calibrations) {
        const bool failed = c.outcome == servicelog::Outcome::Failed;
        if (!t.row({clockText(c.at, c_.startedAt), servicelog::stepText(c.step),
                    c.balancer > 0 ? QString::number(c.balancer) : QStringLiteral("all"), orDash(c.serial),
                    inputText(c), gainsText(c.before), gainsText(c.after),
                    failed ? QStringLiteral("FAILED") : servicelog::outcomeText(c.outcome)},
                   failed, {false, false, false, false, false, false, false, failed})) {
            return;
        }
    }
}

void Document::parameters() {
    if (c_.parameters.empty() || !heading(QStringLiteral("Battery parameters written"), kRow * 3)) {
        return;
    }
    Table t(*this, {{QStringLiteral("Time"), 0.1},
                    {QStringLiteral("Serial"), 0.16},
                    {QStringLiteral("Capacity"), 0.1, Qt::AlignRight},
                    {QStringLiteral("Product id"), 0.1},
                    {QStringLiteral("Balancers"), 0.1, Qt::AlignRight},
                    {QStringLiteral("Serial before"), 0.34},
                    {QStringLiteral("Result"), 0.1}});
    if (!t.header()) {
        return;
    }
    for (const servicelog::ParametersRecord& p : c_.parameters) {
        QStringList before;
        for (const QString& s : p.previousSerials) {
            before << s;
        }
        if (!t.row({clockText(p.at, c_.startedAt), p.serial, QStringLiteral("%1 Ah").arg(p.capacity),
                    QString::fromStdString(bus::ConvertHex1(p.productId, 4)),
                    QString::number(p.balancers.size()),
                    before.isEmpty() ? QStringLiteral("-") : before.join(QStringLiteral(", ")),
                    servicelog::outcomeText(p.outcome)})) {
            return;
        }
    }
}

void Document::lifetime() {
    const bool any = std::any_of(c_.batteries.begin(), c_.batteries.end(),
                                 [](const BatteryLine& b) { return b.lifetime; });
    if (!any || !heading(QStringLiteral("Lifetime metrics per battery"), kRow * 3)) {
        return;
    }
    Table t(*this, {{QStringLiteral("Battery"), 0.14},
                    {QStringLiteral("#"), 0.035, Qt::AlignRight},
                    {QStringLiteral("Life span"), 0.155, Qt::AlignRight},
                    {QStringLiteral("Cycles left"), 0.09, Qt::AlignRight},
                    {QStringLiteral("Undervoltage"), 0.14, Qt::AlignRight},
                    {QStringLiteral("Overvoltage"), 0.14, Qt::AlignRight},
                    {QStringLiteral("Sub 0.1C"), 0.155, Qt::AlignRight},
                    {QStringLiteral("IR over 150 %"), 0.145, Qt::AlignRight}});
    if (!t.header()) {
        return;
    }
    for (const BatteryLine& b : c_.batteries) {
        if (!b.lifetime) {
            continue;
        }
        const LifetimeLine& l = *b.lifetime;
        if (!t.row({b.serial, QString::number(l.instance), durationText(l.secsLifeSpan),
                    QString::number(l.cyclesBeforeEOL), durationText(l.secsInUndervoltage),
                    durationText(l.secsInOvervoltage), durationText(l.secsInSub01C),
                    durationText(l.secsAtIRAbove150)})) {
            return;
        }
    }
}

void Document::recordingsAndFaults() {
    if (!c_.recordings.empty() && heading(QStringLiteral("Recordings"), kRow * 2)) {
        Table t(*this, {{QStringLiteral("Time"), 0.1},
                        {QStringLiteral("Recorder"), 0.14},
                        {QStringLiteral("File"), 0.76}});
        if (t.header()) {
            for (const servicelog::RecordingRecord& r : c_.recordings) {
                if (!t.row({clockText(r.at, c_.startedAt), servicelog::recordingText(r.kind), r.path})) {
                    break;
                }
            }
        }
    }
    if (!c_.faults.empty() && heading(QStringLiteral("Faults seen"), kRow * 2)) {
        Table t(*this, {{QStringLiteral("Time"), 0.1},
                        {QStringLiteral("Fault"), 0.16},
                        {QStringLiteral("Count"), 0.08, Qt::AlignRight},
                        {QStringLiteral("Balancer"), 0.08, Qt::AlignRight},
                        {QStringLiteral("Detail"), 0.58}});
        if (t.header()) {
            for (const servicelog::FaultRecord& f : c_.faults) {
                if (!t.row({clockText(f.at, c_.startedAt), servicelog::faultText(f.kind),
                            f.count ? QString::number(f.count) : QStringLiteral("-"),
                            f.balancer ? QString::number(f.balancer) : QStringLiteral("bus"), f.detail})) {
                    break;
                }
            }
        }
    }
}

void Document::notes() {
    if (heading(QStringLiteral("Technician's notes"), kRow * 2)) {
        paragraph(c_.notes.trimmed().isEmpty() ? QStringLiteral("(none)") : c_.notes.trimmed());
    }
}

} // namespace

PdfResult writeReportPdf(const ReportContent& content, const QString& path) {
    PdfResult result;
    // Written beside the target and renamed at the end: a failed report never replaces a good one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("Cannot write the report %1: %2").arg(path, file.errorString());
        return result;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        writer.setResolution(72);
        writer.setTitle(
            QStringLiteral("Service report %1 %2").arg(content.site, dateText(content.startedAt)));
        writer.setCreator(QStringLiteral("Zanst ") + content.toolVersion);
        Document doc(writer, content);
        if (!doc.ok()) {
            file.cancelWriting();
            result.error = QStringLiteral("Cannot draw the report %1").arg(path);
            return result;
        }
        doc.titleBlock();
        doc.batteries();
        doc.figures();
        doc.distributionPicture();
        doc.bandPicture();
        doc.comparison();
        doc.cellTable();
        doc.firmware();
        doc.calibrations();
        doc.parameters();
        doc.lifetime();
        doc.recordingsAndFaults();
        doc.notes();
        doc.finish();
        result.pages = doc.pages();
        result.shortened = doc.shortened();
    }
    if (!file.commit()) {
        result.error = QStringLiteral("Cannot write the report %1: %2").arg(path, file.errorString());
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace zanst::report
