// Qt Quick Test entry for the Velmor module. Each test file gets a fresh
// engine carrying mock controllers under the context-property names the
// views use, so views can be driven without the real controllers.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QImage>
#include <QPixmap>
#include <QLocale>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "mock_controllers.h"

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

// A web server on 127.0.0.1 that the tests own ("FetchListener"): it records
// the path of every request a view makes to it and answers with a picture.
// Text that must never be read as markup points a picture tag at it; any
// path but a test's own sentinel is a fetch a view made.
class FetchListener : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    Q_PROPERTY(QStringList paths READ paths NOTIFY pathsChanged)

public:
    FetchListener()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    int port() const { return m_server.serverPort(); }
    QStringList paths() const { return m_paths; }
    Q_INVOKABLE void clear() { m_paths.clear(); emit pathsChanged(); }

signals:
    void pathsChanged();

private:
    void answer(QTcpSocket *socket)
    {
        if (socket->property("answered").toBool() || !socket->canReadLine())
            return;
        socket->setProperty("answered", true);
        // "GET /path HTTP/1.1"
        const QList<QByteArray> words = socket->readLine().trimmed().split(' ');
        m_paths.append(QString::fromLatin1(words.value(1, "?")));
        emit pathsChanged();
        QImage pixel(1, 1, QImage::Format_ARGB32);
        pixel.fill(Qt::white);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        pixel.save(&buffer, "PNG");
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\nContent-Length: "
                      + QByteArray::number(png.size()) + "\r\n\r\n" + png);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QStringList m_paths;
};

// What the tests see of the process and the screen ("Process"): the Qt
// Quick render threads running, the heap's bytes in use, and the pixels the
// X server shows (child windows included, as a user sees them).
class ProcessProbe : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE int renderThreads() const
    {
        int count = 0;
        for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "QSGRenderThread")
                ++count;
        }
        return count;
    }
    // Bytes the heap has handed out and not had back; -1 where the C
    // library does not tell.
    Q_INVOKABLE double heapInUse() const
    {
#ifdef __GLIBC__
        const struct mallinfo2 info = mallinfo2();
        return double(info.uordblks + info.hblkhd);
#else
        return -1;
#endif
    }
    Q_INVOKABLE QVariant screenArea(int x, int y, int width, int height) const
    {
        QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? QVariant(screen->grabWindow(0, x, y, width, height).toImage()) : QVariant();
    }
    // The largest difference of one colour channel between two pictures of
    // the same size; -1 when they differ in size.
    Q_INVOKABLE int largestDifference(const QVariant &a, const QVariant &b) const
    {
        const QImage one = a.value<QImage>().convertToFormat(QImage::Format_RGB32);
        const QImage two = b.value<QImage>().convertToFormat(QImage::Format_RGB32);
        if (one.size() != two.size() || one.isNull())
            return -1;
        int largest = 0;
        for (int y = 0; y < one.height(); ++y) {
            for (int x = 0; x < one.width(); ++x) {
                const QRgb p = one.pixel(x, y);
                const QRgb q = two.pixel(x, y);
                largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            }
        }
        return largest;
    }
};

class VelmorQmlTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("QuilletTests"));
        QCoreApplication::setApplicationName(QStringLiteral("PelorinQmlTests"));
        // Settings go to a private folder so the tests never touch (or read)
        // the user's real language choice.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        // A fixed system locale keeps the default language predictable.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        QSettings().clear();
        // The views' own texts are checked in Chinese, the interface's first
        // language; tests of other languages choose theirs.
        QSettings().setValue(QStringLiteral("ui/language"), QStringLiteral("zh-Hans"));
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QString error;
        if (velmor::qmltest::installMockControllers(engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error)
                .isEmpty()) {
            qFatal("mock controllers failed: %s", qPrintable(error));
        }
        // Made with the application (the setup object comes before it).
        if (!m_listener)
            m_listener = std::make_unique<FetchListener>();
        engine->rootContext()->setContextProperty(QStringLiteral("FetchListener"), m_listener.get());
        engine->rootContext()->setContextProperty(QStringLiteral("Process"), &m_process);
    }

private:
    QTemporaryDir m_settingsDir;
    std::unique_ptr<FetchListener> m_listener;
    ProcessProbe m_process;
};

QUICK_TEST_MAIN_WITH_SETUP(velmor_qml, VelmorQmlTestSetup)

#include "qml_test_main.moc"
