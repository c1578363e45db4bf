// Shared helpers of the fuzz targets: one Qt application object per process
// (some library paths expect it) and quiet logging so that the fuzzer output
// stays readable.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

inline void quietHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void initQt()
{
    static int argc = 1;
    static char name[] = "pelorin-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = nullptr;
    if (!app) {
        qInstallMessageHandler(quietHandler);
        app = new QCoreApplication(argc, argv);
    }
}

// Splits the input into a selector byte and the rest.
struct Input
{
    unsigned selector = 0;
    QByteArray bytes;
};

inline Input split(const uint8_t *data, size_t size)
{
    Input input;
    if (size == 0)
        return input;
    input.selector = data[0];
    input.bytes = QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    return input;
}

} // namespace fuzzsupport
