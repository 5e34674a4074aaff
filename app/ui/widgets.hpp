#pragma once
// Small builders shared by the tabs.

#include <QLabel>
#include <QString>

class QPushButton;
class QWidget;

namespace zanst::app {

// A picture from the embedded resources (":/<name>"), scaled to `width` pixels.
QLabel* makePicture(const QString& resourceName, int width, QWidget* parent = nullptr);

// The maker's logo.
QLabel* makeLogo(QWidget* parent = nullptr);

// The legal notice, word-wrapped.
QLabel* makeLegalLabel(QWidget* parent = nullptr);

// A label that names `buddy` for keyboard users and screen readers.
QLabel* makeCaption(const QString& text, QWidget* buddy, QWidget* parent = nullptr);

// A push button named after its caption for screen readers.
QPushButton* makeButton(const QString& caption, QWidget* parent = nullptr);

// A label that shows a value beside its caption. Screen readers get both: its accessible name is
// the caption followed by the value it shows, kept in step with every change.
class ValueLabel : public QLabel {
    Q_OBJECT
  public:
    ValueLabel(const QString& caption, const QString& value, QWidget* parent = nullptr);
    void setValue(const QString& value);

  private:
    QString caption_;
};

// Values that are no longer fresh: a grey note saying how old they are, and grey text in the
// boxes that show them, so that nothing old looks live.
class StaleNote : public QLabel {
    Q_OBJECT
  public:
    explicit StaleNote(QWidget* parent = nullptr);
    // Shown with "No valid data for <age>: the values below are old" while `stale`.
    void setStale(bool stale, const QString& age);
};
void greyOut(QWidget* box, bool grey);

// A line in bold red that says what is wrong and how to fix it; hidden while it has no text.
class WarningLine : public QLabel {
    Q_OBJECT
  public:
    explicit WarningLine(const QString& objectName, QWidget* parent = nullptr);
    void setWarning(const QString& text);
};

// The strip at the foot of a tab: the wiring diagram (if any), the logo and the legal notice.
QWidget* makeFooter(const QString& diagramName, QWidget* parent = nullptr);

} // namespace zanst::app
