#pragma once
// A list that takes files dropped on it: the drag shows the copy effect while it carries files the
// list takes, anything else is refused, and a drop hands the paths on.

#include <QListWidget>
#include <QStringList>

class QMimeData;

namespace zanst::app {

class FileDropList : public QListWidget {
    Q_OBJECT
  public:
    explicit FileDropList(QWidget* parent = nullptr);

  signals:
    void filesDropped(const QStringList& paths);

  protected:
    // The paths the list takes from a drag; none refuses it.
    virtual QStringList droppedPaths(const QMimeData* mime) const = 0;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QStringList takeAsCopy(QDropEvent* event) const;
};

} // namespace zanst::app
