#include "ui/tab_overlay.hpp"

#include <QPainter>

namespace zanst::app {

TabOverlay::TabOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 128, 4));
    setPalette(pal);
    setEnabled(false); // takes no input; the clicks it covers go nowhere
    resize(kWidth, kHeight);
    setAccessibleName(QStringLiteral("Tabs locked while recording"));
    hide();
}

void TabOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

} // namespace zanst::app
