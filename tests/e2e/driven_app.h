// The driver's side of one end-to-end program: starts pelorin-e2e-app with
// a profile of its own (data, settings and vault folders) against the given
// services, and drives its window through the automation hook, one command
// and one answer at a time. Every call waits for its answer; failures say
// why in lastFailure().
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

struct E2eServices
{
    QString nodeDirectoryUrl;
    QString groupCenterUrl;
};

class DrivenApp : public QObject
{
    Q_OBJECT
public:
    DrivenApp(const QString &name, const QString &profileDir, const E2eServices &services,
              QObject *parent = nullptr);
    ~DrivenApp() override;

    bool start(int timeoutMs = 20000); // starts the process and waits for the hook's ready line
    void kill();                       // SIGKILL, as a crash
    bool quit(int timeoutMs = 10000);  // ends it normally
    bool running() const;

    // Items are named by objectName; "a/b/c" is c somewhere inside b
    // somewhere inside a; "name#2" is the third match in tree order.
    bool waitItem(const QString &path, int timeoutMs = 10000); // exists and visible
    bool click(const QString &path);
    // Scrolls the panes or lists holding the item until it can be clicked
    // where it stands, as a user scrolls to it.
    bool reveal(const QString &path, int timeoutMs = 10000);
    bool clickText(const QString &text); // the visible item whose `text` is exactly this
    bool type(const QString &path, const QString &text);
    bool key(int qtKey, int modifiers = 0); // to the active focus item
    QJsonValue eval(const QString &js);     // JS in the root context, for checks
    bool waitTrue(const QString &js, int timeoutMs = 15000);
    QJsonValue invoke(const QString &path, const QString &method, const QJsonArray &args = {});
    bool setDark(bool dark);
    bool shot(const QString &file);
    double longestStallMs();
    QStringList errors(); // errors shown + QML warnings since start
    QString name() const { return m_name; }
    QString lastFailure() const { return m_lastFailure; }

    // Beyond the basic interface.
    // The folder the program starts in (where its file dialogs open);
    // taken at the next start.
    void setWorkingDirectory(const QString &folder) { m_workingDirectory = folder; }
    // Until an item showing exactly this text is visible.
    bool waitText(const QString &text, int timeoutMs = 10000);
    // Every text the window shows, in tree order.
    QStringList shownTexts();
    // JS evaluated in the QML context of the item at `path`, with the item
    // as scope (its own properties and the ids of the file that declares it).
    QJsonValue evalIn(const QString &path, const QString &js);
    // One property of the item at `path` ("name#k" picks among matches).
    QJsonValue property(const QString &path, const QString &name);
    QString profileDir() const { return m_profileDir; }
    double startupMs() const { return m_startupMs; }
    // The stall figures of the running process: longest, when, start-up.
    QJsonObject stallReport();
    // The last lines the program wrote to its standard error (its log).
    QString logTail(int lines = 40) const;
    // Errors that appeared since the last call (across restarts of the process).
    QStringList newErrors();

private:
    QJsonObject request(const QJsonObject &command, int timeoutMs);
    QJsonObject readAnswer(int timeoutMs);
    bool succeeded(const QJsonObject &answer);

    QString m_name;
    QString m_profileDir;
    E2eServices m_services;
    QProcess *m_process = nullptr;
    QByteArray m_stdout;
    QString m_lastFailure;
    QString m_workingDirectory;
    double m_startupMs = -1;
    int m_errorsSeen = 0;
};
