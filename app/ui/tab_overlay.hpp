#pragma once
// A nearly transparent, disabled cover over the tab headers, shown while a recording runs.

#include <QWidget>

namespace zanst::app {

class TabOverlay : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 21;

    explicit TabOverlay(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zanst::app
