// Zanst: service tool for banks of Zanthe lithium iron phosphate batteries.

#include "servicelog/location.hpp"
#include "shell/main_window.hpp"
#include "shell/wiring.hpp"
#include "ui/legal.hpp"
#include "visits/visit_session.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>
#include <QStyleFactory>

#include <iostream>

namespace {

QString versionText() {
    return QStringLiteral("zanst " ZANST_VERSION " (") + zanst::app::diag_form::buildDate() +
           QLatin1Char(')');
}

// Without an application object the parser cannot know the program's name.
std::string usage(const QCommandLineParser& parser) {
    return parser.helpText()
        .replace(QStringLiteral("<executable_name>"), QStringLiteral("zanst"))
        .toStdString();
}

} // namespace

int main(int argc, char** argv) {
    // The command line is read before any window system is touched, so that --help and
    // --version work without a display and a wrong option never starts a half-set-up window.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zanthe Service Tool: battery tester, BMS tester and "
                                                    "data sniffer for the battery bus."));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("Start with the service tools shown: the Actions, "
                                                    "Calibration and Metrics tabs, the Updater and Gain "
                                                    "groups and the bank values."));
    const QCommandLineOption replay(
        QStringLiteral("replay"),
        QStringLiteral("Play the capture FILE in place of a port, at its recorded "
                       "pace, with the traffic view shown."),
        QStringLiteral("FILE"));
    const QCommandLineOption serviceDb(
        QStringLiteral("service-db"),
        QStringLiteral("Keep the service log in URL: sqlite:///path/file.sqlite (or a file path) or "
                       "postgresql://[user@]host[:port]/database. Default: $ZANST_SERVICE_DB, else "
                       "service-log.sqlite in the tool's data folder."),
        QStringLiteral("URL"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(service);
    parser.addOption(replay);
    parser.addOption(serviceDb);
    parser.addOption(help);
    parser.addOption(version);
    const bool understood = parser.parse(arguments);
    if (understood && parser.isSet(help)) {
        std::cout << usage(parser);
        return 0;
    }
    if (understood && parser.isSet(version)) {
        std::cout << versionText().toStdString() << std::endl;
        return 0;
    }
    if (!understood || !parser.positionalArguments().isEmpty()) {
        const QString error = understood ? QStringLiteral("Unexpected argument: ") +
                                               parser.positionalArguments().join(QLatin1Char(' '))
                                         : parser.errorText();
        std::cerr << "zanst: " << error.toStdString() << "\n\n" << usage(parser);
        return 2;
    }

    if (parser.isSet(serviceDb)) {
        // Refused before any window, as a wrong option is; the message names no password.
        const zanst::servicelog::LocationResult where =
            zanst::servicelog::parseLocation(parser.value(serviceDb));
        if (!where.location) {
            std::cerr << "zanst: --service-db: " << where.error.toStdString() << "\n\n" << usage(parser);
            return 2;
        }
    }

    int qtArgc = 1; // Qt's own options are not taken from the command line
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Zanst"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("zanst"));

    std::cout << zanst::app::kLegalNotice << std::endl;
    std::cout << "\nStarting Zanst application" << std::endl;

    zanst::app::diag_form window(parser.isSet(service) ? zanst::app::ServiceMode::On
                                                       : zanst::app::ServiceMode::Off);
    if (zanst::app::VisitSession* visits = zanst::app::visitSessionOf(window)) {
        visits->openLog(parser.value(serviceDb));
    }
    window.show();
    if (parser.isSet(replay)) {
        zanst::app::startReplay(*window.trafficWindow(), parser.value(replay));
    }
    QApplication::exec();
    return 0;
}
