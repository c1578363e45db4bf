// An X server of the caller's own (Xvfb) for a program run under a real
// window system: it picks a free display itself and says which, so runs side
// by side never meet on one display.
#pragma once

#include <QProcess>
#include <QSize>
#include <QStandardPaths>
#include <QString>

#include <csignal>

namespace velmor::fakes {

class OwnXServer
{
public:
    OwnXServer() = default;
    OwnXServer(const OwnXServer &) = delete;
    OwnXServer &operator=(const OwnXServer &) = delete;
    ~OwnXServer() { stop(); }

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty(); }

    // Until the server takes connections (10 s at most).
    bool start(QSize screen)
    {
        m_server.start(QStandardPaths::findExecutable(QStringLiteral("Xvfb")),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray said;
        while (!said.contains('\n') && m_server.waitForReadyRead(10000))
            said += m_server.readAllStandardOutput();
        bool ok = false;
        const int number = said.trimmed().toInt(&ok);
        m_display = ok ? QStringLiteral(":%1").arg(number) : QString();
        return ok;
    }

    // For DISPLAY; empty until started.
    QString display() const { return m_display; }

    // The display goes away under its programs.
    void kill(int signal = SIGKILL)
    {
        if (m_server.state() != QProcess::NotRunning)
            ::kill(pid_t(m_server.processId()), signal);
    }

    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished(2000);
    }

private:
    QProcess m_server;
    QString m_display;
};

} // namespace velmor::fakes
