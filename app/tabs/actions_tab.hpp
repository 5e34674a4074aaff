#pragma once
// "Actions" (member tabActions, a service tab): test mode, balancing loads and the "Garbage"
// flood, each a broadcast command to every balancer on the ring.

#include "service/actions.hpp"

#include "ui/tab_page.hpp"

class QPushButton;

namespace zanst::app {

class ActionsTab : public TabPage {
    Q_OBJECT
  public:
    explicit ActionsTab(QWidget* parent = nullptr);

    QPushButton* garbage = nullptr;
    QPushButton* enableTestMode = nullptr;
    QPushButton* endTestMode = nullptr;
    QPushButton* loadOn = nullptr;
    QPushButton* loadOff = nullptr;

  signals:
    void actionRequested(zanst::service::ServiceAction action);
};

} // namespace zanst::app
