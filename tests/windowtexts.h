#pragma once

// What the window says and how it colours it, as the tests expect to read it back. Kept
// apart from the program's own constants on purpose: a typo there must fail here.

#include <QColor>
#include <QString>
#include <QStringList>

namespace expected {

inline const QString kHeader = QStringLiteral("List of devices attached\n");
inline const QString kCloseTitle = QStringLiteral("Готово — закрыть установщик");
inline const QString kFailedBadge = QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА");
inline const QStringList kFoundSteps{QStringLiteral("✓   Найдём экран"), QStringLiteral("✓   Проверим систему"),
                                     QStringLiteral("3   Установим Zorvik App")};
inline const QStringList kDoneSteps{QStringLiteral("✓   Найдём экран"), QStringLiteral("✓   Проверим систему"),
                                    QStringLiteral("✓   Установим Zorvik App")};
inline const QColor kGreen = QColor::fromRgbF(0.08f, 0.68f, 0.38f);

} // namespace expected
