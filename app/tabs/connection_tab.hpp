#pragma once
// "Connection": choosing, opening and closing the serial port.

#include "ui/tab_page.hpp"

class QComboBox;
class QPushButton;

namespace zanst::app {

class ConnectionTab : public TabPage {
    Q_OBJECT
  public:
    explicit ConnectionTab(QWidget* parent = nullptr);

    QComboBox* comboBox1 = nullptr; // port names, selection only
    QPushButton* cmdDisconnect = nullptr;
    QPushButton* about = nullptr; // below the settings, which keep their place

  signals:
    // The user chose an entry (also the one already selected).
    void portChosen(const QString& name);
    void disconnectRequested();
    void aboutRequested();
};

} // namespace zanst::app
