#pragma once
// "Battery tester" (member tabBMS): the tool polls real balancers as bus master.

#include <QWidget>

namespace zanst::app {

class BatteryTesterTab : public QWidget {
    Q_OBJECT
public:
    explicit BatteryTesterTab(QWidget* parent = nullptr);
};

} // namespace zanst::app
