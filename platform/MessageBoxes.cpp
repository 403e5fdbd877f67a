#include "platform/MessageBoxes.h"

#include <QFontMetrics>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

#include <algorithm>

namespace nms {

MsgAnswer QtMessageBoxes::show(MsgIcon icon, const QString& title, const QString& text, bool question)
{
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    switch (icon) {
    case MsgIcon::Information: boxIcon = QMessageBox::Information; break;
    case MsgIcon::Error: boxIcon = QMessageBox::Critical; break;
    case MsgIcon::Question: boxIcon = QMessageBox::Question; break;
    case MsgIcon::Warning: boxIcon = QMessageBox::Warning; break;
    }
    // The texts keep their CR joins; on screen a CR is a line break.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QPointer<QMessageBox> box =
        new QMessageBox(boxIcon, title.isEmpty() ? ProgramTitle() : title, shown, QMessageBox::NoButton, parent_);
    box->setTextFormat(Qt::PlainText);
    // Each CR-joined line stays whole: the box is made as wide as its longest line.
    const QFontMetrics metrics(box->font());
    int widest = 0;
    for (const QString& line : shown.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }").arg(std::min(widest + 8, 900)));
    if (question) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
    }
    const int result = box->exec();
    delete box.data();
    if (!question)
        return MsgAnswer::Ok;
    return result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

std::optional<QString> QtMessageBoxes::askText(const QString& title, const QString& label)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, title, label, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

} // namespace nms
