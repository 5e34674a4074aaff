#pragma once
// Small builders shared by the tabs.

#include <QString>

class QLabel;
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

// The strip at the foot of a tab: the wiring diagram (if any), the logo and the legal notice.
QWidget* makeFooter(const QString& diagramName, QWidget* parent = nullptr);

} // namespace zanst::app
