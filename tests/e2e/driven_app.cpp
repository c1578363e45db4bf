#include "driven_app.h"

#include <QSettings>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>

#ifndef PELORIN_E2E_APP
#define PELORIN_E2E_APP "pelorin-e2e-app"
#endif

namespace {

// Generous per-command ceiling beyond a command's own wait: two programs, a
// test and the services share two cores in CI.
constexpr int kAnswerSlackMs = 20000;

} // namespace

DrivenApp::DrivenApp(const QString &name, const QString &profileDir, const E2eServices &services, QObject *parent)
    : QObject(parent), m_name(name), m_profileDir(profileDir), m_services(services)
{
}

DrivenApp::~DrivenApp()
{
    if (running() && !quit(5000))
        kill();
}

bool DrivenApp::start(int timeoutMs)
{
    if (running()) {
        m_lastFailure = QStringLiteral("%1 already runs").arg(m_name);
        return false;
    }
    delete m_process;
    m_process = new QProcess(this);
    m_stdout.clear();
    m_errorsSeen = 0;
    QDir().mkpath(m_profileDir + QStringLiteral("/data"));
    QDir().mkpath(m_profileDir + QStringLiteral("/config"));
    QDir().mkpath(m_profileDir + QStringLiteral("/tmp"));
    {
        // The checks read the program's texts in Chinese, its first
        // language; a run that chose another language keeps it.
        QSettings settings(m_profileDir + QStringLiteral("/config/Quillet/Pelorin.conf"), QSettings::IniFormat);
        if (!settings.contains(QStringLiteral("ui/language")))
            settings.setValue(QStringLiteral("ui/language"), QStringLiteral("zh-Hans"));
    }
    // The same environment as the real program gets from scripts/run.sh
    // --profile: its own data (store, vault) and settings folders.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_profileDir + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_profileDir + QStringLiteral("/config"));
    // Voice and image drafts go to a temporary folder of the profile's own,
    // apart from other programs' files of the same names.
    env.insert(QStringLiteral("TMPDIR"), m_profileDir + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), m_services.nodeDirectoryUrl);
    env.insert(QStringLiteral("PELORIN_GROUP_CENTER_URL"), m_services.groupCenterUrl);
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_process->setProcessEnvironment(env);
    if (!m_workingDirectory.isEmpty())
        m_process->setWorkingDirectory(m_workingDirectory);
    m_process->setStandardErrorFile(m_profileDir + QStringLiteral("/program.log"), QIODevice::Append);
    const QString program = qEnvironmentVariable("PELORIN_E2E_APP", QStringLiteral(PELORIN_E2E_APP));
    m_process->start(program, QStringList());
    if (!m_process->waitForStarted(timeoutMs)) {
        m_lastFailure = QStringLiteral("%1 did not start: %2").arg(m_name, m_process->errorString());
        return false;
    }
    const QJsonObject ready = readAnswer(timeoutMs);
    if (!ready.value(QStringLiteral("ready")).toBool()) {
        m_lastFailure = QStringLiteral("%1 never showed its window: %2 %3")
                            .arg(m_name, QString::fromUtf8(QJsonDocument(ready).toJson(QJsonDocument::Compact)),
                                 m_lastFailure);
        return false;
    }
    m_startupMs = ready.value(QStringLiteral("startupMs")).toDouble();
    return true;
}

void DrivenApp::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(10000);
}

bool DrivenApp::quit(int timeoutMs)
{
    if (!running())
        return true;
    m_process->write("{\"cmd\":\"quit\"}\n");
    m_process->closeWriteChannel();
    if (m_process->waitForFinished(timeoutMs))
        return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    m_lastFailure = QStringLiteral("%1 did not end within %2 ms").arg(m_name).arg(timeoutMs);
    kill();
    return false;
}

bool DrivenApp::running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

QJsonObject DrivenApp::readAnswer(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int newline;
        while ((newline = m_stdout.indexOf('\n')) >= 0) {
            const QByteArray line = m_stdout.left(newline);
            m_stdout.remove(0, newline + 1);
            if (!line.startsWith("E2E "))
                continue; // anything else the program prints
            return QJsonDocument::fromJson(line.mid(4)).object();
        }
        if (!running()) {
            m_lastFailure = QStringLiteral("%1 is not running (exit %2)").arg(m_name).arg(m_process ? m_process->exitCode() : -1);
            return {};
        }
        if (deadline.hasExpired()) {
            m_lastFailure = QStringLiteral("%1 gave no answer within %2 ms").arg(m_name).arg(timeoutMs);
            return {};
        }
        m_process->waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 200)));
        m_stdout.append(m_process->readAllStandardOutput());
    }
}

QJsonObject DrivenApp::request(const QJsonObject &command, int timeoutMs)
{
    if (!running()) {
        m_lastFailure = QStringLiteral("%1 is not running").arg(m_name);
        return {};
    }
    m_process->write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    m_process->waitForBytesWritten(1000);
    return readAnswer(timeoutMs + kAnswerSlackMs);
}

bool DrivenApp::succeeded(const QJsonObject &answer)
{
    if (answer.value(QStringLiteral("ok")).toBool())
        return true;
    if (answer.contains(QStringLiteral("error")))
        m_lastFailure = m_name + QStringLiteral(": ") + answer.value(QStringLiteral("error")).toString();
    return false;
}

bool DrivenApp::waitItem(const QString &path, int timeoutMs)
{
    return succeeded(request({{"cmd", "waitItem"}, {"path", path}, {"timeout", timeoutMs}}, timeoutMs));
}

bool DrivenApp::click(const QString &path)
{
    return succeeded(request({{"cmd", "click"}, {"path", path}}, 0));
}

bool DrivenApp::reveal(const QString &path, int timeoutMs)
{
    return succeeded(request({{"cmd", "reveal"}, {"path", path}, {"timeout", timeoutMs}}, timeoutMs));
}

bool DrivenApp::clickText(const QString &text)
{
    return succeeded(request({{"cmd", "clickText"}, {"text", text}}, 0));
}

bool DrivenApp::type(const QString &path, const QString &text)
{
    return succeeded(request({{"cmd", "type"}, {"path", path}, {"text", text}}, 0));
}

bool DrivenApp::key(int qtKey, int modifiers)
{
    return succeeded(request({{"cmd", "key"}, {"key", qtKey}, {"modifiers", modifiers}}, 0));
}

QJsonValue DrivenApp::eval(const QString &js)
{
    const QJsonObject answer = request({{"cmd", "eval"}, {"js", js}}, 0);
    if (!succeeded(answer))
        return QJsonValue(QJsonValue::Undefined);
    return answer.value(QStringLiteral("value"));
}

QJsonValue DrivenApp::evalIn(const QString &path, const QString &js)
{
    const QJsonObject answer = request({{"cmd", "evalIn"}, {"path", path}, {"js", js}}, 0);
    if (!succeeded(answer))
        return QJsonValue(QJsonValue::Undefined);
    return answer.value(QStringLiteral("value"));
}

QJsonValue DrivenApp::property(const QString &path, const QString &name)
{
    const QJsonObject answer = request({{"cmd", "property"}, {"path", path}, {"name", name}}, 0);
    if (!succeeded(answer))
        return QJsonValue(QJsonValue::Undefined);
    return answer.value(QStringLiteral("value"));
}

bool DrivenApp::waitTrue(const QString &js, int timeoutMs)
{
    return succeeded(request({{"cmd", "waitTrue"}, {"js", js}, {"timeout", timeoutMs}}, timeoutMs));
}

QJsonValue DrivenApp::invoke(const QString &path, const QString &method, const QJsonArray &args)
{
    const QJsonObject answer = request({{"cmd", "invoke"}, {"path", path}, {"method", method}, {"args", args}}, 0);
    if (!succeeded(answer))
        return QJsonValue(QJsonValue::Undefined);
    return answer.value(QStringLiteral("value"));
}

bool DrivenApp::setDark(bool dark)
{
    return succeeded(request({{"cmd", "setDark"}, {"dark", dark}}, 0));
}

bool DrivenApp::shot(const QString &file)
{
    return succeeded(request({{"cmd", "shot"}, {"file", file}}, 0));
}

QJsonObject DrivenApp::stallReport()
{
    const QJsonObject answer = request({{"cmd", "stall"}}, 0);
    return succeeded(answer) ? answer : QJsonObject();
}

double DrivenApp::longestStallMs()
{
    return stallReport().value(QStringLiteral("longestMs")).toDouble(-1);
}

QStringList DrivenApp::errors()
{
    const QJsonObject answer = request({{"cmd", "errors"}}, 0);
    QStringList out;
    for (const QJsonValue &error : answer.value(QStringLiteral("errors")).toArray())
        out << error.toString();
    if (!answer.value(QStringLiteral("ok")).toBool())
        out << QStringLiteral("(no answer from %1: %2)").arg(m_name, m_lastFailure);
    return out;
}

bool DrivenApp::waitText(const QString &text, int timeoutMs)
{
    return succeeded(request({{"cmd", "waitText"}, {"text", text}, {"timeout", timeoutMs}}, timeoutMs));
}

QStringList DrivenApp::shownTexts()
{
    const QJsonObject answer = request({{"cmd", "texts"}}, 0);
    QStringList out;
    if (succeeded(answer))
        for (const QJsonValue &text : answer.value(QStringLiteral("texts")).toArray())
            out << text.toString();
    return out;
}

QStringList DrivenApp::newErrors()
{
    const QStringList all = errors();
    const QStringList fresh = all.mid(m_errorsSeen);
    m_errorsSeen = int(all.size());
    return fresh;
}

QString DrivenApp::logTail(int lines) const
{
    QFile file(m_profileDir + QStringLiteral("/program.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    return all.mid(qMax(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}
