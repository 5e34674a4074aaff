#include "engine/bus_engine.hpp"
#include "engine/post.hpp"
#include "files/app_data.hpp"
#include "shell/mode_pages.hpp"
#include "shell/wiring.hpp"
#include "tabs/bms_tester_tab.hpp"
#include "tabs/playback_group.hpp"

#include <QThread>

#include <memory>

namespace zanst::app {

void connectPlayback(BusEngine& engine, const ModePages& pages) {
    auto* tab = pages.get<BmsTesterTab>(bus::Mode::BmsTester);
    PlaybackGroup* group = tab->playbackGroup;
    PlaybackFeature* playback = engine.playback();
    group->setStartFolder(recordingsFolder());

    QObject::connect(playback, &PlaybackFeature::reported, tab, [tab, group](const PlaybackReport& r) {
        // Locked first: a field being edited is left (and taken) before the played values arrive.
        tab->setPlaybackLock(r.holdsBank());
        if (r.driven) {
            tab->followPlayback(*r.driven);
        }
        group->showReport(r);
    });
    QObject::connect(playback, &PlaybackFeature::recordingRefused, group, &PlaybackGroup::showRefused);
    QObject::connect(playback, &PlaybackFeature::editRefused, group, &PlaybackGroup::showEditRefused);

    // A recording is read off both threads that must stay responsive (an hour of 160 cells takes
    // about 100 ms, a large CSV much longer), then handed to the engine whole.
    QObject::connect(group, &PlaybackGroup::recordingChosen, group, [group, playback](const QString& path) {
        group->showReading(path);
        const QString folder = answersFolderFor(path, recordingsFolder());
        auto opening = std::make_shared<PlaybackOpening>();
        QThread* reader = QThread::create([opening, path, folder] { *opening = openPlayback(path, folder); });
        QObject::connect(reader, &QThread::finished, group, [group, playback, opening, path] {
            group->readingEnded();
            if (!opening->source) {
                group->showRefused(path, opening->error);
                return;
            }
            post(playback, [source = std::move(*opening->source)](PlaybackFeature& p) mutable {
                p.load(std::move(source));
            });
        });
        QObject::connect(reader, &QThread::finished, reader, &QObject::deleteLater);
        reader->start(QThread::LowPriority);
    });

    const auto call = [playback](auto fn) { return [playback, fn] { post(playback, fn); }; };
    QObject::connect(group, &PlaybackGroup::playRequested, group, call([](PlaybackFeature& p) { p.play(); }));
    QObject::connect(group, &PlaybackGroup::pauseRequested, group,
                     call([](PlaybackFeature& p) { p.pause(); }));
    QObject::connect(group, &PlaybackGroup::stopRequested, group, call([](PlaybackFeature& p) { p.stop(); }));
    QObject::connect(group, &PlaybackGroup::paceChosen, group, [playback](playback::Pace pace) {
        post(playback, [pace](PlaybackFeature& p) { p.setPace(pace); });
    });
    QObject::connect(group, &PlaybackGroup::loopChosen, group,
                     [playback](bool on) { post(playback, [on](PlaybackFeature& p) { p.setLoop(on); }); });
    QObject::connect(group, &PlaybackGroup::stepRequested, group,
                     [playback](int by) { post(playback, [by](PlaybackFeature& p) { p.step(by); }); });
    QObject::connect(group, &PlaybackGroup::seekRequested, group,
                     [playback](qint64 ms) { post(playback, [ms](PlaybackFeature& p) { p.seek(ms); }); });
    QObject::connect(group, &PlaybackGroup::editEntered, group, [playback](const QString& text) {
        post(playback, [text](PlaybackFeature& p) { p.addEdit(text); });
    });
    QObject::connect(group, &PlaybackGroup::editRemoveRequested, group, [playback](int index) {
        post(playback, [index](PlaybackFeature& p) { p.removeEdit(index); });
    });
}

} // namespace zanst::app
