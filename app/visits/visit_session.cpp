#include "visits/visit_session.hpp"

#include "files/app_data.hpp"

namespace zanst::app {

using servicelog::LogState;
using servicelog::ServiceLogOwner;

VisitSession::VisitSession(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("visitSession"));
    ServiceLogOwner* owner = host_.owner();
    connect(owner, &ServiceLogOwner::statusChanged, this, &VisitSession::onStatus);
    connect(owner, &ServiceLogOwner::visitBegan, this, [this](const QString& id) {
        current_ = id;
        last_ = id;
        emit visitBegan(id);
    });
    connect(owner, &ServiceLogOwner::visitEnded, this, [this](const QString& id) {
        if (current_ == id) {
            current_.clear();
        }
        emit visitEnded(id);
    });
    connect(owner, &ServiceLogOwner::snapshotWritten, this, &VisitSession::snapshotWritten);
}

VisitSession::~VisitSession() {
    recorder_.quit();
}

void VisitSession::openLog(const QString& option) {
    const servicelog::LocationResult where = servicelog::resolveLocation(option, appDataFolder());
    if (!where.location) {
        location_.reset();
        onStatus(
            LogState::Unavailable,
            QStringLiteral("Service log: %1; the tool goes on without the service log").arg(where.error));
        return;
    }
    openLog(*where.location);
}

void VisitSession::openLog(const servicelog::Location& location) {
    location_ = location;
    host_.open(location);
}

void VisitSession::onStatus(LogState state, const QString& message) {
    state_ = state;
    message_ = message;
    emit logStatusChanged(state, message);
    if (state == LogState::Ready && !rememberedAsked_) {
        rememberedAsked_ = true;
        host_.query(
            this, [](ServiceLogOwner& o) { return o.log().remembered(); },
            [this](std::optional<servicelog::RememberedDetails> details) {
                if (details) {
                    emit rememberedRead(details->site, details->technician);
                }
            });
    }
}

void VisitSession::findReportVisit(QObject* context, std::function<void(QString)> done) {
    if (!last_.isEmpty()) {
        done(last_);
        return;
    }
    host_.query(
        context,
        [](ServiceLogOwner& o) {
            servicelog::VisitFilter newest;
            newest.limit = 1;
            const auto list = o.log().visits(newest);
            return list && !list->empty() ? list->front().id : QString();
        },
        std::move(done));
}

} // namespace zanst::app
