#pragma once
// "BMS tester" (member tabBattery): the tool stands in for a whole bank.

#include <QWidget>

namespace zanst::app {

class BmsTesterTab : public QWidget {
    Q_OBJECT
public:
    explicit BmsTesterTab(QWidget* parent = nullptr);
};

} // namespace zanst::app
