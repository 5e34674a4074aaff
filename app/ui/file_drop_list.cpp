#include "ui/file_drop_list.hpp"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

namespace zanst::app {

FileDropList::FileDropList(QWidget* parent) : QListWidget(parent) {
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

QStringList FileDropList::takeAsCopy(QDropEvent* event) const {
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
    } else {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    return paths;
}

void FileDropList::dragEnterEvent(QDragEnterEvent* event) {
    takeAsCopy(event);
}

void FileDropList::dragMoveEvent(QDragMoveEvent* event) {
    takeAsCopy(event);
}

void FileDropList::dropEvent(QDropEvent* event) {
    const QStringList paths = takeAsCopy(event);
    if (!paths.isEmpty()) {
        emit filesDropped(paths);
    }
}

} // namespace zanst::app
