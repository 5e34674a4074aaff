#include "engine/bank_feed.hpp"
#include "engine/bus_engine.hpp"
#include "shell/mode_pages.hpp"
#include "shell/window_frame.hpp"
#include "shell/wiring.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "tabs/calibration_tab.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/gain_group.hpp"
#include "tabs/metrics_tab.hpp"
#include "tabs/updater_group.hpp"
#include "tabs/visit_panel.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/recorder_panel.hpp"
#include "visits/visit_session.hpp"
#include "windows/history_window.hpp"
#include "windows/report_dialog.hpp"

#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>

#include <memory>

namespace zanst::app {

namespace {

using servicelog::LogState;
using servicelog::ServiceLogOwner;

// No export of this program comes near it; a larger file is refused before it is read.
constexpr qint64 kMaxImportBytes = 512LL * 1024 * 1024;
constexpr int kReportChoices = 50;

// The window is closing: the visit ends as "tool quit" while the bank is still known.
class CloseWatch : public QObject {
  public:
    CloseWatch(VisitSession* session, VisitPanel* panel, QObject* parent)
        : QObject(parent), session_(session), panel_(panel) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            panel_->commitNotes();
            session_->recorder().quit();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    VisitSession* session_;
    VisitPanel* panel_;
};

QString visitText(const VisitRecorder& r) {
    if (!r.visitOpen()) {
        return QStringLiteral("No visit: one begins when a port is opened");
    }
    QString text =
        QStringLiteral("Visit since %1 on %2: %3 snapshot%4, %5 action%6")
            .arg(r.visitStartedAt().toLocalTime().toString(QStringLiteral("hh:mm:ss")), r.visitPort())
            .arg(r.snapshotsTaken())
            .arg(r.snapshotsTaken() == 1 ? QString() : QStringLiteral("s"))
            .arg(r.actionsRecorded())
            .arg(r.actionsRecorded() == 1 ? QString() : QStringLiteral("s"));
    if (!r.canTakeSnapshot()) {
        text += QStringLiteral("; no balancer found yet");
    }
    return text;
}

// The status bar's text: the log's file by its name only (its folder is in the tool tip).
QString shortStatus(const VisitSession& session, const QString& message) {
    const auto& where = session.location();
    if (!where || where->backend != servicelog::Backend::Sqlite || where->path.isEmpty()) {
        return message;
    }
    QString text = message;
    return text.replace(where->displayName(), QFileInfo(where->path).fileName());
}

struct Views {
    ReportDialog* report = nullptr;
    HistoryWindow* history = nullptr;
};

struct LoadedVisit {
    std::optional<servicelog::VisitRecord> visit;
    std::optional<servicelog::VisitRecord> previous;
    QString error;
};

void loadReportVisit(VisitSession* session, ReportDialog* dialog, const QString& id) {
    session->host().query(
        dialog,
        [id](ServiceLogOwner& o) {
            LoadedVisit loaded;
            loaded.visit = o.log().visit(id);
            if (!loaded.visit) {
                loaded.error = o.log().lastError().message;
                return loaded;
            }
            const std::optional<QString> previous = o.log().previousVisit(id);
            if (previous && !previous->isEmpty()) {
                loaded.previous = o.log().visit(*previous);
            }
            return loaded;
        },
        [dialog](LoadedVisit loaded) {
            if (loaded.visit) {
                dialog->showVisit(*loaded.visit, loaded.previous);
            } else {
                dialog->showProblem(loaded.error);
            }
        });
}

// Lists the recent visits in the dialog with `chosen` selected; empty: the current or last one.
void openReport(VisitSession* session, ReportDialog* dialog, const QString& chosen) {
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    const auto list = [session, dialog](const QString& id) {
        if (id.isEmpty()) {
            dialog->showChoices({}, {});
            dialog->showProblem(
                session->logState() == LogState::Ready || session->logState() == LogState::Paused
                    ? QStringLiteral("The service log holds no visit yet")
                    : QStringLiteral("The service log is not available: ") + session->logMessage());
            return;
        }
        session->host().query(
            dialog,
            [](ServiceLogOwner& o) {
                servicelog::VisitFilter recent;
                recent.limit = kReportChoices;
                return o.log().visits(recent).value_or(std::vector<servicelog::VisitSummary>{});
            },
            [dialog, id](std::vector<servicelog::VisitSummary> visits) { dialog->showChoices(visits, id); });
    };
    if (chosen.isEmpty()) {
        session->findReportVisit(dialog, list);
    } else {
        list(chosen);
    }
}

ReportDialog* makeReportDialog(VisitSession* session, VisitPanel* panel, QWidget* window) {
    auto* dialog = new ReportDialog(window);
    QObject::connect(dialog, &ReportDialog::visitChosen, dialog,
                     [session, dialog](const QString& id) { loadReportVisit(session, dialog, id); });
    QObject::connect(dialog, &ReportDialog::notesEdited, dialog,
                     [session, panel](const QString& id, const QString& notes) {
                         if (id == session->currentVisit()) {
                             // The panel's notes are the open visit's: both show the same text.
                             const QSignalBlocker quiet(panel->notes);
                             panel->notes->setPlainText(notes);
                             session->recorder().setNotes(notes);
                         } else {
                             post(session->host().owner(),
                                  [id, notes](ServiceLogOwner& o) { o.setNotesOf(id, notes); });
                         }
                     });
    return dialog;
}

void exportVisits(VisitSession* session, HistoryWindow* history, const QStringList& ids,
                  const QString& path) {
    session->host().query(
        history,
        [ids](ServiceLogOwner& o) {
            const std::optional<QByteArray> bytes = o.log().exportVisits(ids);
            return std::make_pair(bytes.value_or(QByteArray()),
                                  bytes ? QString() : o.log().lastError().message);
        },
        [history, path, count = ids.size()](std::pair<QByteArray, QString> result) {
            if (!result.second.isEmpty()) {
                history->showMessage(result.second, true);
                return;
            }
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(result.first) != result.first.size() ||
                !file.commit()) {
                history->showMessage(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()),
                                     true);
                return;
            }
            history->showMessage(QStringLiteral("%1 visit%2 exported to %3")
                                     .arg(count)
                                     .arg(count == 1 ? QString() : QStringLiteral("s"), path),
                                 false);
        });
}

void importVisits(VisitSession* session, HistoryWindow* history, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        history->showMessage(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()), true);
        return;
    }
    if (file.size() > kMaxImportBytes) {
        history->showMessage(QStringLiteral("%1 is too large for an export of visits (%2 MiB)")
                                 .arg(path)
                                 .arg(file.size() / (1024 * 1024)),
                             true);
        return;
    }
    const QByteArray bytes = file.readAll();
    session->host().query(
        history, [bytes](ServiceLogOwner& o) { return o.importVisits(bytes); },
        [history, path](servicelog::ImportResult r) {
            if (!r.ok) {
                history->showMessage(QStringLiteral("Nothing imported from %1: %2").arg(path, r.error), true);
                return;
            }
            history->showMessage(
                QStringLiteral("Imported from %1: %2 new, %3 merged (%4 snapshots, %5 actions "
                               "added), %6 already here")
                    .arg(path)
                    .arg(r.visitsAdded)
                    .arg(r.visitsMerged)
                    .arg(r.snapshotsAdded)
                    .arg(r.actionsAdded)
                    .arg(r.visitsUnchanged),
                false);
            history->refresh();
        });
}

HistoryWindow* makeHistory(VisitSession* session, const std::shared_ptr<Views>& views, VisitPanel* panel,
                           QWidget* window) {
    auto* history = new HistoryWindow(window);
    ServiceLogHost* host = &session->host();
    QObject::connect(
        history, &HistoryWindow::searchRequested, history,
        [host, history](const servicelog::VisitFilter& filter) {
            host->query(
                history,
                [filter](ServiceLogOwner& o) {
                    auto list = o.log().visits(filter);
                    return std::make_pair(list, list ? QString() : o.log().lastError().message);
                },
                [history](std::pair<std::optional<std::vector<servicelog::VisitSummary>>, QString> r) {
                    if (r.first) {
                        history->showVisits(*r.first);
                    } else {
                        history->showVisits({});
                        history->showMessage(r.second, true);
                    }
                });
        });
    QObject::connect(
        history, &HistoryWindow::trendRequested, history, [host, history](const QString& serial) {
            host->query(
                history, [serial](ServiceLogOwner& o) { return o.log().batteryTrend(serial); },
                [history, serial](std::optional<std::vector<servicelog::BatteryTrendPoint>> points) {
                    history->showTrend(serial, points.value_or(std::vector<servicelog::BatteryTrendPoint>{}));
                });
        });
    QObject::connect(history, &HistoryWindow::compareRequested, history,
                     [host, history](const QString& a, const QString& b) {
                         host->query(
                             history,
                             [a, b](ServiceLogOwner& o) {
                                 auto c = o.log().compareVisits(a, b);
                                 return std::make_pair(c, c ? QString() : o.log().lastError().message);
                             },
                             [history](std::pair<std::optional<servicelog::VisitComparison>, QString> r) {
                                 if (r.first) {
                                     history->showComparison(*r.first);
                                 } else {
                                     history->showMessage(r.second, true);
                                 }
                             });
                     });
    QObject::connect(history, &HistoryWindow::exportRequested, history,
                     [session, history](const QStringList& ids, const QString& path) {
                         exportVisits(session, history, ids, path);
                     });
    QObject::connect(history, &HistoryWindow::importRequested, history,
                     [session, history](const QString& path) { importVisits(session, history, path); });
    QObject::connect(history, &HistoryWindow::reportRequested, history,
                     [session, views, panel, window](const QString& id) {
                         if (views->report == nullptr) {
                             views->report = makeReportDialog(session, panel, window);
                         }
                         openReport(session, views->report, id);
                     });
    return history;
}

} // namespace

VisitSession* visitSessionOf(QWidget& window) {
    return window.findChild<VisitSession*>(QStringLiteral("visitSession"), Qt::FindDirectChildrenOnly);
}

void connectVisits(BusEngine& engine, const ModePages& pages, BankFeed& feed, WindowFrame& frame,
                   BusStatusBar& bar) {
    QWidget* window = frame.frameWidget();
    auto* session = new VisitSession(window);
    VisitRecorder* rec = &session->recorder();
    rec->setToolVersion(QStringLiteral(ZANST_VERSION));
    auto* panel = new VisitPanel;
    pages.get<ConnectionTab>(bus::Mode::Connection)->addSection(panel);
    auto* field = bar.addField(QStringLiteral("Service log"));
    field->setObjectName(QStringLiteral("serviceLogField"));
    field->hide(); // until the log is opened

    // What the engine reports, on the window's thread.
    PortControl* ports = engine.ports();
    QObject::connect(ports, &PortControl::portStatusChanged, rec,
                     [rec, panel](PortStatus status, const QString& name, const QString& detail) {
                         panel->commitNotes(); // notes typed so far belong to the visit that may end now
                         rec->portStatus(status, name, detail);
                     });
    QObject::connect(ports, &PortControl::replayStarted, rec, [rec] { rec->setReplaying(true); });
    QObject::connect(ports, &PortControl::replayFinished, rec, [rec] { rec->setReplaying(false); });
    QObject::connect(ports, &PortControl::replayFailed, rec, [rec] { rec->setReplaying(false); });
    QObject::connect(&feed, &BankFeed::snapshotTaken, rec, &VisitRecorder::bankSnapshot);
    QObject::connect(&feed, &BankFeed::bankValuesChanged, rec, &VisitRecorder::bankValues);
    QObject::connect(engine.tester(), &TesterFeature::ticked, rec, &VisitRecorder::tick);
    QObject::connect(&engine, &BusEngine::healthReported, rec, &VisitRecorder::health);
    QObject::connect(engine.service(), &ServiceFeature::updaterReported, rec, &VisitRecorder::updaterReport);
    QObject::connect(engine.emulator(), &EmulatorFeature::reported, rec, &VisitRecorder::responderReport);
    // Connected after the Metrics tab's own slot, so the tab has stored the records in its file.
    auto* metricsTab = pages.get<MetricsTab>(bus::Mode::Metrics);
    QObject::connect(engine.metrics(), &MetricsFeature::reported, rec,
                     [rec, metricsTab](const metrics::FetchReport& report) {
                         rec->metricsFetched(report, metricsTab->archive().activeFile());
                     });

    // What the technician asks the bus for.
    auto* calibration = pages.get<CalibrationTab>(bus::Mode::Calibration);
    auto* tester = pages.get<BatteryTesterTab>(bus::Mode::BatteryTester);
    QObject::connect(calibration, &CalibrationTab::calibrateRequested, rec,
                     &VisitRecorder::calibrationRequested);
    QObject::connect(calibration, &CalibrationTab::saveCalibrationRequested, rec,
                     &VisitRecorder::saveCalibrationRequested);
    QObject::connect(calibration, &CalibrationTab::parametersRequested, rec,
                     &VisitRecorder::parametersRequested);
    QObject::connect(tester->gainGroup, &GainGroup::adjustRequested, rec, &VisitRecorder::gainRequested);
    UpdaterGroup* updater = tester->updaterGroup;
    QObject::connect(updater, &UpdaterGroup::firmwareRead, rec,
                     [rec, updater](const service::HexReadResult& r) {
                         rec->firmwareRead(r, updater->forceUpdate->isChecked());
                     });
    for (const auto& [mode, kind] : {std::pair{bus::Mode::BatteryTester, servicelog::RecordingKind::Tester},
                                     std::pair{bus::Mode::Sniffer, servicelog::RecordingKind::Sniffer}}) {
        if (RecorderPanel* recorder = pages.page(mode)->recorder()) {
            QObject::connect(recorder, &RecorderPanel::recordingStarted, rec,
                             [rec, kind](const QString& path, const QString& csv) {
                                 rec->recordingStarted(kind, path);
                                 rec->recordingStarted(kind, csv);
                             });
        }
    }

    // The panel on "Connection".
    QObject::connect(panel, &VisitPanel::detailsChanged, rec, &VisitRecorder::setDetails);
    QObject::connect(panel, &VisitPanel::notesChanged, rec, &VisitRecorder::setNotes);
    QObject::connect(panel, &VisitPanel::snapshotRequested, rec, [rec] { rec->takeSnapshot(); });
    QObject::connect(session, &VisitSession::rememberedRead, panel, &VisitPanel::setRemembered);
    QObject::connect(rec, &VisitRecorder::visitChanged, panel, [rec, panel] {
        if (!rec->visitOpen()) {
            panel->clearNotes(); // the next visit starts with its own
        }
        panel->showVisit(visitText(*rec), rec->canTakeSnapshot());
    });
    auto* snapshotKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), window);
    QObject::connect(snapshotKey, &QShortcut::activated, rec, [rec] { rec->takeSnapshot(); });

    // The log's state: one line in the status bar, the whole of it on the panel.
    QObject::connect(session, &VisitSession::logStatusChanged, field,
                     [session, field, panel](LogState state, const QString& message) {
                         const bool broken = state == LogState::Unavailable;
                         field->setText(shortStatus(*session, message));
                         field->setToolTip(message);
                         field->setAccessibleDescription(message);
                         field->setStyleSheet(broken ? QStringLiteral("QLabel { color: red; }") : QString());
                         field->setVisible(state != LogState::Closed);
                         panel->showLogProblem(broken ? message : QString());
                     });

    // The report and the history, made when first asked for.
    auto views = std::make_shared<Views>();
    QObject::connect(panel, &VisitPanel::reportRequested, panel, [session, views, panel, window] {
        if (views->report == nullptr) {
            views->report = makeReportDialog(session, panel, window);
        }
        openReport(session, views->report, {});
    });
    QObject::connect(panel, &VisitPanel::historyRequested, panel, [session, views, panel, window] {
        if (views->history == nullptr) {
            views->history = makeHistory(session, views, panel, window);
        }
        views->history->open();
    });

    window->installEventFilter(new CloseWatch(session, panel, window));
}

} // namespace zanst::app
