#include "tabs/adapter_panel.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString lines(const std::vector<std::string>& ls) {
    QStringList out;
    for (const std::string& l : ls) {
        out << text(l);
    }
    return out.join(QLatin1Char('\n'));
}

// The advice as a technician copies it: each command and the rule on a line of its own, in a
// fixed-width font.
QString adviceHtml(const std::vector<std::string>& ls) {
    QString html;
    const QString run = QStringLiteral(" run: ");
    for (const std::string& l : ls) {
        const QString line = text(l);
        const qsizetype at = line.indexOf(run);
        if (line.startsWith(QStringLiteral("ACTION=="))) {
            html += QStringLiteral("<pre>%1</pre>").arg(line.toHtmlEscaped());
        } else if (at >= 0) {
            // "..., run: COMMAND[, and what follows it]"
            const QString rest = line.mid(at + run.size());
            const qsizetype then = rest.indexOf(QStringLiteral(", "));
            html += QStringLiteral("<p>%1</p><pre>%2</pre>")
                        .arg(line.left(at + run.size() - 1).toHtmlEscaped(), rest.left(then).toHtmlEscaped());
            if (then >= 0) {
                html += QStringLiteral("<p>%1</p>").arg(rest.mid(then + 2).toHtmlEscaped());
            }
        } else {
            html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
        }
    }
    return html;
}

QLabel* newLine(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

void showOrHide(QLabel* label, const QString& content) {
    label->setText(content);
    label->setAccessibleDescription(content);
    label->setVisible(!content.isEmpty());
}

} // namespace

AdapterPanel::AdapterPanel(QWidget* parent) : QGroupBox(QStringLiteral("Adapter"), parent) {
    setObjectName(QStringLiteral("adapterPanel"));
    setAccessibleName(title());
    details = newLine(QStringLiteral("adapterDetails"), this);
    details->setAccessibleName(QStringLiteral("Adapter"));
    error = newLine(QStringLiteral("adapterError"), this);
    error->setAccessibleName(QStringLiteral("Why the port did not open"));
    error->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
    advice = newLine(QStringLiteral("adapterAdvice"), this);
    advice->setAccessibleName(QStringLiteral("What to do about the latency timer"));
    advice->setTextFormat(Qt::RichText);
    note = newLine(QStringLiteral("adapterNote"), this);
    note->setAccessibleName(QStringLiteral("Connection"));
    offer = newLine(QStringLiteral("adapterOffer"), this);
    offer->setAccessibleName(QStringLiteral("Adapter back"));
    reconnect = new QPushButton(QStringLiteral("&Reconnect"), this);
    reconnect->setObjectName(QStringLiteral("adapterReconnect"));
    reconnect->setAccessibleName(QStringLiteral("Reconnect"));
    reconnect->setToolTip(
        QStringLiteral("Open the adapter that came back, as choosing it under \"Port\" would"));

    auto* offerRow = new QHBoxLayout;
    offerRow->addWidget(offer, 1);
    offerRow->addWidget(reconnect, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(details);
    layout->addWidget(error);
    layout->addWidget(advice);
    layout->addWidget(note);
    layout->addLayout(offerRow);
    connect(reconnect, &QPushButton::clicked, this, &AdapterPanel::reconnectRequested);
    showIdle();
    showNote({});
    withdrawOffer();
}

void AdapterPanel::showReport(const adapter::PortReport& r) {
    std::vector<std::string> shown = r.identity;
    shown.insert(shown.end(), r.line.begin(), r.line.end());
    shown.insert(shown.end(), r.warnings.begin(), r.warnings.end());
    if (!r.echo.empty()) {
        shown.push_back(r.echo);
    }
    showOrHide(details, lines(shown));
    showOrHide(error, text(r.error));
    advice->setText(adviceHtml(r.advice));
    advice->setAccessibleDescription(lines(r.advice));
    advice->setVisible(!r.advice.empty());
}

void AdapterPanel::showIdle() {
    showOrHide(details, QStringLiteral("No port is open: choose the adapter under \"Port\"."));
    showOrHide(error, {});
    advice->clear();
    advice->hide();
}

void AdapterPanel::showNote(const QString& content) {
    showOrHide(note, content);
}

void AdapterPanel::offerReconnect(const QString& content) {
    showOrHide(offer, content);
    reconnect->show();
}

void AdapterPanel::withdrawOffer() {
    showOrHide(offer, {});
    reconnect->hide();
}

bool AdapterPanel::offering() const {
    return !reconnect->isHidden();
}

} // namespace zanst::app
