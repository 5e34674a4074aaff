#pragma once
// "About Zanthe Service Tool": version, build date, the legal notice and the licences of the
// libraries the program uses.

#include <QDialog>

class QTextBrowser;

namespace zanst::app {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    AboutDialog(const QString& version, const QString& buildDate, QWidget* parent = nullptr);

    // The whole text shown, for screen readers and tests.
    QString text() const;

  private:
    QTextBrowser* body_ = nullptr;
};

} // namespace zanst::app
