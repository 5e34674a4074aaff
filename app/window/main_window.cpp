#include "window/main_window.hpp"

#include "tabs/battery_tester_tab.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/sniffer_tab.hpp"
#include "window/port_list.hpp"
#include "window/tab_overlay.hpp"

#include <QComboBox>
#include <QEvent>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

// The pictures live in a static library; make sure its resources are registered.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace zanst::app {

namespace {
constexpr int kOverlayOffsetX = 3;
}

QString diag_form::buildDate() {
    // __DATE__ pads single-digit days with a space ("Dec  8 2026").
    return QString::fromLatin1(__DATE__).simplified();
}

diag_form::diag_form(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    initResources();
    setObjectName(QStringLiteral("diag_form"));
    setFixedSize(kClientWidth, kClientHeight);

    tabControl1 = new QTabWidget(this);
    tabControl1->setObjectName(QStringLiteral("tabControl1"));
    tabControl1->setAccessibleName(QStringLiteral("Operating mode"));
    tabConnection = new ConnectionTab;
    tabActions = new QWidget;
    tabCalibration = new QWidget;
    tabBMS = new BatteryTesterTab(globals_, host_.engine());
    tabBattery = new BmsTesterTab;
    tabSniffer = new SnifferTab(globals_, host_.engine());
    tabMetrics = new QWidget;
    tabControl1->addTab(tabConnection, QStringLiteral("Connection"));
    tabControl1->addTab(tabActions, QStringLiteral("Actions"));
    tabControl1->addTab(tabCalibration, QStringLiteral("Calibration"));
    tabControl1->addTab(tabBMS, QStringLiteral("Battery tester"));
    tabControl1->addTab(tabBattery, QStringLiteral("BMS tester"));
    tabControl1->addTab(tabSniffer, QStringLiteral("Data Sniffer"));
    tabControl1->addTab(tabMetrics, QStringLiteral("Metrics"));
    tabControl1->setCurrentIndex(0);
    currentPage_ = tabControl1->currentWidget();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabControl1);

    textCaption_ = QStringLiteral("Zanthe Service Tool (ZANST) (") + buildDate() + QStringLiteral(")");
    setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));

    BusEngine* bus = host_.engine();
    tabBattery->attach(bus->emulator());
    connect(bus, &BusEngine::portStatusChanged, this, &diag_form::onPortStatus);
    connect(tabConnection, &ConnectionTab::portChosen, this, &diag_form::onPortChosen);
    connect(tabConnection, &ConnectionTab::disconnectRequested, this, &diag_form::onDisconnect);
    connect(tabControl1, &QTabWidget::currentChanged, this, &diag_form::onTabChanged);

    // The mode of the initial tab: nothing is sent (no port yet); the poll timer is armed.
    QMetaObject::invokeMethod(bus, "selectTab", Qt::QueuedConnection, Q_ARG(int, static_cast<int>(bus::Tab::Connection)));
}

diag_form::~diag_form() = default;

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

    auto* overlay = new TabOverlay(this);
    overlay->move(tabControl1->pos() + QPoint(kOverlayOffsetX, 0));
    overlay->raise();
    globals_.overlay = overlay;

    tabBattery->onShown();
    // Recorders: rows selected, number files ready (data monitor first), timers running.
    tabSniffer->onShown();
    tabBMS->onShown();

    hideRiskyTools();
    // Without a window manager the window may never be activated; list the ports now as well.
    refreshPortList();
}

void diag_form::hideRiskyTools() {
    tabBMS->hideRiskyTools();
    tabSniffer->hideRiskyTools();
    const QSignalBlocker blocker(tabControl1);
    for (QWidget* page : {tabActions, tabCalibration, tabMetrics}) {
        const int index = tabControl1->indexOf(page);
        if (index >= 0) {
            tabControl1->removeTab(index);
        }
        page->setParent(this); // removed tabs stay built, owned by the window
        page->hide();
    }
    currentPage_ = tabControl1->currentWidget();
    tabBattery->hideRiskyTools();
}

void diag_form::onTabChanged(int index) {
    QWidget* page = tabControl1->widget(index);
    if (page == currentPage_) {
        return;
    }
    if (globals_.anyRecording()) {
        // A recording file is open: the mode must not change.
        const QSignalBlocker blocker(tabControl1);
        tabControl1->setCurrentWidget(currentPage_);
        return;
    }
    currentPage_ = page;
    if (page == tabBattery) {
        tabBattery->onSelected();
    }
    QMetaObject::invokeMethod(host_.engine(), "selectTab", Qt::QueuedConnection,
                              Q_ARG(int, static_cast<int>(tabIdOf(page))));
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
    QMetaObject::invokeMethod(host_.engine(), "selectPort", Qt::QueuedConnection, Q_ARG(QString, name));
}

void diag_form::clearPortSelection() {
    lockPortSelection = true;
    tabConnection->comboBox1->setCurrentIndex(-1);
    lockPortSelection = false;
}

void diag_form::onDisconnect() {
    clearPortSelection();
    QMetaObject::invokeMethod(host_.engine(), "disconnectPort", Qt::QueuedConnection);
}

void diag_form::onPortStatus(BusEngine::PortStatus status, const QString& name, const QString&) {
    switch (status) {
    case BusEngine::PortStatus::Idle:
        setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));
        break;
    case BusEngine::PortStatus::Opening:
        setWindowTitle(textCaption_);
        break;
    case BusEngine::PortStatus::Failed:
        setWindowTitle(textCaption_ + QStringLiteral(" - Unable to open ") + name);
        break;
    case BusEngine::PortStatus::Open:
        setWindowTitle(textCaption_ + QStringLiteral(" - ") + name);
        break;
    case BusEngine::PortStatus::Lost:
        clearPortSelection();
        setWindowTitle(textCaption_ + QStringLiteral(" - Connection lost: ") + name);
        break;
    }
}

} // namespace zanst::app
