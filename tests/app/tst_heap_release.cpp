// When the window gives the heap's free pages back: once it has settled
// after a burst of frames, not while it works, not for a blinking cursor,
// and not more often than the interval allows.
#include "app/heap_release.h"

#include <QQuickWindow>
#include <QTest>

using velmor::app::HeapRelease;

namespace {

constexpr int kPeriodMs = 100;
constexpr int kIntervalMs = 600;

} // namespace

class HeapReleaseTest : public QObject
{
    Q_OBJECT
private slots:
    void releasesOnceSettledAfterWork_data();
    void releasesOnceSettledAfterWork();
};

void HeapReleaseTest::releasesOnceSettledAfterWork_data()
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

void HeapReleaseTest::releasesOnceSettledAfterWork()
{
    QFETCH(QList<int>, frames);
    QFETCH(int, releases);
    QQuickWindow window;
    int released = 0;
    new HeapRelease(&window, [&released] { ++released; }, kPeriodMs, kIntervalMs);
    QElapsedTimer clock;
    clock.start();
    int before = 0;
    for (int i = 0; i < frames.size(); ++i) {
        for (int f = 0; f < frames[i]; ++f)
            emit window.frameSwapped();
        if (frames[i] > HeapRelease::kQuietFrames)
            before = released; // nothing goes back while the window works
        QTest::qWait(kPeriodMs * 6 / 10);
        if (frames[i] > HeapRelease::kQuietFrames)
            QCOMPARE(released, before);
    }
    // Settled: the last release (held back by the interval at most) has come.
    QTest::qWait(kIntervalMs + 3 * kPeriodMs);
    QCOMPARE(released, releases);
}

QTEST_MAIN(HeapReleaseTest)
#include "tst_heap_release.moc"
