#include "steprules.h"

QList<StepLook> stepLooks(const QStringList &titles, int completed, std::optional<int> current)
{
    QList<StepLook> looks;
    for (int i = 0; i < titles.size(); ++i) {
        StepLook look;
        if (i < completed) {
            look.text = QStringLiteral("✓   ") + titles.at(i);
            look.colour = completed == 3 ? StepColour::Green : StepColour::White;
        } else {
            look.text = QString::number(i + 1) + QStringLiteral("   ") + titles.at(i);
            look.colour = current == i ? StepColour::White : StepColour::Pending;
        }
        looks.append(look);
    }
    return looks;
}

BusyLook busyLook(bool busy, qsizetype readyDeviceCount)
{
    return {!busy && readyDeviceCount > 0, !busy, busy};
}
