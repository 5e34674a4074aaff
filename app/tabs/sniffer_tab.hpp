#pragma once
// "Data Sniffer": the tool repeats and decodes the ring traffic.

#include <QWidget>

namespace zanst::app {

class SnifferTab : public QWidget {
    Q_OBJECT
public:
    explicit SnifferTab(QWidget* parent = nullptr);
};

} // namespace zanst::app
