#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Every picture of the module is described here as SVG text; main.cpp
// writes the vector files as they are and rasterises the rest.
namespace art {

QString svgDocument(double w, double h, const QString &body);

// The 31 white line icons, keyed by file name without ".svg".
QMap<QString, QString> lineIcons();

// Still pictures (100 by 100 unless stated).
QString humanAvatar(int seed, bool girl, double phase = 0, bool blink = false, bool glasses = false);
QString animalAvatar(int index);
QString defaultUser();   // 300 by 300
QString defaultGroup();  // 300 by 300
QString verifyBadge();   // 100 by 100, transparent

// Frame sets: frame n of count.
QString logoFrame(int n, int count);
QString officialFrame(int n, int count);
QString authorFrame(int n, int count);
QString playFrame(int n, int count);
QString chatroomFrame(int n, int count);
QString lottieHeadFrame(int set, int n, int count);

// Animated emoji: the code list and one frame of a code.
QStringList emojiCodes();
QString emojiFrame(const QString &code, int n, int count);

} // namespace art
