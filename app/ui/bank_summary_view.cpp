#include "ui/bank_summary_view.hpp"

#include "engine/locale_format.hpp"
#include "ui/cell_grid.hpp"

#include <QColor>
#include <QEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

// The cells spelled out in a list; the rest are counted, so that the line fits the window.
constexpr std::size_t kListedBalancing = 6;
constexpr std::size_t kListedFlagged = 4;

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString coloured(const QString& body, bank::VoltageLevel level) {
    if (level == bank::VoltageLevel::Normal) {
        return body;
    }
    return QStringLiteral("<b><span style=\"color:%1\">%2</span></b>")
        .arg(voltageLevelColour(level).name(), body);
}

} // namespace

SummaryLine::SummaryLine(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    // A long line is cut at the window's edge rather than widening the fixed-size window.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    laidOut_.setTextFormat(Qt::RichText);
    laidOut_.setTextWidth(kNoWrapWidth); // one line, cut at the edge (no width: it would wrap)
    laidOut_.setPerformanceHint(QStaticText::AggressiveCaching);
}

void SummaryLine::setText(const QString& html) {
    if (html == html_) {
        return;
    }
    html_ = html;
    laidOut_.setText(html);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QString plain = html;
    plain.remove(tags).replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    setAccessibleDescription(plain); // screen readers read the values
    update();
}

QSize SummaryLine::sizeHint() const {
    return {0, fontMetrics().height() + 2};
}

void SummaryLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.setFont(font());
    painter.setClipRect(rect());
    painter.drawStaticText(QPointF(0, 1), laidOut_);
}

void SummaryLine::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        laidOut_.setText(html_); // laid out again in the new font
        updateGeometry();
    }
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange) {
        update();
    }
}

BankSummaryView::BankSummaryView(QWidget* parent)
    : QWidget(parent), format_(localeTextFormat()), show_(this) {
    setObjectName(QStringLiteral("bankSummary"));
    setAccessibleName(QStringLiteral("Bank summary"));
    cellsLine = new SummaryLine(QStringLiteral("bankSummaryCells"), this);
    flagsLine = new SummaryLine(QStringLiteral("bankSummaryFlags"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(cellsLine);
    layout->addWidget(flagsLine);
    show_.setSingleShot(true);
    connect(&show_, &QTimer::timeout, this, &BankSummaryView::render);
    render();
}

void BankSummaryView::showSnapshot(const bank::BankSnapshot& snapshot) {
    snapshot_ = snapshot;
    schedule();
}

void BankSummaryView::showBankValues(const bank::BankValues& values) {
    bank_ = values;
    schedule();
}

const bank::BankSummary& BankSummaryView::summary() {
    if (pending_) {
        show_.stop();
        render();
    }
    return summary_;
}

void BankSummaryView::schedule() {
    pending_ = true;
    if (!isVisible()) {
        return; // shown when its tab is
    }
    if (!show_.isActive()) {
        const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : kShowMs;
        show_.start(static_cast<int>(std::max<qint64>(0, kShowMs - since)));
    }
}

void BankSummaryView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pending_) {
        render();
    }
}

void BankSummaryView::setStale(bool stale) {
    if (stale != stale_) {
        stale_ = stale;
        setEnabled(!stale); // greyed like the table's old values
    }
}

void BankSummaryView::render() {
    pending_ = false;
    sinceShown_.start();
    summary_ =
        bank::summarizeBank(snapshot_, bank_ ? std::optional<int>(bank_->balancerSetpoint) : std::nullopt);
    const bank::BankSummary& s = summary_;
    const auto volts = [this](int mv) {
        return text(bus::scaledText(mv, 3, format_)) + QStringLiteral(" V");
    };
    const auto extreme = [&](const bank::CellExtreme& e) {
        QString body = volts(e.value) + QStringLiteral(" (#%1").arg(e.cell);
        if (e.ties > 1) {
            body += QStringLiteral(" +%1").arg(e.ties - 1);
        }
        body += QLatin1Char(')');
        return coloured(body, bank::millivoltLevel(e.value));
    };

    QStringList parts;
    parts << QStringLiteral("Cells: <b>%1</b>").arg(s.cellCount);
    if (s.minVoltage && s.maxVoltage) {
        parts << QStringLiteral("Min ") + extreme(*s.minVoltage);
        parts << QStringLiteral("Max ") + extreme(*s.maxVoltage);
        parts << QStringLiteral("Delta <b>%1 mV</b>").arg(s.deltaMv);
    } else {
        parts << QStringLiteral("Min - Max -");
    }
    if (s.averageTenthsCelsius && s.maxTemperature) {
        parts << QStringLiteral("Temp avg %1 \u00B0C, max %2 \u00B0C (#%3)")
                     .arg(text(bus::scaledText(*s.averageTenthsCelsius, 1, format_)),
                          text(bus::scaledText(s.maxTemperature->value, 1, format_)))
                     .arg(s.maxTemperature->cell);
    }
    if (bank_) {
        parts << QStringLiteral("Bank %1, %2 A")
                     .arg(volts(bank_->batVoltage), text(bus::scaledText(bank_->batCurrent, 3, format_)));
    }
    cellsLine->setText(parts.join(QStringLiteral(" &nbsp;|&nbsp; ")));

    const auto cellList = [](const std::vector<QString>& items, std::size_t listed) {
        QStringList shown;
        for (std::size_t i = 0; i < items.size() && i < listed; ++i) {
            shown << items[i];
        }
        if (items.size() > listed) {
            shown << QStringLiteral("+%1 more").arg(items.size() - listed);
        }
        return shown.join(QStringLiteral(", "));
    };
    std::vector<QString> balancing;
    for (const int cell : s.balancing) {
        balancing.push_back(QStringLiteral("#%1").arg(cell));
    }
    std::vector<QString> flagged;
    for (const bank::FlaggedCell& f : s.flagged) {
        flagged.push_back(coloured(QStringLiteral("#%1 %2").arg(f.cell).arg(volts(f.millivolts)), f.level));
    }
    QString flags = QStringLiteral("Balancing: %1").arg(s.balancing.size());
    if (!balancing.empty()) {
        flags += QStringLiteral(" (") + cellList(balancing, kListedBalancing) + QLatin1Char(')');
    }
    flags += QStringLiteral(" &nbsp;|&nbsp; Outside band: %1").arg(s.flagged.size());
    if (!flagged.empty()) {
        flags += QStringLiteral(" ") + cellList(flagged, kListedFlagged);
    }
    flagsLine->setText(flags);
}

} // namespace zanst::app
