#pragma once
// Lays its widgets out left to right and starts a new line where the next one would not fit, so
// that every widget keeps the width its text needs at any width of the parent.

#include <QLayout>
#include <QList>

namespace zanst::app {

class FlowLayout : public QLayout {
  public:
    explicit FlowLayout(QWidget* parent, int horizontalSpacing = 12, int verticalSpacing = 2);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    void setGeometry(const QRect& rect) override;
    QSize sizeHint() const override { return minimumSize(); }
    QSize minimumSize() const override;

  private:
    // Places the items in `rect` (or only measures, with `apply` clear); returns the height used.
    int arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> items_;
    int horizontalSpacing_;
    int verticalSpacing_;
};

} // namespace zanst::app
