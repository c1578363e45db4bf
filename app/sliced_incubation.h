// How the QML engine builds what is made asynchronously (the home view a
// sign-in loads): in slices of the window's thread, one after another with
// the event loop run between them, until it is built.
#pragma once

#include <QObject>
#include <QQmlIncubationController>

namespace velmor::app {

class SlicedIncubation : public QObject, public QQmlIncubationController
{
public:
    // Longest slice: the window answers within about this long while a
    // view is built (an object is never cut, so one slice may run over).
    static constexpr int kSliceMs = 20;

    explicit SlicedIncubation(QObject *parent = nullptr);

protected:
    void incubatingObjectCountChanged(int incubatingObjectCount) override;

private:
    void schedule();
    void slice();

    bool m_scheduled = false;
};

} // namespace velmor::app
