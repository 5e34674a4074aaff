#pragma once
// "Connection": choosing, opening and closing the serial port.

#include "ui/tab_page.hpp"

class QComboBox;
class QPushButton;
class QVBoxLayout;

namespace zanst::app {

class ConnectionTab : public TabPage {
    Q_OBJECT
  public:
    explicit ConnectionTab(QWidget* parent = nullptr);

    QComboBox* comboBox1 = nullptr; // port names, selection only
    QPushButton* cmdDisconnect = nullptr;
    QPushButton* about = nullptr; // below the settings, which keep their place

    // A group of its own below the settings (the adapter, the service visit), in the order added;
    // the settings, the logo and the notice keep their places.
    void addSection(QWidget* section);
    // Chooses the entry `name` as a click would (the offer to reconnect an adapter that came back);
    // false when the list has no such entry.
    bool choosePort(const QString& name);

  signals:
    // The user chose an entry (also the one already selected).
    void portChosen(const QString& name);
    void disconnectRequested();
    void aboutRequested();

  private:
    QVBoxLayout* sections_ = nullptr;
};

} // namespace zanst::app
