// Takes the user guide's pictures: the main window, offscreen, beside a running zanst-sim whose
// port is in ZANST_SIM_PORT; one PNG per tab, grabbed from the window itself, so they can be
// taken again after every visible change. scripts/screenshots.sh starts the simulator in each
// role and runs this once per scene.
//
// Usage: zanst-screenshots OUTDIR bank|bms|ring|service
// In the bms scene, ZANST_SCREENSHOT_RECORDING names a recording to play into the BMS.

#include "shell/main_window.hpp"
#include "shell/wiring.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/playback_group.hpp"
#include "tabs/sniffer_tab.hpp"
#include "tabs/visit_panel.hpp"
#include "ui/about_dialog.hpp"
#include "visits/visit_session.hpp"
#include "windows/history_window.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <iostream>

namespace {

using zanst::app::diag_form;

void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        pause(20);
    }
    return done();
}

class Camera {
  public:
    explicit Camera(QString folder) : folder_(std::move(folder)) {}
    bool shoot(QWidget* widget, const QString& name) {
        const QString path = QDir(folder_).filePath(name + QStringLiteral(".png"));
        if (!widget->grab().save(path)) {
            std::cerr << "zanst-screenshots: cannot write " << path.toStdString() << '\n';
            return false;
        }
        std::cout << path.toStdString() << '\n';
        return true;
    }

  private:
    QString folder_;
};

// Shows `page` and lets the bus fill it for `ms` before the picture is taken.
bool showTab(diag_form& window, QWidget* page, int ms) {
    window.tabs()->setCurrentWidget(page);
    pause(ms);
    return window.tabs()->currentWidget() == page;
}

bool openPort(diag_form& window, const QString& port) {
    QComboBox* combo = window.connectionTab()->comboBox1;
    window.refreshPortList();
    const int index = combo->findText(port);
    if (index < 0) {
        std::cerr << "zanst-screenshots: " << port.toStdString() << " is not in the port list\n";
        return false;
    }
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return waitFor([&] { return window.windowTitle().endsWith(QStringLiteral(" - ") + port); }, 5000);
}

} // namespace

int main(int argc, char** argv) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString port = qEnvironmentVariable("ZANST_SIM_PORT");
    const QStringList scenes{QStringLiteral("bank"), QStringLiteral("bms"), QStringLiteral("ring"),
                             QStringLiteral("service")};
    if (args.size() != 3 || !scenes.contains(args[2]) || port.isEmpty()) {
        std::cerr << "usage: ZANST_SIM_PORT=PORT zanst-screenshots OUTDIR bank|bms|ring|service\n";
        return 2;
    }
    const QString scene = args[2];
    // Recordings and metrics files of this run go to a folder that is removed at the end.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QDir().mkpath(args[1]);
    Camera camera(args[1]);

    const bool service = scene == QStringLiteral("service");
    diag_form window(service ? zanst::app::ServiceMode::On : zanst::app::ServiceMode::Off);
    // A service log of this run's own, so that the visits show as they do on site.
    zanst::app::VisitSession* visits = zanst::app::visitSessionOf(window);
    visits->openLog(QDir(data.path()).filePath(QStringLiteral("service-log.sqlite")));
    auto* visitPanel = window.connectionTab()->findChild<zanst::app::VisitPanel*>();
    visitPanel->site->setText(QStringLiteral("Harbour depot, hall 3"));
    visitPanel->technician->setText(QStringLiteral("Mira Okafor"));
    emit visitPanel->technician->editingFinished();
    window.show();
    if (!openPort(window, port)) {
        std::cerr << "zanst-screenshots: the port did not open\n";
        return 1;
    }
    bool ok = true;
    if (scene == QStringLiteral("bank")) {
        ok &= showTab(window, window.batteryTesterTab(), 4500) &&
              camera.shoot(&window, QStringLiteral("battery-tester"));
        visitPanel->notes->setPlainText(QStringLiteral("Fan of battery 2 noisy; terminals retightened."));
        visitPanel->takeSnapshot->click();
        ok &= showTab(window, window.connectionTab(), 300) &&
              camera.shoot(&window, QStringLiteral("connection"));
        // A second visit of the same bank, then the history of both.
        const auto disconnect = [&] {
            window.connectionTab()->cmdDisconnect->click();
            return waitFor([&] { return visits->currentVisit().isEmpty(); }, 5000);
        };
        ok &= disconnect() && openPort(window, port) && showTab(window, window.batteryTesterTab(), 4500);
        ok &= disconnect();
        visitPanel->history->click();
        auto* history = window.findChild<zanst::app::HistoryWindow*>();
        ok &= history != nullptr && waitFor([&] { return history->visitModel()->rowCount() == 2; }, 5000);
        if (history != nullptr) {
            history->list->selectionModel()->select(history->visitModel()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
            ok &= waitFor([&] { return history->trend().size() == 2; }, 5000);
            pause(300);
            ok &= camera.shoot(history, QStringLiteral("history"));
        }
        window.showAbout();
        auto* about = window.findChild<zanst::app::AboutDialog*>();
        pause(300);
        ok &= about != nullptr && camera.shoot(about, QStringLiteral("about"));
    } else if (scene == QStringLiteral("bms")) {
        ok &= showTab(window, window.bmsTesterTab(), 4500) &&
              camera.shoot(&window, QStringLiteral("bms-tester"));
        // The ring scene's capture played back at ten times its pace, with a drift on top.
        const QString recording = qEnvironmentVariable("ZANST_SCREENSHOT_RECORDING");
        if (!recording.isEmpty()) {
            zanst::app::PlaybackGroup* group = window.bmsTesterTab()->playbackGroup;
            emit group->recordingChosen(recording);
            ok &= waitFor([&] { return group->btnPlay->isEnabled(); }, 10000);
            emit group->editEntered(QStringLiteral("cell 5 drifts 20 mV a second lower from 00:00:03"));
            group->cbPace->setCurrentIndex(group->cbPace->findText(QStringLiteral("10x")));
            emit group->cbPace->activated(group->cbPace->currentIndex());
            group->CbLoop->click();
            group->btnPlay->click();
            pause(1300);
            ok &= camera.shoot(&window, QStringLiteral("bms-tester-playing"));
        }
    } else if (scene == QStringLiteral("ring")) {
        // Long enough for the capture the BMS tester's scene plays to hold some steps.
        ok &= showTab(window, window.snifferTab(), 9000) &&
              camera.shoot(&window, QStringLiteral("data-sniffer"));
    } else {
        ok &= showTab(window, window.batteryTesterTab(), 4500) &&
              camera.shoot(&window, QStringLiteral("battery-tester-service"));
        ok &= showTab(window, window.calibrationTab(), 4000) &&
              camera.shoot(&window, QStringLiteral("calibration"));
        ok &= showTab(window, window.actionsTab(), 300) && camera.shoot(&window, QStringLiteral("actions"));
        zanst::app::MetricsTab* metrics = window.metricsTab();
        ok &= showTab(window, metrics, 600);
        metrics->getAllMetrics->click();
        const bool fetched = waitFor(
            [&] {
                const int n = metrics->console->count();
                return n > 0 &&
                       metrics->console->item(n - 1)->text().startsWith(QStringLiteral("Metrics fetch done"));
            },
            20000);
        ok &= fetched && camera.shoot(&window, QStringLiteral("metrics"));
    }
    return ok ? 0 : 1;
}
