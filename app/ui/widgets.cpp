#include "ui/widgets.hpp"

#include "ui/legal.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace zanst::app {

QLabel* makePicture(const QString& resourceName, int width, QWidget* parent) {
    auto* label = new QLabel(parent);
    QSvgRenderer renderer(QStringLiteral(":/") + resourceName);
    if (renderer.isValid()) {
        const QSize natural = renderer.defaultSize();
        const int height = natural.width() > 0 ? natural.height() * width / natural.width() : width;
        QPixmap pixmap(width, height);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        label->setPixmap(pixmap);
    }
    label->setObjectName(resourceName);
    label->setAccessibleName(resourceName);
    return label;
}

QLabel* makeLogo(QWidget* parent) {
    QLabel* logo = makePicture(QStringLiteral("Zanst_logo"), 180, parent);
    logo->setAccessibleName(QStringLiteral("Kestrova Energy logo"));
    return logo;
}

QLabel* makeLegalLabel(QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(kLegalNotice), parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setAccessibleName(QStringLiteral("Legal notice"));
    return label;
}

QLabel* makeCaption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    if (buddy != nullptr) {
        QString name = text.trimmed();
        name.remove(QLatin1Char('&')); // mnemonic marker
        if (name.endsWith(QLatin1Char(':'))) {
            name.chop(1);
        }
        buddy->setAccessibleName(name);
    }
    return label;
}

ValueLabel::ValueLabel(const QString& caption, const QString& value, QWidget* parent)
    : QLabel(parent), caption_(caption) {
    setValue(value);
}

void ValueLabel::setValue(const QString& value) {
    setText(value);
    setAccessibleName(caption_ + QLatin1Char(' ') + value);
}

StaleNote::StaleNote(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("staleNote"));
    setStyleSheet(QStringLiteral("QLabel { color: gray; font-style: italic; }"));
    hide();
}

void StaleNote::setStale(bool stale, const QString& age) {
    if (stale) {
        const QString text = QStringLiteral("No valid data for %1: the values shown are old").arg(age);
        if (text != this->text()) {
            setText(text);
            setAccessibleName(text);
        }
    }
    setVisible(stale);
}

void greyOut(QWidget* box, bool grey) {
    const char* const property = "zanstGreyed";
    if (box->property(property).toBool() == grey) {
        return;
    }
    box->setProperty(property, grey);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Text,
                     grey ? QColor(Qt::gray) : box->parentWidget()->palette().color(QPalette::Text));
    box->setPalette(palette);
}

QPushButton* makeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setAccessibleName(caption);
    return button;
}

QWidget* makeFooter(const QString& diagramName, QWidget* parent) {
    auto* footer = new QWidget(parent);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    if (!diagramName.isEmpty()) {
        QLabel* diagram = makePicture(diagramName, 300, footer);
        diagram->setAccessibleName(QStringLiteral("Wiring diagram"));
        row->addWidget(diagram, 0, Qt::AlignBottom);
    }
    auto* brand = new QVBoxLayout;
    brand->addStretch(1);
    brand->addWidget(makeLogo(footer), 0, Qt::AlignRight);
    brand->addWidget(makeLegalLabel(footer));
    row->addLayout(brand, 1);
    return footer;
}

WarningLine::WarningLine(const QString& objectName, QWidget* parent) : QLabel(parent) {
    setObjectName(objectName);
    setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    hide();
}

void WarningLine::setWarning(const QString& text) {
    setText(text);
    setAccessibleName(text);
    setVisible(!text.isEmpty());
}

} // namespace zanst::app
