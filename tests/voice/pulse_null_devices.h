// A private PulseAudio server with one null output and one null input, so
// that Qt Multimedia sees audio devices on a machine without sound hardware.
// Each test program starts its own on its own socket (tests run side by
// side) and stops it by its process id when it goes; the kernel ends it
// with the test program if that is killed (a time-out) before it can.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

class PulseNullDevices
{
public:
    ~PulseNullDevices() { stop(); }

    // Starts the server and points this process's clients at it. Call before
    // the first multimedia object exists. False when pulseaudio is missing
    // or does not come up.
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || !m_dir.isValid())
            return false;
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.path());
        env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.path());
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("log")));
        // The server goes with the thread that started it, which is the test
        // program's main thread: a killed test leaves no server behind.
        const pid_t parent = getpid();
        m_process.setChildProcessModifier([parent] {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(1);
        });
        m_process.start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                                  QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                                  QStringLiteral("--load=module-null-sink sink_name=null"),
                                  QStringLiteral("--load=module-null-source source_name=nullsrc"),
                                  QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=")
                                      + socket});
        if (!m_process.waitForStarted(5000))
            return false;
        // The socket appears once the modules before it on the command line
        // (the two null devices) are loaded.
        const QDeadlineTimer deadline(10000);
        while (!QFile::exists(socket)) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            QThread::msleep(20);
        }
        qputenv("PULSE_SERVER", QByteArray("unix:") + QFile::encodeName(socket));
        return true;
    }

    // Takes the input away as unplugging a microphone does, or brings it
    // back under the same name.
    bool unplugInput() { return pactl({QStringLiteral("unload-module"), QStringLiteral("module-null-source")}); }
    bool plugInput()
    {
        return pactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                      QStringLiteral("source_name=nullsrc")});
    }

    // Swaps the null input for one playing a steady 440 Hz tone, and back.
    // (Qt 6.4 does not follow a change of the default input, only a device
    // that comes or goes.)
    bool swapInToneInput()
    {
        return pactl({QStringLiteral("load-module"), QStringLiteral("module-sine-source"),
                      QStringLiteral("source_name=tone"), QStringLiteral("frequency=440")})
            && unplugInput();
    }
    bool swapOutToneInput()
    {
        return plugInput() && pactl({QStringLiteral("unload-module"), QStringLiteral("module-sine-source")});
    }

    // A server that no longer answers (SIGSTOP), and the same one going on.
    bool freeze() { return signalServer(SIGSTOP); }
    bool thaw() { return signalServer(SIGCONT); }

    void stop()
    {
        thaw();
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    bool pactl(const QStringList &arguments)
    {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("pactl"), arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }

    bool signalServer(int signal)
    {
        return m_process.state() == QProcess::Running && ::kill(pid_t(m_process.processId()), signal) == 0;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
};
