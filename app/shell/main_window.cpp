#include "shell/main_window.hpp"

#include "engine/bank_feed.hpp"
#include "engine/post.hpp"
#include "shell/port_list.hpp"
#include "shell/wiring.hpp"
#include "tabs/connection_tab.hpp"
#include "ui/about_dialog.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/recorder_panel.hpp"
#include "ui/tab_overlay.hpp"
#include "ui/tab_page.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
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
      serviceMode_(serviceMode), pages_(recordingLock_), lastValidAtMs_(modePageTable().size()) {
    initResources();
    setObjectName(QStringLiteral("diag_form"));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(QIcon(QStringLiteral(":/Zanst_icon")));

    tabControl1 = new QTabWidget(this);
    tabControl1->setObjectName(QStringLiteral("tabControl1"));
    tabControl1->setAccessibleName(QStringLiteral("Operating mode"));
    for (const ModePageRow& row : modePageTable()) {
        tabControl1->addTab(pages_.page(row.mode), row.caption);
    }
    tabControl1->setCurrentIndex(0);
    currentPage_ = pages_.pages().front();

    // The views beside the strip have their openers in its free corner, side by side.
    auto* corner = new QWidget(tabControl1);
    corner->setObjectName(QStringLiteral("tabStripCorner"));
    openers_ = new QHBoxLayout(corner);
    openers_->setContentsMargins(0, 0, 0, 0);
    openers_->setSpacing(8);
    tabControl1->setCornerWidget(corner, Qt::TopRightCorner);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabControl1);
    statusBar_ = new BusStatusBar(this);
    statusBar_->showHealth(HealthReport{}, modePageRow(bus::Mode::Connection).statusCaption, false);
    layout->addWidget(statusBar_);
    clock_.start();

    textCaption_ = QStringLiteral("Zanthe Service Tool (ZANST) (") + buildDate() + QStringLiteral(")");
    setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));

    BusEngine* bus = engine();
    feed_ = new BankFeed(*bus, this);
    connectBank(*bus, pages_, *feed_);
    connectEmulator(*bus, pages_);
    connectPlayback(*bus, pages_);
    connectServiceTools(*bus, pages_);
    connectMetrics(*bus, pages_);
    traffic_ = connectTraffic(*bus, *this);
    plots_ = connectPlots(pages_, *feed_, *this);
    connectVisits(*bus, pages_, *feed_, *this, *statusBar_);
    connectAdapter(*bus, pages_, *statusBar_, [this] { refreshPortList(); });
    connect(bus->ports(), &PortControl::portStatusChanged, this, &diag_form::onPortStatus);
    connect(bus, &BusEngine::healthReported, this, &diag_form::onHealth);

    ConnectionTab* connection = connectionTab();
    connect(connection, &ConnectionTab::portChosen, this, &diag_form::onPortChosen);
    connect(connection, &ConnectionTab::disconnectRequested, this, &diag_form::onDisconnect);
    connect(connection, &ConnectionTab::aboutRequested, this, &diag_form::showAbout);
    connect(tabControl1, &QTabWidget::currentChanged, this, &diag_form::onTabChanged);
    connect(&recordingLock_, &RecordingLock::lockChanged, this, &diag_form::onRecordingLock);
    recordingLock_.guardStrip(tabControl1);
    installShortcuts();
    describeTabs();

    // The mode of the initial tab: nothing is sent (no port yet); the poll timer is armed.
    post(bus->modes(), [](ModeSwitch& m) { m.selectMode(bus::Mode::Connection); });
}

diag_form::~diag_form() = default;

QPushButton* diag_form::plotsButton() const {
    return tabControl1->cornerWidget(Qt::TopRightCorner)
        ->findChild<QPushButton*>(QStringLiteral("plotsButton"));
}

void diag_form::addViewOpener(QWidget* opener) {
    openers_->addWidget(opener);
}

void diag_form::showConnection(const QString& text) {
    setWindowTitle(textCaption_ + QStringLiteral(" - ") + text);
    statusBar_->setPortText(text);
}

bool diag_form::selectMode(bus::Mode mode) {
    QWidget* page = pages_.page(mode);
    if (recordingLock_.locked() || tabControl1->indexOf(page) < 0 || tabControl1->currentWidget() == page) {
        return false;
    }
    tabControl1->setCurrentWidget(page);
    return true;
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
    for (int i = 0; i < tabControl1->count(); ++i) {
        const std::optional<bus::Mode> mode = pages_.modeOf(tabControl1->widget(i));
        QString tip = mode ? modePageRow(*mode).purpose : QString();
        if (i < 9) {
            tip += QStringLiteral(" (Ctrl+%1)").arg(i + 1);
        }
        tabControl1->setTabToolTip(i, tip);
    }
}

void diag_form::toggleRecordingOnCurrentTab() {
    RecorderPanel* panel = currentPage_->recorder();
    if (panel != nullptr && panel->startButton->isEnabled()) {
        panel->startButton->click();
    }
}

void diag_form::showAbout() {
    auto* about = new AboutDialog(QStringLiteral(ZANST_VERSION), buildDate(), this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
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

    // Against the strip's order: the data monitor's recorder prepares its number file before the
    // battery tester's.
    const std::vector<TabPage*>& pages = pages_.pages();
    std::for_each(pages.rbegin(), pages.rend(), [](TabPage* page) { page->shown(); });

    applyServiceMode(serviceMode_, pages_, *tabControl1, *this);
    describeTabs();
    currentPage_ = static_cast<TabPage*>(tabControl1->currentWidget());
    // Without a window manager the window may never be activated; list the ports now as well.
    refreshPortList();
}

void diag_form::onRecordingLock(bool locked) {
    if (overlay_ != nullptr) {
        // Over the whole header strip, however tall the style draws it.
        const QTabBar* bar = tabControl1->tabBar();
        overlay_->resize(std::max(TabOverlay::kWidth, bar->width()), bar->height());
        overlay_->setVisible(locked);
        overlay_->raise();
    }
    post(engine()->modes(), [locked](ModeSwitch& m) { m.setVetoed(locked); });
}

void diag_form::onTabChanged(int index) {
    auto* page = static_cast<TabPage*>(tabControl1->widget(index));
    if (page == currentPage_) {
        return;
    }
    if (recordingLock_.locked()) {
        // A recording file is open: the mode must not change.
        const QSignalBlocker blocker(tabControl1);
        tabControl1->setCurrentWidget(currentPage_);
        return;
    }
    currentPage_->setCurrent(false);
    currentPage_ = page;
    page->setCurrent(true);
    const bus::Mode mode = pages_.modeOf(page).value_or(bus::Mode::Connection);
    post(engine()->modes(), [mode](ModeSwitch& m) { m.selectMode(mode); });
}

void diag_form::refreshPortList() {
    QComboBox* combo = connectionTab()->comboBox1;
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
    post(engine()->ports(), [name](PortControl& p) { p.selectPort(name); });
}

void diag_form::clearPortSelection() {
    lockPortSelection = true;
    connectionTab()->comboBox1->setCurrentIndex(-1);
    lockPortSelection = false;
}

void diag_form::onDisconnect() {
    clearPortSelection();
    post(engine()->ports(), [](PortControl& p) { p.disconnectPort(); });
}

void diag_form::onPortStatus(PortStatus status, const QString& name, const QString&) {
    switch (status) {
    case PortStatus::Idle:
        setWindowTitle(textCaption_ + QStringLiteral(" - Idle"));
        statusBar_->setPortText(QStringLiteral("Idle"));
        break;
    case PortStatus::Opening:
        setWindowTitle(textCaption_);
        statusBar_->setPortText(QStringLiteral("Opening ") + name);
        break;
    case PortStatus::Failed:
        setWindowTitle(textCaption_ + QStringLiteral(" - Unable to open ") + name);
        statusBar_->setPortText(QStringLiteral("Unable to open ") + name);
        break;
    case PortStatus::Open:
        setWindowTitle(textCaption_ + QStringLiteral(" - ") + name);
        statusBar_->setPortText(QStringLiteral("Port ") + name);
        break;
    case PortStatus::Lost:
        clearPortSelection();
        showConnection(QStringLiteral("Connection lost: ") + name);
        break;
    }
}

void diag_form::onHealth(const HealthReport& report) {
    const qint64 now = clock_.elapsed();
    const std::vector<ModePageRow>& table = modePageTable();
    bool modeStale = false;
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::optional<qint64>& at = lastValidAtMs_[i];
        if (table[i].mode == report.mode && report.msSinceValid >= 0) {
            at = now - report.msSinceValid;
        }
        // A mode's values turn old when its watchdog runs out, and stay old once the mode is left.
        const qint64 age = at ? now - *at : 0;
        const bool stale = at && age > table[i].watchdogMs;
        pages_.page(table[i].mode)->setStale(stale, ageText(age));
        if (table[i].mode == report.mode) {
            modeStale = report.msSinceValid >= 0 && stale;
        }
    }
    statusBar_->showHealth(report, modePageRow(report.mode).statusCaption, modeStale);
}

} // namespace zanst::app
