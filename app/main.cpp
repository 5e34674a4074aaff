// Zanst: service tool for banks of Zanthe lithium iron phosphate batteries.

#include "shell/main_window.hpp"
#include "ui/legal.hpp"

#include <QApplication>
#include <QStyleFactory>

#include <iostream>

int main(int argc, char** argv) {
    (void)argc; // the command line is ignored
    int qtArgc = 1;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Zanst"));

    std::cout << zanst::app::kLegalNotice << std::endl;
    std::cout << "\nStarting Zanst application" << std::endl;

    zanst::app::diag_form window;
    window.show();
    QApplication::exec();
    return 0;
}
