#pragma once
// The service log's one owner on a thread of its own, never the engine's: every write is posted
// to it, queries run there and bring their result back to the caller's thread, and the host's
// end waits for what was posted before it, closes the log and stops the thread.

#include "servicelog/owner.hpp"
#include "visits/visit_log.hpp"

#include "engine/post.hpp"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <utility>

namespace zanst::app {

class ServiceLogHost : public QObject {
    Q_OBJECT
  public:
    explicit ServiceLogHost(QObject* parent = nullptr);
    // Waits for the posted writes, ends an open visit as "tool quit", closes the log.
    ~ServiceLogHost() override;

    servicelog::ServiceLogOwner* owner() const { return owner_; }
    // The owner's writes, each posted to its thread.
    VisitLog& visitLog() { return poster_; }

    void open(const servicelog::Location& location);

    // Runs `work(owner)` on the owner's thread, then `done(result)` on the host's thread, unless
    // `context` is gone by then.
    template <typename Work, typename Done> void query(QObject* context, Work work, Done done) {
        QPointer<QObject> guard(context);
        post(owner_, [this, guard, work, done](servicelog::ServiceLogOwner& o) mutable {
            auto result = work(o);
            QMetaObject::invokeMethod(
                this,
                [guard, done, result]() mutable {
                    if (guard) {
                        done(std::move(result));
                    }
                },
                Qt::QueuedConnection);
        });
    }

    // Runs `fn(owner)` on the owner's thread and waits for it: for tests and benchmarks.
    template <typename Fn> void runBlocking(Fn&& fn) {
        servicelog::ServiceLogOwner* o = owner_;
        QMetaObject::invokeMethod(
            owner_, [o, &fn] { fn(*o); }, Qt::BlockingQueuedConnection);
    }

  private:
    class Poster : public VisitLog {
      public:
        explicit Poster(servicelog::ServiceLogOwner*& owner) : owner_(owner) {}
        void beginVisit(const servicelog::VisitStart& start) override;
        void setVisitDetails(const QString& site, const QString& technician) override;
        void setVisitNotes(const QString& notes) override;
        void takeSnapshot(const servicelog::SnapshotRecord& snapshot) override;
        void recordBalancers(const std::vector<servicelog::BalancerRecord>& balancers) override;
        void recordCalibration(const servicelog::CalibrationRecord& record) override;
        void recordParameters(const servicelog::ParametersRecord& record) override;
        void recordFirmware(const servicelog::FirmwareRecord& record) override;
        void recordMetrics(const servicelog::MetricsRecord& record) override;
        void recordRecording(const servicelog::RecordingRecord& record) override;
        void recordFault(const servicelog::FaultRecord& record) override;
        void endVisit(servicelog::EndReason reason) override;
        void setWritesEnabled(bool enabled) override;

      private:
        servicelog::ServiceLogOwner*& owner_;
    };

    QThread thread_;
    servicelog::ServiceLogOwner* owner_ = nullptr;
    Poster poster_{owner_};
};

} // namespace zanst::app
