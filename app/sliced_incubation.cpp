#include "app/sliced_incubation.h"

#include <QTimer>

namespace velmor::app {

// Qt Quick's own controller gives a view a few milliseconds a frame, and
// while anything animates (the login view's logo) only once a frame: the
// home view, about 170 ms of work, took two to three times that to come up.
SlicedIncubation::SlicedIncubation(QObject *parent)
    : QObject(parent)
{
}

void SlicedIncubation::incubatingObjectCountChanged(int incubatingObjectCount)
{
    if (incubatingObjectCount > 0)
        schedule();
}

// Queued, so input, timers and the frames the window asks for are answered
// between two slices.
void SlicedIncubation::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, &SlicedIncubation::slice);
}

void SlicedIncubation::slice()
{
    m_scheduled = false;
    incubateFor(kSliceMs);
    if (incubatingObjectCount() > 0)
        schedule();
}

} // namespace velmor::app
