#include "ui/bus_status_bar.hpp"

#include <QLabel>

namespace zanst::app {

namespace {

constexpr char kGrey[] = "QLabel { color: gray; }";
constexpr char kRed[] = "QLabel { color: red; }";

QLabel* addField(QStatusBar* bar, const QString& name) {
    auto* label = new QLabel(bar);
    label->setAccessibleName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    bar->addWidget(label);
    return label;
}

void setField(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
        label->setAccessibleDescription(text); // screen readers read the value, not only the name
    }
}

} // namespace

QString ageText(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 60) {
        return QStringLiteral("%1 s").arg(s);
    }
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
}

BusStatusBar::BusStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("busStatusBar"));
    setSizeGripEnabled(false);
    modeLabel = addField(this, QStringLiteral("Mode"));
    portLabel = addField(this, QStringLiteral("Port"));
    balancersLabel = addField(this, QStringLiteral("Balancers found"));
    framesLabel = addField(this, QStringLiteral("Frames"));
    crcLabel = addField(this, QStringLiteral("CRC errors"));
    unansweredLabel = addField(this, QStringLiteral("Unanswered polls"));
    ageLabel = addField(this, QStringLiteral("Last valid answer"));
    ringLabel = addField(this, QStringLiteral("Ring"));
    ringLabel->setStyleSheet(QString::fromLatin1(kRed));
    setPortText(QStringLiteral("Idle"));
    showHealth(HealthReport{}, QString(), false);
}

void BusStatusBar::setPortText(const QString& text) {
    setField(portLabel, text);
}

void BusStatusBar::showHealth(const HealthReport& r, const QString& mode, bool stale) {
    setField(modeLabel, mode);
    setField(balancersLabel, QStringLiteral("Balancers: %1").arg(r.balancers));
    setField(framesLabel,
             QStringLiteral("Frames sent %1 / received %2").arg(r.framesSent).arg(r.framesReceived));
    setField(crcLabel, QStringLiteral("CRC errors: %1").arg(r.crcErrors));
    setField(unansweredLabel, QStringLiteral("Unanswered polls: %1").arg(r.unansweredPolls));
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
}

} // namespace zanst::app
