#include "shell/main_window.hpp"

#include "engine/post.hpp"
#include "shell/metrics_wiring.hpp"
#include "shell/port_list.hpp"
#include "shell/service_wiring.hpp"
#include "shell/traffic_wiring.hpp"
#include "tabs/actions_tab.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "ui/about_dialog.hpp"
#include "ui/bank_summary_view.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/plot_window.hpp"
#include "ui/recorder_panel.hpp"
#include "ui/tab_overlay.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

// The pictures live in a static library; make sure its resources are registered.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace zanst::app {

namespace {
constexpr int kOverlayOffsetX = 3;
}

QString diag_form::buildDate() {
    // __DATE__ pads single-digit days with a space ("Dec  8 2026").
    return QString::fromLatin1(__DATE__).simplified();
}

diag_form::diag_form(ServiceMode serviceMode, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      serviceMode_(serviceMode) {
    initResources();
    setObjectName(QStringLiteral("diag_form"));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(QIcon(QStringLiteral(":/Zanst_icon")));

    tabControl1 = new QTabWidget(this);
    tabControl1->setObjectName(QStringLiteral("tabControl1"));
    tabControl1->setAccessibleName(QStringLiteral("Operating mode"));
    tabConnection = new ConnectionTab;
    tabActions = new ActionsTab;
    tabCalibration = new CalibrationTab;
    tabBMS = new BatteryTesterTab(recordingLock_);
    tabBattery = new BmsTesterTab;
    tabSniffer = new SnifferTab(recordingLock_);
    tabMetrics = new MetricsTab;
    tabControl1->addTab(tabConnection, QStringLiteral("Connection"));
    tabControl1->addTab(tabActions, QStringLiteral("Actions"));
    tabControl1->addTab(tabCalibration, QStringLiteral("Calibration"));
    tabControl1->addTab(tabBMS, QStringLiteral("Battery tester"));
    tabControl1->addTab(tabBattery, QStringLiteral("BMS tester"));
    tabControl1->addTab(tabSniffer, QStringLiteral("Data Sniffer"));
    tabControl1->addTab(tabMetrics, QStringLiteral("Metrics"));
    tabControl1->setCurrentIndex(0);
    currentPage_ = tabControl1->currentWidget();

    // Beside the tab strip, not tabs: a tab would be a mode of its own and stop the polling. The
    // corner holds the views' openers side by side (the traffic view adds its link here).
    auto* corner = new QWidget(tabControl1);
    corner->setObjectName(QStringLiteral("tabStripCorner"));
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    cornerLayout->setSpacing(8);
    plots_ = new PlotWindow(this);
    plots_->setSelectionSource(tabBMS->model());
    plotsButton_ = new QPushButton(QStringLiteral("Plots..."), corner);
    plotsButton_->setObjectName(QStringLiteral("plotsButton"));
    plotsButton_->setToolTip(QStringLiteral("Cell voltages, temperatures and the bank over time"));
    cornerLayout->addWidget(plotsButton_);
    tabControl1->setCornerWidget(corner, Qt::TopRightCorner);
    connect(plotsButton_, &QPushButton::clicked, this, [this] {
        plots_->show();
        plots_->raise();
        plots_->activateWindow();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabControl1);
    statusBar_ = new BusStatusBar(this);
    layout->addWidget(statusBar_);
    clock_.start();

    textCaption_ = QStringLiteral("Zanthe Service Tool (ZANST) (") + buildDate() + QStringLiteral(")");
    setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));

    connectEngine();
    connect(tabConnection, &ConnectionTab::portChosen, this, &diag_form::onPortChosen);
    connect(tabConnection, &ConnectionTab::disconnectRequested, this, &diag_form::onDisconnect);
    connect(tabConnection, &ConnectionTab::aboutRequested, this, &diag_form::showAbout);
    connect(tabControl1, &QTabWidget::currentChanged, this, &diag_form::onTabChanged);
    connect(&recordingLock_, &RecordingLock::lockChanged, this, &diag_form::onRecordingLock);
    tabControl1->installEventFilter(this);
    tabControl1->tabBar()->installEventFilter(this);
    installShortcuts();
    describeTabs();

    // The mode of the initial tab: nothing is sent (no port yet); the poll timer is armed.
    post(engine(), [](BusEngine& e) { e.selectTab(bus::Tab::Connection); });
}

diag_form::~diag_form() = default;

void diag_form::connectEngine() {
    BusEngine* bus = engine();
    connect(bus, &BusEngine::portStatusChanged, this, &diag_form::onPortStatus);
    connect(bus, &BusEngine::healthReported, this, &diag_form::onHealth);
    connectMetrics(bus, tabMetrics);

    TesterFeature* tester = bus->tester();
    SnifferFeature* sniffer = bus->sniffer();
    EmulatorFeature* emulator = bus->emulator();
    // Both grids show the same rows, whether a poll tick or a sniffed burst made them.
    connect(tester, &TesterFeature::snapshotTaken, tabBMS, &BatteryTesterTab::showSnapshot);
    connect(tester, &TesterFeature::snapshotTaken, tabSniffer, &SnifferTab::showSnapshot);
    connect(sniffer, &SnifferFeature::snapshotTaken, tabBMS, &BatteryTesterTab::showSnapshot);
    connect(sniffer, &SnifferFeature::snapshotTaken, tabSniffer, &SnifferTab::showSnapshot);
    connect(tester, &TesterFeature::bankValuesChanged, tabBMS, &BatteryTesterTab::showBankValues);
    connect(sniffer, &SnifferFeature::infoChanged, tabSniffer, &SnifferTab::showField);
    connect(sniffer, &SnifferFeature::infoCleared, tabSniffer, &SnifferTab::clearFields);
    // Summaries and plots take the numbers of whichever feature runs, as the grids do.
    for (BankSummaryView* summary : {tabBMS->summary(), tabSniffer->summary()}) {
        connect(tester, &TesterFeature::bankValuesChanged, summary, &BankSummaryView::showBankValues);
        connect(sniffer, &SnifferFeature::bankValuesChanged, summary, &BankSummaryView::showBankValues);
    }
    connect(tester, &TesterFeature::snapshotTaken, plots_, &PlotWindow::addSnapshot);
    connect(sniffer, &SnifferFeature::snapshotTaken, plots_, &PlotWindow::addSnapshot);
    connect(tester, &TesterFeature::bankValuesChanged, plots_, &PlotWindow::addBankValues);
    connect(sniffer, &SnifferFeature::bankValuesChanged, plots_, &PlotWindow::addBankValues);

    connect(tabBMS, &BatteryTesterTab::setpointCorrectionChanged, this, [tester](int correction) {
        post(tester, [correction](TesterFeature& t) { t.setSetpointCorrection(correction); });
    });
    connect(tabBMS, &BatteryTesterTab::systemVoltageChanged, this,
            [tester](int volts) { post(tester, [volts](TesterFeature& t) { t.setSystemVoltage(volts); }); });

    connect(emulator, &EmulatorFeature::bmsIdentityShown, tabBattery, &BmsTesterTab::showBmsIdentity);
    connect(emulator, &EmulatorFeature::bmsMeasurementShown, tabBattery, &BmsTesterTab::showBmsMeasurement);
    connect(emulator, &EmulatorFeature::batteriesInParallelRead, tabBattery,
            &BmsTesterTab::batteriesInParallelRead);
    connect(emulator, &EmulatorFeature::cellTextsRefreshed, tabBattery, &BmsTesterTab::cellTextsRefreshed);
    connect(emulator, &EmulatorFeature::firmwareVersionDefaulted, tabBattery,
            &BmsTesterTab::firmwareVersionDefaulted);
    connect(emulator, &EmulatorFeature::ownAnswersReturning, tabBattery,
            &BmsTesterTab::showOwnAnswersReturning);
    connect(tabBattery, &BmsTesterTab::settingsPublished, this,
            [emulator](const emulator::BankSettings& settings) {
                post(emulator, [settings](EmulatorFeature& e) { e.setBankSettings(settings); });
            });
    connect(tabBattery, &BmsTesterTab::presetApplied, this, [emulator](int listIndex, bool announce) {
        post(emulator,
             [listIndex, announce](EmulatorFeature& e) { e.applyBatteryPreset(listIndex, announce); });
    });
    connectServiceTools(*this);
    traffic_ = connectTraffic(*this);
}

void diag_form::installShortcuts() {
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    for (int i = 0; i < 9; ++i) {
        auto* select = new QShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i)), this);
        // A veto during a recording is left to the tab-change handler, as for a click.
        connect(select, &QShortcut::activated, this, [this, i] {
            if (i < tabControl1->count()) {
                tabControl1->setCurrentIndex(i);
            }
        });
    }
    // Next and previous tab from any control: a focused drop-down would otherwise take Ctrl+Tab.
    const auto step = [this](int by) {
        const int count = tabControl1->count();
        tabControl1->setCurrentIndex((tabControl1->currentIndex() + by + count) % count);
    };
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(1); });
    }
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_PageUp)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(-1); });
    }
    auto* record = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(record, &QShortcut::activated, this, &diag_form::toggleRecordingOnCurrentTab);
}

void diag_form::describeTabs() {
    const auto purpose = [this](const QWidget* page) -> QString {
        switch (tabIdOf(page)) {
        case bus::Tab::Connection:
            return QStringLiteral("Choose, open and close the serial port");
        case bus::Tab::Actions:
            return QStringLiteral("Service commands to every balancer");
        case bus::Tab::Calibration:
            return QStringLiteral("Balancers in test mode: calibrate their readings, set battery parameters");
        case bus::Tab::BatteryTester:
            return QStringLiteral("The tool is bus master: finds the balancers and polls them every second");
        case bus::Tab::BmsTester:
            return QStringLiteral("The tool stands in for a battery bank and answers a real BMS");
        case bus::Tab::Sniffer:
            return QStringLiteral("The tool sits in the ring, repeats every byte and decodes the traffic");
        case bus::Tab::Metrics:
            return QStringLiteral("The batteries' lifetime metrics");
        }
        return {};
    };
    for (int i = 0; i < tabControl1->count(); ++i) {
        QString tip = purpose(tabControl1->widget(i));
        if (i < 9) {
            tip += QStringLiteral(" (Ctrl+%1)").arg(i + 1);
        }
        tabControl1->setTabToolTip(i, tip);
    }
}

void diag_form::toggleRecordingOnCurrentTab() {
    RecorderPanel* panel = currentPage_ == tabBMS       ? tabBMS->recorder()
                           : currentPage_ == tabSniffer ? tabSniffer->recorder()
                                                        : nullptr;
    if (panel != nullptr && panel->startButton->isEnabled()) {
        panel->startButton->click();
    }
}

void diag_form::showAbout() {
    auto* about = new AboutDialog(QStringLiteral(ZANST_VERSION), buildDate(), this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

bus::Tab diag_form::tabIdOf(const QWidget* page) const {
    if (page == tabActions) {
        return bus::Tab::Actions;
    }
    if (page == tabCalibration) {
        return bus::Tab::Calibration;
    }
    if (page == tabBMS) {
        return bus::Tab::BatteryTester;
    }
    if (page == tabBattery) {
        return bus::Tab::BmsTester;
    }
    if (page == tabSniffer) {
        return bus::Tab::Sniffer;
    }
    if (page == tabMetrics) {
        return bus::Tab::Metrics;
    }
    return bus::Tab::Connection;
}

bool diag_form::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        refreshPortList();
    }
    return QWidget::event(event);
}

void diag_form::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        onShown();
    }
}

void diag_form::onShown() {
    setWindowTitle(QStringLiteral("Zanthe Tester"));

    overlay_ = new TabOverlay(this);
    overlay_->move(tabControl1->pos() + QPoint(kOverlayOffsetX, 0));
    overlay_->raise();

    tabBattery->onShown();
    // Recorders: rows selected, number files ready (data monitor first), timers running.
    tabSniffer->onShown();
    tabBMS->onShown();

    applyServiceMode(serviceMode_, *this);
    describeTabs();
    currentPage_ = tabControl1->currentWidget();
    // Without a window manager the window may never be activated; list the ports now as well.
    refreshPortList();
}

bool diag_form::eventFilter(QObject* watched, QEvent* event) {
    if (!recordingLock_.locked() || (watched != tabControl1 && watched != tabControl1->tabBar())) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        return watched == tabControl1->tabBar();
    case QEvent::KeyPress: {
        // Ctrl+Tab, Ctrl+PgUp/PgDn on the strip, arrows and Home/End on a focused tab bar.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool ctrl = key->modifiers().testFlag(Qt::ControlModifier);
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return ctrl;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
            return watched == tabControl1->tabBar();
        default:
            return false;
        }
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void diag_form::onRecordingLock(bool locked) {
    if (overlay_ != nullptr) {
        // Over the whole header strip, however tall the style draws it.
        const QTabBar* bar = tabControl1->tabBar();
        overlay_->resize(std::max(TabOverlay::kWidth, bar->width()), bar->height());
        overlay_->setVisible(locked);
        overlay_->raise();
    }
    post(engine(), [locked](BusEngine& e) { e.setTabChangesVetoed(locked); });
}

void diag_form::onTabChanged(int index) {
    QWidget* page = tabControl1->widget(index);
    if (page == currentPage_) {
        return;
    }
    if (recordingLock_.locked()) {
        // A recording file is open: the mode must not change.
        const QSignalBlocker blocker(tabControl1);
        tabControl1->setCurrentWidget(currentPage_);
        return;
    }
    currentPage_ = page;
    if (page == tabBattery) {
        tabBattery->onSelected();
    }
    plots_->setSelectionSource(page == tabSniffer ? tabSniffer->model() : tabBMS->model());
    const bus::Tab tab = tabIdOf(page);
    post(engine(), [tab](BusEngine& e) { e.selectTab(tab); });
}

void diag_form::refreshPortList() {
    QComboBox* combo = tabConnection->comboBox1;
    const QString shown = combo->currentText();
    lockPortSelection = true;
    combo->clear();
    combo->addItems(currentPortList());
    combo->setCurrentIndex(combo->findText(shown, Qt::MatchFixedString | Qt::MatchCaseSensitive));
    lockPortSelection = false;
}

void diag_form::onPortChosen(const QString& name) {
    if (lockPortSelection) {
        return;
    }
    setWindowTitle(textCaption_);
    post(engine(), [name](BusEngine& e) { e.selectPort(name); });
}

void diag_form::clearPortSelection() {
    lockPortSelection = true;
    tabConnection->comboBox1->setCurrentIndex(-1);
    lockPortSelection = false;
}

void diag_form::onDisconnect() {
    clearPortSelection();
    post(engine(), [](BusEngine& e) { e.disconnectPort(); });
}

void diag_form::onPortStatus(BusEngine::PortStatus status, const QString& name, const QString&) {
    switch (status) {
    case BusEngine::PortStatus::Idle:
        setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));
        statusBar_->setPortText(QStringLiteral("Idle"));
        break;
    case BusEngine::PortStatus::Opening:
        setWindowTitle(textCaption_);
        statusBar_->setPortText(QStringLiteral("Opening ") + name);
        break;
    case BusEngine::PortStatus::Failed:
        setWindowTitle(textCaption_ + QStringLiteral(" - Unable to open ") + name);
        statusBar_->setPortText(QStringLiteral("Unable to open ") + name);
        break;
    case BusEngine::PortStatus::Open:
        setWindowTitle(textCaption_ + QStringLiteral(" - ") + name);
        statusBar_->setPortText(QStringLiteral("Port ") + name);
        break;
    case BusEngine::PortStatus::Lost:
        clearPortSelection();
        setWindowTitle(textCaption_ + QStringLiteral(" - Connection lost: ") + name);
        statusBar_->setPortText(QStringLiteral("Connection lost: ") + name);
        break;
    }
}

void diag_form::onHealth(const HealthReport& report) {
    const qint64 now = clock_.elapsed();
    const auto mode = static_cast<std::size_t>(report.mode);
    if (mode < lastValidAtMs_.size() && report.msSinceValid >= 0) {
        lastValidAtMs_[mode] = now - report.msSinceValid;
    }
    // A mode's values turn old when its watchdog runs out, and stay old once the mode is left.
    const auto staleness = [&](bus::Tab tab, qint64* age) {
        const std::optional<qint64> at = lastValidAtMs_[static_cast<std::size_t>(tab)];
        *age = at ? now - *at : 0;
        return at && *age > watchdogMs(tab);
    };
    qint64 age = 0;
    const bool testerStale = staleness(bus::Tab::BatteryTester, &age);
    tabBMS->setStale(testerStale, ageText(age));
    const bool snifferStale = staleness(bus::Tab::Sniffer, &age);
    tabSniffer->setStale(snifferStale, ageText(age));
    const bool emulatorStale = staleness(bus::Tab::BmsTester, &age);
    tabBattery->setStale(emulatorStale, ageText(age));
    qint64 modeAge = 0;
    const bool modeStale =
        report.msSinceValid >= 0 && mode < lastValidAtMs_.size() && staleness(report.mode, &modeAge);
    statusBar_->showHealth(report, modeStale);
}

} // namespace zanst::app
