#include "ui/about_dialog.hpp"

#include "ui/legal.hpp"
#include "ui/widgets.hpp"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QtGlobal>

namespace zanst::app {

namespace {

struct ThirdParty {
    const char* name;
    const char* use;
    const char* licence;
    const char* licenceFile; // under /usr/share/common-licenses on Debian
};

// Everything the installed program loads besides itself; all of it is dynamically linked, so each
// part can be replaced by a compatible build of the user's choice.
constexpr ThirdParty kThirdParty[] = {
    {"Qt 6 (Core, Gui, Widgets, Serial Port, SVG)", "window, serial port, pictures",
     "GNU Lesser General Public License version 3", "LGPL-3"},
    {"GNU C++ library (libstdc++)", "C++ runtime",
     "GNU General Public License version 3 with the GCC Runtime Library Exception", "GPL-3"},
    {"GNU C library", "system calls, pseudo-terminals",
     "GNU Lesser General Public License version 2.1 "
     "or later",
     "LGPL-2.1"},
};

QString aboutHtml(const QString& version, const QString& buildDate) {
    QString html = QStringLiteral("<h2>Zanthe Service Tool (ZANST)</h2>"
                                  "<p>Version %1, built %2.<br>Running on Qt %3.</p>"
                                  "<p>%4</p>"
                                  "<h3>Third-party software</h3>"
                                  "<table cellspacing='0' cellpadding='3' border='1'>"
                                  "<tr><th align='left'>Component</th><th align='left'>Used for</th>"
                                  "<th align='left'>Licence</th></tr>")
                       .arg(version.toHtmlEscaped(), buildDate.toHtmlEscaped(),
                            QString::fromLatin1(qVersion()), QString::fromUtf8(kLegalNotice).toHtmlEscaped());
    for (const ThirdParty& t : kThirdParty) {
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(QString::fromUtf8(t.name).toHtmlEscaped(), QString::fromUtf8(t.use).toHtmlEscaped(),
                         QString::fromUtf8(t.licence).toHtmlEscaped());
    }
    html += QStringLiteral("</table><p>The full licence texts are in /usr/share/common-licenses (");
    QStringList files;
    for (const ThirdParty& t : kThirdParty) {
        files << QString::fromLatin1(t.licenceFile);
    }
    html += files.join(QStringLiteral(", ")) +
            QStringLiteral(") on Debian, and at the sources the libraries come from. \"About Qt\" shows "
                           "Qt's own notice.</p>");
    return html;
}

} // namespace

AboutDialog::AboutDialog(const QString& version, const QString& buildDate, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Zanthe Service Tool"));

    body_ = new QTextBrowser(this);
    body_->setObjectName(QStringLiteral("aboutText"));
    body_->setHtml(aboutHtml(version, buildDate));
    body_->setAccessibleName(QStringLiteral("About"));
    body_->setMinimumSize(560, 380);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* aboutQt = buttons->addButton(QStringLiteral("About &Qt"), QDialogButtonBox::HelpRole);
    aboutQt->setToolTip(QStringLiteral("Qt's version and licence notice"));
    connect(aboutQt, &QPushButton::clicked, this, [this] { QApplication::aboutQt(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(makeLogo(this), 0, Qt::AlignTop);
    top->addWidget(body_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

QString AboutDialog::text() const {
    return body_->toPlainText();
}

} // namespace zanst::app
