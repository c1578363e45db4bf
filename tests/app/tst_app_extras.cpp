// The session object's small services: the backup password record, image
// drafts from files and the clipboard, QR images read back by a scanner,
// the avatar choice, and when the window gives the heap back.
#include "app_test_support.h"

#include "app/backup_password.h"
#include "app/heap_release.h"
#include "app/image_drafts.h"
#include "identity/crypto.h"
#include "identity/qr.h"
#include "identity/identity.h"
#include "support/fake_relay.h"
#include "support/qr_scan.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QUrl>


using apptest::Profile;
using velmor::crypto::base64UrlEncode;
using velmor::fakes::FakeRelay;
using velmor::app::HeapRelease;
using velmor::identity::Identity;

namespace {

// The heap release's quiet period and shortest interval.
constexpr int kHeapPeriodMs = 100;
constexpr int kHeapIntervalMs = 600;

// What a QR scanner reads from the SVG drawn at `scale` pixels per module.
QByteArray scanSvg(const QString &svg, int scale = 6)
{
    QSvgRenderer renderer(svg.toUtf8());
    if (!renderer.isValid())
        return {};
    const QSize size = renderer.viewBox().size() * scale;
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return velmor::fakes::scanQrCodes(image).value(0);
}

// A 40×20 JPEG whose EXIF orientation says "turn 90° clockwise".
QByteArray rotatedJpeg()
{
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    writer.write(image);
    return bytes;
}

} // namespace

class AppExtrasTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void backupPasswordNeedsAnIdentity();
    void backupPasswordSetAndVerify();
    void backupRecordsAreKeptPerIdentity();
    void malformedRecordsNeverVerify_data();
    void malformedRecordsNeverVerify();
    void recordWithAnotherIterationCountVerifies();
    void localDrafts_data();
    void localDrafts();
    void clipboardDrafts();
    void clipboardText();
    void imageDraftWriteFailures_data();
    void imageDraftWriteFailures();
    void qrSvgDecodesToItsText_data();
    void qrSvgDecodesToItsText();
    void qrSvgShape();
    void avatarChoice();
    void releasesOnceSettledAfterWork_data();
    void releasesOnceSettledAfterWork();

private:
    void signIn(AppController &app, const Identity &identity);

    FakeRelay m_relay{FakeRelay::Options{true}};
    std::unique_ptr<Profile> m_profile;
    QTemporaryDir m_files;
};

void AppExtrasTest::initTestCase()
{
    apptest::useApplicationNames();
    QVERIFY(m_relay.start() > 0);
    qputenv("PELORIN_NODE_DIRECTORY_URL", m_relay.baseUrl().toUtf8());
    QVERIFY(m_files.isValid());
}

void AppExtrasTest::init()
{
    m_profile = std::make_unique<Profile>();
}

void AppExtrasTest::cleanup()
{
    apptest::resetProcessSession();
    m_profile.reset();
}

void AppExtrasTest::signIn(AppController &app, const Identity &identity)
{
    app.importAndLogin(identity.privateKeyText());
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY2(app.loggedIn(), qPrintable(app.errorText()));
}

void AppExtrasTest::backupPasswordNeedsAnIdentity()
{
    AppController app;
    QVERIFY(!app.hasBackupPassword());
    QVERIFY(!app.setBackupPassword(QStringLiteral("secret")));
    QVERIFY(!app.verifyBackupPassword(QStringLiteral("secret")));
    QVERIFY(!QDir(CredentialVault::folder()).exists());
}

void AppExtrasTest::backupPasswordSetAndVerify()
{
    AppController app;
    signIn(app, Identity::generate());
    QVERIFY(!app.setBackupPassword(QString()));
    QVERIFY(!app.hasBackupPassword());

    QVERIFY(app.setBackupPassword(QStringLiteral("correct horse 马")));
    QVERIFY(app.hasBackupPassword());
    QVERIFY(app.verifyBackupPassword(QStringLiteral("correct horse 马")));
    QVERIFY(!app.verifyBackupPassword(QStringLiteral("correct horse")));
    QVERIFY(!app.verifyBackupPassword(QString()));

    // The record holds no trace of the password and follows the fixed layout.
    const QByteArray record = CredentialVault::read(QStringLiteral("backup_pwd_v2_") + app.myErc20());
    const QList<QByteArray> fields = record.split('|');
    QCOMPARE(fields.size(), 4);
    QCOMPARE(fields.at(0), QByteArray("v1"));
    QCOMPARE(fields.at(1), QByteArray("600000"));
    QCOMPARE(velmor::crypto::base64UrlDecode(QString::fromLatin1(fields.at(2))).size(), 16);
    QCOMPARE(velmor::crypto::base64UrlDecode(QString::fromLatin1(fields.at(3))).size(), 32);
    QVERIFY(!record.contains("horse"));
}

void AppExtrasTest::backupRecordsAreKeptPerIdentity()
{
    const Identity first = Identity::generate();
    const Identity second = Identity::generate();
    const auto record = [](const Identity &id, const char *password) {
        return CredentialVault::write(QStringLiteral("backup_pwd_v2_") + id.erc20Address(),
                                      QByteArray("v1|1000|") + base64UrlEncode("salt-of-16-bytes").toLatin1()
                                          + '|'
                                          + base64UrlEncode(velmor::app::deriveBackupHash(
                                                                QString::fromLatin1(password),
                                                                "salt-of-16-bytes", 1000))
                                                .toLatin1());
    };
    QVERIFY(record(first, "one"));
    QVERIFY(record(second, "two"));

    AppController app;
    signIn(app, first);
    QVERIFY(app.verifyBackupPassword(QStringLiteral("one")));
    QVERIFY(!app.verifyBackupPassword(QStringLiteral("two")));
    app.logout();
    QVERIFY(!app.hasBackupPassword());
    signIn(app, second);
    QVERIFY(app.verifyBackupPassword(QStringLiteral("two")));
    QVERIFY(!app.verifyBackupPassword(QStringLiteral("one")));
}

void AppExtrasTest::malformedRecordsNeverVerify_data()
{
    QTest::addColumn<QByteArray>("record");
    const QByteArray salt = base64UrlEncode("0123456789abcdef").toLatin1();
    const QByteArray hash =
        base64UrlEncode(velmor::app::deriveBackupHash(QStringLiteral("pw"), "0123456789abcdef", 1000)).toLatin1();
    const QByteArray shortHash = base64UrlEncode(QByteArray(31, 'x')).toLatin1();
    QTest::newRow("sound record (control)") << "v1|1000|" + salt + '|' + hash;
    QTest::newRow("three fields") << "v1|1000|" + salt;
    QTest::newRow("five fields") << "v1|1000|" + salt + '|' + hash + "|x";
    QTest::newRow("version v2") << "v2|1000|" + salt + '|' + hash;
    QTest::newRow("iterations 0") << "v1|0|" + salt + '|' + hash;
    QTest::newRow("negative iterations") << "v1|-1000|" + salt + '|' + hash;
    QTest::newRow("iterations with a sign") << "v1|+1000|" + salt + '|' + hash;
    QTest::newRow("iterations not a number") << "v1|many|" + salt + '|' + hash;
    QTest::newRow("a billion iterations") << "v1|1000000000|" + salt + '|' + hash;
    QTest::newRow("empty salt") << "v1|1000||" + hash;
    QTest::newRow("salt not base64url") << "v1|1000|***|" + hash;
    QTest::newRow("31-byte hash") << "v1|1000|" + salt + '|' + shortHash;
    QTest::newRow("padded hash") << "v1|1000|" + salt + '|' + hash + "=";
    QTest::newRow("empty record") << QByteArray();
}

void AppExtrasTest::malformedRecordsNeverVerify()
{
    QFETCH(QByteArray, record);
    AppController app;
    signIn(app, Identity::generate());
    QVERIFY(CredentialVault::write(QStringLiteral("backup_pwd_v2_") + app.myErc20(), record.isEmpty() ? "x" : record));
    const bool control = QByteArray(QTest::currentDataTag()).startsWith("sound");
    QCOMPARE(app.verifyBackupPassword(QStringLiteral("pw")), control);
}

void AppExtrasTest::recordWithAnotherIterationCountVerifies()
{
    AppController app;
    signIn(app, Identity::generate());
    const QByteArray salt("sixteen byte slt");
    const QByteArray record = "v1|1234|" + base64UrlEncode(salt).toLatin1() + '|'
        + base64UrlEncode(velmor::app::deriveBackupHash(QStringLiteral("pw"), salt, 1234)).toLatin1();
    QVERIFY(CredentialVault::write(QStringLiteral("backup_pwd_v2_") + app.myErc20(), record));
    QVERIFY(app.verifyBackupPassword(QStringLiteral("pw")));
    QVERIFY(!app.verifyBackupPassword(QStringLiteral("pW")));
}

void AppExtrasTest::localDrafts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("asUrl");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QSize>("size");

    QImage png(30, 10, QImage::Format_ARGB32);
    png.fill(Qt::blue);
    QByteArray pngBytes;
    QBuffer buffer(&pngBytes);
    buffer.open(QIODevice::WriteOnly);
    png.save(&buffer, "PNG");
    const QString unsupported = QStringLiteral("不支持此图片格式或文件已损坏");

    QTest::newRow("png by file URL") << "a b.png" << pngBytes << true << QString() << QSize(30, 10);
    QTest::newRow("png by path") << "plain.png" << pngBytes << false << QString() << QSize(30, 10);
    QTest::newRow("jpeg turned by its orientation") << "turned.jpg" << rotatedJpeg() << true << QString()
                                                    << QSize(20, 40);
    QTest::newRow("text file") << "notes.txt" << QByteArray("just words\n") << true << unsupported << QSize();
    QTest::newRow("missing file") << "" << QByteArray() << true << unsupported << QSize();
    QTest::newRow("png cut short") << "cut.png" << pngBytes.left(40) << true << QStringLiteral("无法读取所选图片")
                                   << QSize();
    // A phone's photo is taken on its header's word: decoded whole it
    // would pass the reader's allocation limit.
    const auto encoded = [](QImage::Format format, QSize size, const char *type) {
        QImage image(size, format);
        image.fill(Qt::darkGreen);
        QByteArray bytes;
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        image.save(&out, type);
        return bytes;
    };
    QTest::newRow("48 MP jpeg") << "phone.jpg" << encoded(QImage::Format_RGB32, {8000, 6000}, "JPEG") << true
                                << QString() << QSize(8000, 6000);
    QTest::newRow("16-bit png") << "deep.png" << encoded(QImage::Format_RGBX64, {6000, 4000}, "PNG") << true
                                << QString() << QSize(6000, 4000);
}

void AppExtrasTest::localDrafts()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, asUrl);
    QFETCH(QString, error);
    QFETCH(QSize, size);
    const QString path = m_files.filePath(file.isEmpty() ? QStringLiteral("absent.png") : file);
    if (!file.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }
    AppController app;
    const QVariantMap draft = app.localImageDraft(asUrl ? QUrl::fromLocalFile(path).toString() : path);
    QCOMPARE(draft.value("ok").toBool(), error.isEmpty());
    if (!error.isEmpty()) {
        QCOMPARE(draft.value("error").toString(), error);
        QVERIFY(!draft.contains("url"));
        return;
    }
    QCOMPARE(draft.value("url").toString(), QUrl::fromLocalFile(path).toString());
    QCOMPARE(draft.value("name").toString(), file);
    QCOMPARE(QSize(draft.value("width").toInt(), draft.value("height").toInt()), size);
    QVERIFY(!draft.contains("error"));
}

void AppExtrasTest::clipboardDrafts()
{
    AppController app;
    QClipboard *clipboard = QGuiApplication::clipboard();

    // Only text: no draft and no error, so the paste is taken as text.
    clipboard->setText(QStringLiteral("hello"));
    QCOMPARE(app.clipboardImageDraft(), (QVariantMap{{"ok", false}}));

    // Image data: saved as a new PNG in the temporary folder.
    QImage image(12, 7, QImage::Format_RGB32);
    image.fill(Qt::green);
    clipboard->setImage(image);
    const QVariantMap fromData = app.clipboardImageDraft();
    QVERIFY(fromData.value("ok").toBool());
    QVERIFY(QRegularExpression(QStringLiteral("^clipboard-[0-9a-f-]{36}\\.png$"))
                .match(fromData.value("name").toString()).hasMatch());
    const QString savedPath = QUrl(fromData.value("url").toString()).toLocalFile();
    QVERIFY(QRegularExpression(QStringLiteral("/velmor-draft-[0-9a-f-]{36}\\.png$")).match(savedPath).hasMatch());
    // Decoded pixels not sent yet are the user's alone: an owner-only file
    // in the profile's owner-only folder, not the shared temporary folder.
    const QString folder = QFileInfo(savedPath).absolutePath();
    QCOMPARE(folder, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/media"));
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(!(QFileInfo(savedPath).permissions() & others));
    QVERIFY(!(QFileInfo(folder).permissions() & others));
    QCOMPARE(QImage(savedPath).size(), QSize(12, 7));
    QCOMPARE(fromData.value("width").toInt(), 12);

    // A copied file: the first URL that is a readable image wins, and the
    // draft is a PNG copy carrying the file's name and turned size.
    const QString textFile = m_files.filePath(QStringLiteral("readme.txt"));
    const QString jpegFile = m_files.filePath(QStringLiteral("photo.jpg"));
    QFile(textFile).open(QIODevice::WriteOnly);
    {
        QFile out(jpegFile);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(rotatedJpeg());
    }
    auto *mime = new QMimeData;
    mime->setUrls({QUrl(QStringLiteral("https://example.com/x.png")), QUrl::fromLocalFile(textFile),
                   QUrl::fromLocalFile(jpegFile)});
    clipboard->setMimeData(mime);
    const QVariantMap fromFile = app.clipboardImageDraft();
    QVERIFY(fromFile.value("ok").toBool());
    QCOMPARE(fromFile.value("name").toString(), QStringLiteral("photo.jpg"));
    QCOMPARE(QSize(fromFile.value("width").toInt(), fromFile.value("height").toInt()), QSize(20, 40));
    QVERIFY(fromFile.value("url").toString().endsWith(QStringLiteral(".png")));
    QVERIFY(QFile::exists(QUrl(fromFile.value("url").toString()).toLocalFile()));

    clipboard->clear();
    QCOMPARE(app.clipboardImageDraft().value("ok").toBool(), false);
}

// A draft that cannot be written says why: a full disk as such, so the user
// is not told that the picture could not be read.
void AppExtrasTest::imageDraftWriteFailures_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("full disk") << QStringLiteral("/dev/full") << true;
    QTest::newRow("not open for writing") << QString() << false;
}

void AppExtrasTest::imageDraftWriteFailures()
{
    QFETCH(QString, device);
    QFETCH(bool, diskFull);
    if (!device.isEmpty() && !QFile::exists(device))
        QSKIP("no such device here");
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QFile file(device.isEmpty() ? m_files.filePath(QStringLiteral("read-only.png")) : device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (device.isEmpty()) {
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
    }
    const QVariantMap draft = velmor::app::writeImageDraft(image, QStringLiteral("x.png"), file, QString());
    QCOMPARE(draft.value("ok").toBool(), false);
    QVERIFY(!draft.contains("url"));
    QCOMPARE(draft.value("problem").toString(), diskFull ? QStringLiteral("diskFull") : QString());
    QCOMPARE(draft.value("error").toString(),
             diskFull ? QStringLiteral("磁盘已满，无法保存粘贴的图片") : QStringLiteral("无法读取剪贴板图片"));
}

void AppExtrasTest::clipboardText()
{
    AppController app;
    app.copyToClipboard(QStringLiteral("0xabc 地址"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("0xabc 地址"));
    QCOMPARE(app.clipboardText(), QStringLiteral("0xabc 地址"));
}

void AppExtrasTest::qrSvgDecodesToItsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("address") << QStringLiteral("0x9858effd232b4033e47d90003d41ec34ecaeda94");
    QTest::newRow("join link") << QStringLiteral("pelorin:group:") + QString(43, QLatin1Char('A'));
    QTest::newRow("non-ASCII") << QStringLiteral("群组 · Grüße");
    QTest::newRow("one character") << QStringLiteral("x");
}

void AppExtrasTest::qrSvgDecodesToItsText()
{
    QFETCH(QString, text);
    AppController app;
    const QString svg = app.qrSvg(text);
    QVERIFY(!svg.isEmpty());
    QCOMPARE(QString::fromUtf8(scanSvg(svg)), text);
}

void AppExtrasTest::qrSvgShape()
{
    AppController app;
    const QString text = QStringLiteral("0x9858effd232b4033e47d90003d41ec34ecaeda94");
    const QString svg = app.qrSvg(text);
    const velmor::identity::QrCode code = makeQrCode(text.toUtf8());
    const int n = code.size + 8;
    QVERIFY(svg.startsWith(QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 %1 %1' "
                                          "shape-rendering='crispEdges'><rect width='%1' height='%1' "
                                          "fill='white'/><g fill='black'>")
                               .arg(n)));
    QVERIFY(svg.endsWith(QStringLiteral("</g></svg>")));
    QVERIFY(!svg.contains(QLatin1Char('\n')) && !svg.contains(QLatin1Char('"')));

    // One unit square per dark module, inside the quiet zone.
    int dark = 0;
    for (int y = 0; y < code.size; ++y)
        for (int x = 0; x < code.size; ++x)
            dark += code.isDark(x, y) ? 1 : 0;
    QCOMPARE(svg.count(QStringLiteral("width='1' height='1'")), dark);
    QVERIFY(!svg.contains(QStringLiteral("x='3' ")) && !svg.contains(QStringLiteral("y='3' ")));

    // Too long for any QR version: no image at all.
    QCOMPARE(app.qrSvg(QString(3000, QLatin1Char('a'))), QString());
}

void AppExtrasTest::avatarChoice()
{
    AppController app;
    QSignalSpy changes(&app, &AppController::avatarChanged);
    app.setAvatar(QString());
    QCOMPARE(changes.count(), 0);
    app.setAvatar(QStringLiteral("head05"));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(app.myAvatar(), QStringLiteral("head05"));
    app.setAvatar(QStringLiteral("head05"));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(CredentialVault::read(QStringLiteral("avatar")), QByteArray("head05"));

    // The choice is what the next sign-in shows.
    signIn(app, Identity::generate());
    QCOMPARE(app.myAvatar(), QStringLiteral("head05"));
}

// When the window gives the heap's free pages back: once it has settled
// after a burst of frames, not while it works, not for a blinking cursor,
// and not more often than the interval allows.
void AppExtrasTest::releasesOnceSettledAfterWork_data()
{
    // Each step: frames drawn at once, then 0.6 of a period waited.
    QTest::addColumn<QList<int>>("frames");
    QTest::addColumn<int>("releases");
    QTest::newRow("nothing drawn") << QList<int>{} << 0;
    QTest::newRow("a burst, then quiet") << QList<int>{ 12 } << 1;
    QTest::newRow("a blinking cursor only") << QList<int>{ 1, 2, 1, 2, 1 } << 0;
    QTest::newRow("a burst, then a blinking cursor") << QList<int>{ 12, 1, 2, 1, 2 } << 1;
    QTest::newRow("work over several periods") << QList<int>{ 8, 8, 8, 8 } << 1;
    QTest::newRow("two bursts, each settled") << QList<int>{ 12, 0, 0, 0, 0, 0, 12 } << 2;
}

void AppExtrasTest::releasesOnceSettledAfterWork()
{
    QFETCH(QList<int>, frames);
    QFETCH(int, releases);
    QQuickWindow window;
    int released = 0;
    new HeapRelease(&window, [&released] { ++released; }, kHeapPeriodMs, kHeapIntervalMs);
    int before = 0;
    for (int i = 0; i < frames.size(); ++i) {
        for (int f = 0; f < frames[i]; ++f)
            emit window.frameSwapped();
        if (frames[i] > HeapRelease::kQuietFrames)
            before = released; // nothing goes back while the window works
        QTest::qWait(kHeapPeriodMs * 6 / 10);
        if (frames[i] > HeapRelease::kQuietFrames)
            QCOMPARE(released, before);
    }
    // Settled: the last release (held back by the interval at most) has come.
    QTest::qWait(kHeapIntervalMs + 3 * kHeapPeriodMs);
    QCOMPARE(released, releases);
}

QTEST_MAIN(AppExtrasTest)
#include "tst_app_extras.moc"
