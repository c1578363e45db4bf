// Soak of the signed-in window under Xvfb with software OpenGL: counts the
// runs in which the program died, not how fast it was. Each run starts an X
// server of its own and the program (the same start-up, window and
// controllers as pelorin, driven from inside) on a profile of 2,000
// conversations against the local relay, and does one of:
//
//  - scroll:  the sidebar's list scrolled from top to end in about 3,100
//             frames, a step a frame;
//  - burst:   1,000 texts sent in the first conversation, 50 a frame, until
//             the relay has taken them all;
//  - loss:    300 texts sent, then the X server killed under the program: it
//             must end by itself within 10 s, with a non-zero status and no
//             crash, and every send it showed must be in its store or its
//             send journal afterwards.
//
// With --popup, from the start of the run, a second each in turn: the
// composer's error tip open beside the logo (which plays on), the image
// viewer open over the whole window (the logo waits under it), neither. The
// logo's frames are counted: all, with a popup open, on its own surface; a
// run with --popup in which the logo never played with a popup open counts
// as failed. A run is a death when the program ended by a signal, when the
// kernel's log (dmesg) names one of its threads (segfault, general
// protection, trap), when its log tells of a corrupted heap, or when it
// hung; a scroll or burst that ends with a non-zero status is counted apart
// (failed), and so is a loss that the program did not end through its quit
// path.
//
//   ./build/bench/app/window_soak --scrolls 50 --bursts 50 [--popup] [--parallel 2]
//   ./build/bench/app/window_soak --losses 10
//
// Needs Xvfb (xvfb package); nothing else runs on the X servers it starts.
#include "bench/app/saved_profile.h"
#include "bench/loopback_endpoints.h"
#include "app/app_controller.h"
#include "app/application.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "chat/outbox.h"
#include "chat/send_journal.h"
#include "support/fake_relay.h"
#include "support/own_x_server.h"
#include "qml/Velmor/src/window_patch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>

#include "window_probe.h"

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

using velmor::bench::findItem;

constexpr int kConversations = 2000;
constexpr int kScrollFrames = 3100;
constexpr int kBurst = 1000;
constexpr int kLossBurst = 300;
constexpr int kSendsPerFrame = 50;
// A program that says nothing this long hangs (the start-up under load
// included).
constexpr qint64 kSilentAtMostMs = 120000;

void say(const QString &line)
{
    std::printf("soak: %s\n", qPrintable(line));
    std::fflush(stdout);
}

// ---- the program's side --------------------------------------------------

// The popups the soak opens.
QPointer<QObject> g_viewer;
QPointer<QObject> g_tip;

// From the start, a second each in turn: the composer's error tip shown
// beside the logo (a popup that leaves the logo playing on its surface); the
// tip closed and the image viewer opened over the whole window (the logo
// waits under it, off its surface); the viewer closed.
void togglePopups(QObject *loader)
{
    auto *timer = new QTimer(loader);
    auto step = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, loader, [loader, step] {
        QObject *home = loader->property("item").value<QObject *>();
        QVariant viewer;
        if (!home || !QMetaObject::invokeMethod(home, "popup", Q_RETURN_ARG(QVariant, viewer),
                                                Q_ARG(QVariant, QStringLiteral("imagePreview"))))
            return;
        g_viewer = viewer.value<QObject *>();
        QObject *composer = home->property("composer").value<QObject *>();
        if (!g_tip && composer)
            g_tip = composer->findChild<QObject *>(QStringLiteral("errorTip"));
        switch ((*step)++ % 3) {
        case 0:
            if (composer)
                composer->setProperty("errorText", QStringLiteral("soak %1").arg(*step));
            break;
        case 1:
            if (g_tip)
                QMetaObject::invokeMethod(g_tip, "close");
            if (g_viewer)
                QMetaObject::invokeMethod(g_viewer, "openAt",
                                          Q_ARG(QVariant, QUrl::fromLocalFile(qEnvironmentVariable("PELORIN_SOAK_PICTURE")).toString()));
            break;
        default:
            if (g_viewer)
                QMetaObject::invokeMethod(g_viewer, "close");
        }
    });
    timer->start(1000);
    QMetaObject::invokeMethod(timer, "timeout", Qt::QueuedConnection);
}

// The logo's frames over the run: all of them, those while a popup was
// open, those drawn on its own surface. Said as the program ends.
void countLogoFrames(QQuickWindow *window)
{
    auto *patch = qobject_cast<velmor::views::WindowPatch *>(
        findItem(window->contentItem(), QStringLiteral("sideLogoPatch")));
    if (!patch) {
        say(QStringLiteral("no logo"));
        return;
    }
    auto counts = std::make_shared<std::array<int, 3>>();
    QObject::connect(patch, &velmor::views::WindowPatch::frameChanged, patch, [patch, counts] {
        ++(*counts)[0];
        (*counts)[1] += (g_viewer && g_viewer->property("opened").toBool())
            || (g_tip && g_tip->property("opened").toBool());
        (*counts)[2] += patch->onSurface();
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, patch, [counts] {
        say(QStringLiteral("logo %1 %2 %3").arg((*counts)[0]).arg((*counts)[1]).arg((*counts)[2]));
    });
}

// The sidebar's list from its top to its end in about kScrollFrames frames,
// a step a frame: each step is what is left over the frames left (a list
// estimates its height from the rows made so far, so the end moves as it
// goes).
void scrollSidebar(QQuickWindow *window)
{
    QQuickItem *list = findItem(window->contentItem(), QStringLiteral("convList"));
    if (!list) {
        say(QStringLiteral("no conversation list"));
        QCoreApplication::exit(3);
        return;
    }
    auto frames = std::make_shared<int>(0);
    QObject::connect(window, &QQuickWindow::frameSwapped, list, [=] {
        if (*frames < 0)
            return;
        const double y = list->property("contentY").toDouble();
        const double end = list->property("originY").toDouble() + list->property("contentHeight").toDouble()
            - list->height();
        if ((list->property("atYEnd").toBool() && *frames > 0) || *frames > 2 * kScrollFrames) {
            say(QStringLiteral("scrolled %1 frames to %2").arg(*frames).arg(qRound(y)));
            *frames = -1;
            QCoreApplication::exit(0);
            return;
        }
        if (*frames % 250 == 0)
            say(QStringLiteral("scrolled %1").arg(*frames));
        const int left = std::max(1, kScrollFrames - (*frames)++);
        list->setProperty("contentY", std::min(end, y + std::max(1.0, (end - y) / left)));
    }, Qt::QueuedConnection);
    window->update();
}

// `count` texts into the open conversation, `kSendsPerFrame` a frame. Says
// how many the program has shown kept (store or journal) as they come;
// `allKept` runs once every one is.
void sendBurst(QQuickWindow *window, ChatController *chat, int count, const std::function<void()> &allKept)
{
    chat->openConversation(qEnvironmentVariable("PELORIN_SOAK_PEER"));
    auto kept = std::make_shared<QSet<QString>>();
    auto called = std::make_shared<int>(0);
    velmor::chat::Outbox &outbox = chat->messaging().outbox;
    QObject::connect(&outbox, &velmor::chat::Outbox::textKept, window, [=](const QString &, const QString &text, bool ok) {
        if (!ok || !text.startsWith(QLatin1String("burst ")) || kept->contains(text))
            return;
        kept->insert(text);
        const int n = int(kept->size());
        if (n % 25 == 0 || n == count)
            say(QStringLiteral("kept %1").arg(n));
        if (n == count)
            allKept();
    });
    QTimer::singleShot(300, window, [=] {
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [=] {
            for (int i = 0; i < kSendsPerFrame && *called < count; ++i, ++*called)
                chat->sendText(QStringLiteral("burst %1 of a few words").arg(*called));
            if (*called < count)
                window->update();
        }, Qt::QueuedConnection);
        window->update();
    });
}

int runProgram(const QByteArray &mode)
{
    velmor::app::StartOptions options;
    options.afterLoad = [mode](QQmlApplicationEngine &engine, AppController &app) {
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        auto *chat = qobject_cast<ChatController *>(engine.rootContext()->contextProperty(QStringLiteral("Chat")).value<QObject *>());
        auto *loader = window ? window->findChild<QObject *>(QStringLiteral("viewLoader")) : nullptr;
        if (!window || !chat || !loader) {
            QCoreApplication::exit(2);
            return;
        }
        // Signed in, the home view built and drawn: the run starts once the
        // window has settled (the logo on its own surface, where it has one).
        auto ready = std::make_shared<QMetaObject::Connection>();
        *ready = QObject::connect(window, &QQuickWindow::frameSwapped, window, [=, &app] {
            if (!app.loggedIn() || loader->property("status").toInt() != 1)
                return;
            QObject::disconnect(*ready);
            QTimer::singleShot(3000, window, [=] {
                // The logo plays only in the active window.
                say(QStringLiteral("ready active %1").arg(window->isActive()));
                if (!window->isActive())
                    window->requestActivate();
                countLogoFrames(window);
                if (qEnvironmentVariableIntValue("PELORIN_SOAK_POPUP")) {
                    // A conversation open, for the composer's tip.
                    chat->openConversation(qEnvironmentVariable("PELORIN_SOAK_PEER"));
                    togglePopups(loader);
                }
                if (mode == "scroll") {
                    scrollSidebar(window);
                } else if (mode == "burst") {
                    velmor::chat::Outbox &outbox = chat->messaging().outbox;
                    auto sent = std::make_shared<int>(0);
                    // Slow under load is not stalled: sends that stop
                    // finishing for a minute end the run (failed).
                    auto *stalled = new QTimer(window);
                    stalled->setSingleShot(true);
                    QObject::connect(stalled, &QTimer::timeout, window, [sent] {
                        say(QStringLiteral("sends stalled at %1").arg(*sent));
                        QCoreApplication::exit(4);
                    });
                    stalled->start(60000);
                    QObject::connect(&outbox, &velmor::chat::Outbox::sendFinished, window, [sent, stalled](const QString &, int status) {
                        if (status != int(velmor::chat::MessageStatus::Sent))
                            return;
                        stalled->start();
                        if (++*sent % 50 == 0 || *sent == kBurst)
                            say(QStringLiteral("sent %1").arg(*sent));
                        if (*sent == kBurst)
                            QCoreApplication::exit(0);
                    });
                    sendBurst(window, chat, kBurst, [] {});
                } else if (mode == "loss") {
                    sendBurst(window, chat, kLossBurst, [] { say(QStringLiteral("loss-ready")); });
                }
            });
        });
    };
    int argc = 1;
    static char name[] = "pelorin";
    char *argv[] = {name, nullptr};
    return velmor::app::runApplication(argc, argv, options);
}

// ---- the counting side ---------------------------------------------------

struct Fixture
{
    velmor::fakes::FakeRelay relay{velmor::fakes::FakeRelay::Options{true}};
    QTemporaryDir root;
    QString templateProfile;
    QString owner;
    QString peer;
    QString picture;
    bool ok = false;

    Fixture()
    {
        if (relay.start() == 0 || !root.isValid())
            return;
        templateProfile = root.filePath(QStringLiteral("profile"));
        QDir().mkpath(templateProfile);
        if (!saveNewIdentityIn(templateProfile, kConversations, &owner, &peer))
            return;
        relay.markSeen(peer);
        QImage photo(1600, 1200, QImage::Format_RGB32);
        photo.fill(QColor(120, 140, 180));
        picture = root.filePath(QStringLiteral("photo.jpg"));
        ok = !peer.isEmpty() && photo.save(picture, "JPEG", 85);
    }
};

// The texts of the burst that the profile keeps (store or journal).
int keptTexts(const Fixture &fixture, const QString &profile)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(profile));
    QSet<QString> texts;
    ChatStore &store = ChatStore::instance();
    if (store.open(fixture.owner)) {
        const QString journal = velmor::chat::SendJournal::pathBeside(store.databasePath());
        for (const auto &record : store.messages(store.conversationIdFor(fixture.peer)))
            if (record.is_outgoing && record.text.startsWith(QLatin1String("burst ")))
                texts.insert(record.text);
        store.close();
        for (const auto &send : velmor::chat::SendJournal::read(journal))
            if (send.row.text.startsWith(QLatin1String("burst ")))
                texts.insert(send.row.text);
    }
    qunsetenv("XDG_DATA_HOME");
    return int(texts.size());
}

QStringList kernelLog()
{
    QProcess dmesg;
    dmesg.start(QStringLiteral("dmesg"), {});
    if (!dmesg.waitForFinished(10000) || dmesg.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(dmesg.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// One program under an X server of its own.
class Run : public QObject
{
public:
    enum Outcome { Ok, Crashed, Failed, Hung, NoServer };

    Run(const Fixture &fixture, const QString &mode, bool popup, int index)
        : m_fixture(fixture), m_mode(mode), m_popup(popup), m_index(index) {}

    Outcome outcome = Ok;
    QString detail;
    // The logo's frames: all, with a popup open, on its own surface.
    std::array<int, 3> logo{};

    void start()
    {
        m_profile = m_dir.filePath(QStringLiteral("profile"));
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), m_fixture.templateProfile, m_profile});
        if (!m_server.start(QSize(1280, 1024))) {
            outcome = NoServer;
            return;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_server.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_profile);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_profile + QStringLiteral("/config"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("runtime")));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), m_fixture.relay.baseUrl());
        env.insert(QStringLiteral("PELORIN_GROUP_CENTER_URL"), velmor::bench::deadLoopbackUrl());
        env.insert(QStringLiteral("PELORIN_SOAK_PEER"), m_fixture.peer);
        env.insert(QStringLiteral("PELORIN_SOAK_PICTURE"), m_fixture.picture);
        env.insert(QStringLiteral("PELORIN_SOAK_POPUP"), m_popup ? QStringLiteral("1") : QStringLiteral("0"));
        m_program.setProcessEnvironment(env);
        QObject::connect(&m_program, &QProcess::readyReadStandardOutput, this, &Run::readOutput);
        m_program.start(QCoreApplication::applicationFilePath(), {QStringLiteral("program"), m_mode});
        m_program.waitForStarted();
        m_clock.start();
    }

    // Until the program has ended; false while it runs.
    bool poll()
    {
        if (outcome == NoServer)
            return true;
        if (m_program.state() != QProcess::NotRunning) {
            noteThreads();
            if (m_serverKilledAt >= 0 && m_clock.elapsed() - m_serverKilledAt > 10000) {
                hang(QStringLiteral("still running 10 s after the display went away"));
            } else if (m_clock.elapsed() - m_saidAt > kSilentAtMostMs) {
                // Slow under load is not hung: a scroll says how far it got,
                // a burst how many it kept and sent.
                hang(QStringLiteral("said nothing for %1 s").arg(kSilentAtMostMs / 1000));
            }
            return false;
        }
        if (m_done)
            return true;
        m_done = true;
        readOutput();
        m_log += m_program.readAllStandardError();
        m_server.stop();
        judge();
        return true;
    }

    QSet<qint64> threads() const { return m_threads; }
    void kernelSaw(const QString &line)
    {
        outcome = Crashed;
        detail = QStringLiteral("kernel: ") + line.trimmed();
    }

private:
    void hang(const QString &why)
    {
        outcome = Hung;
        detail = why;
        m_program.kill();
    }

    void readOutput()
    {
        m_output += m_program.readAllStandardOutput();
        int at;
        while ((at = m_output.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(m_output.left(at)).trimmed();
            m_output.remove(0, at + 1);
            if (!line.startsWith(QLatin1String("soak: ")))
                continue;
            const QString what = line.mid(6);
            m_saidAt = m_clock.elapsed();
            if (what.startsWith(QLatin1String("kept ")))
                m_shownKept = what.mid(5).toInt();
            if (what.startsWith(QLatin1String("logo "))) {
                const QStringList counts = what.mid(5).split(QLatin1Char(' '));
                for (int i = 0; i < 3; ++i)
                    logo[i] = counts.value(i).toInt();
                continue;
            }
            if (what == QLatin1String("loss-ready") && m_mode == QLatin1String("loss") && m_serverKilledAt < 0) {
                // The display goes away while the program draws and sends.
                m_server.kill(SIGKILL);
                m_serverKilledAt = m_clock.elapsed();
            }
            m_said = what;
        }
    }

    void noteThreads()
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_program.processId());
        for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            m_threads.insert(tid.toLongLong());
    }

    void judge()
    {
        if (outcome != Ok)
            return;
        static const QRegularExpression heap(QStringLiteral("corrupted|double free|free\\(\\): |malloc\\(\\): |munmap_chunk"));
        const QString log = QString::fromLocal8Bit(m_log);
        const QRegularExpressionMatch broken = heap.match(log);
        if (m_program.exitStatus() == QProcess::CrashExit || broken.hasMatch()) {
            outcome = Crashed;
            detail = broken.hasMatch() ? QStringLiteral("heap: ") + broken.captured(0)
                                       : QStringLiteral("signal (%1)").arg(m_program.error());
            return;
        }
        const int code = m_program.exitCode();
        if (m_mode == QLatin1String("loss")) {
            const int kept = keptTexts(m_fixture, m_profile);
            detail = QStringLiteral("exit %1 after %2 ms, shown kept %3, kept after %4%5")
                         .arg(code).arg(m_clock.elapsed() - m_serverKilledAt).arg(m_shownKept).arg(kept)
                         .arg(log.contains(QLatin1String("the program ends without it"))
                                  ? QStringLiteral(" (ended by the bound, the quit path ") +
                                        (log.contains(QLatin1String("could not begin")) ? QStringLiteral("not begun)")
                                                                                        : QStringLiteral("not ended)"))
                                  : QString());
            // Every shown send kept, and the quit path taken.
            if (m_serverKilledAt < 0 || code == 0 || kept < m_shownKept
                || log.contains(QLatin1String("the program ends without it")))
                outcome = Failed;
            return;
        }
        detail = QStringLiteral("exit %1 after %2 s: %3; logo %4 frames, %5 with a popup open, %6 on its surface")
                     .arg(code).arg(m_clock.elapsed() / 1000).arg(m_said).arg(logo[0]).arg(logo[1]).arg(logo[2]);
        // With --popup the logo must have played while a popup was open.
        if (code != 0 || (m_popup && logo[1] == 0))
            outcome = Failed;
    }

    const Fixture &m_fixture;
    QString m_mode;
    bool m_popup;
    int m_index;
    QTemporaryDir m_dir;
    QString m_profile;
    velmor::fakes::OwnXServer m_server;
    QProcess m_program;
    QElapsedTimer m_clock;
    qint64 m_saidAt = 0;
    qint64 m_serverKilledAt = -1;
    QByteArray m_output;
    QByteArray m_log;
    QString m_said;
    int m_shownKept = 0;
    QSet<qint64> m_threads;
    bool m_done = false;
};

// Runs `count` programs of `mode`, `parallel` at a time; the number of runs
// that did not end as they should.
int soak(const Fixture &fixture, const QString &mode, int count, bool popup, int parallel)
{
    static const QRegularExpression fault(QStringLiteral("\\[(\\d+)\\]:? (segfault|general protection|trap)"));
    int counts[5] = {};
    std::array<qint64, 3> logo{};
    QList<std::shared_ptr<Run>> running;
    int started = 0;
    int finished = 0;
    while (finished < count) {
        while (int(running.size()) < parallel && started < count) {
            const int seen = int(kernelLog().size());
            auto run = std::make_shared<Run>(fixture, mode, popup, started++);
            run->setProperty("kernelFrom", seen);
            run->start();
            running.append(run);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        for (auto it = running.begin(); it != running.end();) {
            Run &run = **it;
            if (!run.poll()) {
                ++it;
                continue;
            }
            const QStringList log = kernelLog();
            for (int i = run.property("kernelFrom").toInt(); i < log.size(); ++i) {
                const QRegularExpressionMatch m = fault.match(log.at(i));
                if (m.hasMatch() && run.threads().contains(m.captured(1).toLongLong()))
                    run.kernelSaw(log.at(i));
            }
            static const char *names[] = {"ok", "CRASHED", "failed", "HUNG", "no X server"};
            say(QStringLiteral("%1%2 %3: %4 %5").arg(mode, popup ? QStringLiteral("+popup") : QString())
                    .arg(++finished).arg(QLatin1String(names[run.outcome]), run.detail));
            ++counts[run.outcome];
            for (int i = 0; i < 3; ++i)
                logo[i] += run.logo[i];
            it = running.erase(it);
        }
    }
    say(QStringLiteral("== %1%2: %3 runs, %4 ok, %5 crashed, %6 failed, %7 hung, %8 without an X server")
            .arg(mode, popup ? QStringLiteral("+popup") : QString()).arg(count).arg(counts[0]).arg(counts[1])
            .arg(counts[2]).arg(counts[3]).arg(counts[4]));
    if (mode != QLatin1String("loss"))
        say(QStringLiteral("   logo frames: %1, %2 with a popup open, %3 on its surface").arg(logo[0]).arg(logo[1]).arg(logo[2]));
    return count - counts[0];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "program") == 0)
        return runProgram(argv[2]);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({{QStringLiteral("scrolls"), QStringLiteral("Long sidebar scrolls."), QStringLiteral("n"), QStringLiteral("0")},
                       {QStringLiteral("bursts"), QStringLiteral("Bursts of 1,000 sends."), QStringLiteral("n"), QStringLiteral("0")},
                       {QStringLiteral("losses"), QStringLiteral("Displays killed under the program."), QStringLiteral("n"), QStringLiteral("0")},
                       {QStringLiteral("popup"), QStringLiteral("The image viewer opens and closes every 2 s.")},
                       {QStringLiteral("parallel"), QStringLiteral("Programs at a time."), QStringLiteral("k"), QStringLiteral("1")}});
    parser.process(app);
    Fixture fixture;
    if (!fixture.ok) {
        say(QStringLiteral("the local relay or the profile could not be set up"));
        return 2;
    }
    const bool popup = parser.isSet(QStringLiteral("popup"));
    const int parallel = std::max(1, parser.value(QStringLiteral("parallel")).toInt());
    int bad = 0;
    bad += soak(fixture, QStringLiteral("scroll"), parser.value(QStringLiteral("scrolls")).toInt(), popup, parallel);
    bad += soak(fixture, QStringLiteral("burst"), parser.value(QStringLiteral("bursts")).toInt(), popup, parallel);
    bad += soak(fixture, QStringLiteral("loss"), parser.value(QStringLiteral("losses")).toInt(), popup, parallel);
    return bad == 0 ? 0 : 1;
}
