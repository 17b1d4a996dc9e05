#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

// Shows an application-modal alert made afresh for this one question. The first button is
// the default; Escape and the window's close button answer with the last one, or with the
// first when `escapeIsDefault`. Returns whether the first button was pressed. While the
// alert is open, `*shown` points at it.
bool runAlert(QWidget *parent, const QString &message, const QString &informative, const QStringList &buttons,
              bool escapeIsDefault = false, QPointer<QMessageBox> *shown = nullptr);
