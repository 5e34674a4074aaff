#include "ui/bus_status_bar.hpp"

#include "bus/number_text.hpp"
#include "engine/locale_format.hpp"
#include "ui/flow_layout.hpp"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

namespace zanst::app {

namespace {

constexpr char kGrey[] = "QLabel { color: gray; }";
constexpr char kRed[] = "QLabel { color: red; }";

QLabel* newField(QWidget* bar, const QString& name) {
    auto* label = new QLabel(bar);
    label->setAccessibleName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    label->setTextFormat(Qt::PlainText);
    bar->layout()->addWidget(label);
    return label;
}

void setField(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
        label->setAccessibleDescription(text); // screen readers read the value, not only the name
    }
}

QString count(std::uint64_t n) {
    return QString::fromStdString(bus::groupedCountText(n, localeTextFormat()));
}

} // namespace

QString ageText(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 60) {
        return QStringLiteral("%1 s").arg(s);
    }
    if (s < 3600) {
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    }
    if (s < 86400) {
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
    }
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s % 86400 / 3600);
}

BusStatusBar::BusStatusBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("busStatusBar"));
    auto* layout = new FlowLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    modeLabel = newField(this, QStringLiteral("Mode"));
    portLabel = newField(this, QStringLiteral("Port"));
    balancersLabel = newField(this, QStringLiteral("Balancers found"));
    framesLabel = newField(this, QStringLiteral("Frames"));
    crcLabel = newField(this, QStringLiteral("CRC errors"));
    unansweredLabel = newField(this, QStringLiteral("Unanswered polls"));
    ageLabel = newField(this, QStringLiteral("Last valid answer"));
    ringLabel = newField(this, QStringLiteral("Ring"));
    ringLabel->setStyleSheet(QString::fromLatin1(kRed));
    setPortText(QStringLiteral("Idle"));
    showHealth(HealthReport{}, QString(), false);
    reserveTwoLines();
}

void BusStatusBar::setPortText(const QString& text) {
    portText_ = text;
    showPortText();
}

QLabel* BusStatusBar::addField(const QString& accessibleName) {
    return newField(this, accessibleName);
}

int BusStatusBar::portWidth() const {
    return portLabel->fontMetrics().averageCharWidth() * kPortChars;
}

void BusStatusBar::showPortText() {
    const QString shown = portLabel->fontMetrics().elidedText(portText_, Qt::ElideMiddle, portWidth());
    setField(portLabel, shown);
    portLabel->setToolTip(shown == portText_ ? QString() : portText_);
}

void BusStatusBar::reserveTwoLines() {
    // Two lines always, so that the pages above do not jump as the counts grow past one line.
    const QMargins m = layout()->contentsMargins();
    setMinimumHeight(2 * modeLabel->sizeHint().height() + 2 + m.top() + m.bottom());
}

void BusStatusBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        showPortText(); // the cut depends on the font
        reserveTwoLines();
    }
}

void BusStatusBar::showHealth(const HealthReport& r, const QString& mode, bool stale) {
    setField(modeLabel, mode);
    setField(balancersLabel, QStringLiteral("Balancers: %1").arg(r.balancers));
    setField(
        framesLabel,
        QStringLiteral("Frames sent %1 / received %2").arg(count(r.framesSent), count(r.framesReceived)));
    setField(crcLabel, QStringLiteral("CRC errors: %1").arg(count(r.crcErrors)));
    setField(unansweredLabel, QStringLiteral("Unanswered polls: %1").arg(count(r.unansweredPolls)));
    if (r.msSinceValid < 0) {
        setField(ageLabel, QStringLiteral("No valid answer yet"));
    } else if (stale) {
        setField(ageLabel, QStringLiteral("No valid answer for ") + ageText(r.msSinceValid));
    } else {
        setField(ageLabel, QStringLiteral("Last valid answer %1 s ago")
                               .arg(static_cast<double>(r.msSinceValid) / 1000.0, 0, 'f', 1));
    }
    ageLabel->setStyleSheet(stale || r.msSinceValid < 0 ? QString::fromLatin1(kGrey) : QString());
    if (r.noAnswerAfter < 0) {
        setField(ringLabel, QString());
    } else if (r.noAnswerAfter == 0) {
        setField(ringLabel, QStringLiteral("no balancer answers"));
    } else {
        setField(ringLabel, QStringLiteral("no answer after balancer %1").arg(r.noAnswerAfter));
    }
    ringLabel->setVisible(!ringLabel->text().isEmpty());
}

} // namespace zanst::app
