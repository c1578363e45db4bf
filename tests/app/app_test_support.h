// Shared set-up of the application-shell tests: each test gets a profile of
// its own (data, vault and settings folders under a temporary directory),
// so tests never see each other's identities or stores.
#pragma once

#include "app/app_controller.h"
#include "identity/vault.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace apptest {

inline void useApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
}

// A fresh profile: XDG_DATA_HOME and XDG_CONFIG_HOME point into a new
// temporary folder for as long as the object lives.
class Profile
{
public:
    Profile()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    }
    bool isValid() const { return m_dir.isValid(); }
    QString dataFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    }
    // Makes `name` inside the data folder a directory, so that a file of
    // that name can be neither written nor opened as a database.
    bool blockWithDirectory(const QString &relativePath) const
    {
        return QDir().mkpath(dataFolder() + QLatin1Char('/') + relativePath);
    }
    // Makes the vault folder a plain file, so that nothing can be saved in it.
    bool blockVaultFolder() const
    {
        QDir().mkpath(dataFolder());
        QFile file(CredentialVault::folder());
        return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
    }

private:
    QTemporaryDir m_dir;
};

// Waits for the running sign-in of `app` to finish; true when it ended.
inline bool waitForLogin(AppController &app, int timeoutMs = 20000)
{
    if (!app.busy())
        return true;
    QSignalSpy spy(&app, &AppController::busyChanged);
    while (app.busy())
        if (!spy.wait(timeoutMs))
            return false;
    return true;
}

// Leaves no session behind for the next test in the same process.
inline void resetProcessSession()
{
    ChatStore::instance().close();
    velmor::net::RelayAuthSession::instance().clear();
}

} // namespace apptest
