#include "alerts.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

#include <algorithm>

namespace {

// QMessageBox sizes itself on every show from its layout's minimum width, ignoring resize()
// and setMinimumWidth(), and on its own keeps an informative text to a narrow column of many
// short lines. A spacer under that text, as wide as a third of the text's length in the
// alert's own font, makes the column wide enough for the text to wrap into three or four
// lines, whatever the font and the screen's scale.
void widenForInformativeText(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    const int index = grid && label ? grid->indexOf(label) : -1;
    if (index < 0)
        return;
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    const int textWidth = QFontMetrics(label->font()).horizontalAdvance(label->text());
    const int width = std::clamp(textWidth / 3, 360, 640);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), column,
                  1, columnSpan);
}

} // namespace

bool runAlert(QWidget *parent, const QString &message, const QString &informative, const QStringList &buttons,
              bool escapeIsDefault, QPointer<QMessageBox> *shown)
{
    QMessageBox box(parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(QStringLiteral("Zorvik App Installer"));
    box.setText(message);
    box.setInformativeText(informative);
    QList<QPushButton *> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added << box.addButton(buttons.at(i), role);
    }
    box.setDefaultButton(added.first());
    box.setEscapeButton(escapeIsDefault ? added.first() : added.last());
    // Last: the setters above rebuild the box's layout.
    widenForInformativeText(box);
    if (shown)
        *shown = &box;
    box.exec();
    return box.clickedButton() == added.first();
}

