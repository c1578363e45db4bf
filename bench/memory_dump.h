#pragma once

#include <QFile>
#include <QString>

#include <cstdio>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// PELORIN_BENCH_MEMORY_DUMP=<folder>: beside a memory figure, the process's
// mappings (smaps) and its heap's state (malloc_info) as they were when it
// was read, written as <tag>.smaps and <tag>.malloc.xml, to see what holds
// the memory by mapping and by arena.
inline void dumpMemory(const QString &tag)
{
    const QString folder = qEnvironmentVariable("PELORIN_BENCH_MEMORY_DUMP");
    if (folder.isEmpty())
        return;
    // Read whole: a file of /proc tells no size, which QFile::copy trusts.
    QFile maps(QStringLiteral("/proc/self/smaps"));
    QFile copy(folder + QLatin1Char('/') + tag + QStringLiteral(".smaps"));
    if (maps.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        copy.write(maps.readAll());
#ifdef __GLIBC__
    if (FILE *out = std::fopen(QFile::encodeName(folder + QLatin1Char('/') + tag + QStringLiteral(".malloc.xml")), "w")) {
        malloc_info(0, out);
        std::fclose(out);
    }
#endif
}
