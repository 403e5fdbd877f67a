#pragma once
// The element selector: lstElements lists the core's elements as "name [MAC text]", lstHidden
// holds their keys at the same positions, lblElementsList counts them. The list follows the
// core's element list and its selection; picking an entry shows that element.

#include <QObject>
#include <QStringList>

class QComboBox;

namespace nms {

class ConsoleCore;
class Label;

struct ElementListControls {
    QComboBox* lstElements = nullptr;
    Label* lblElementsList = nullptr;
};

class ElementListPanel : public QObject {
    Q_OBJECT
public:
    ElementListPanel(const ElementListControls& controls, ConsoleCore& core, QObject* parent = nullptr);

    // The operator's pick (also of the entry already shown).
    void lstElements_Click();
    // Picks the entry of that key as the operator would; false when it is not listed.
    bool pick(const QString& key);

    const QStringList& lstHidden() const { return lstHidden_; }

    static QString DisplayText(const QString& name, const QString& key);

private:
    void showElements();
    void showSelection();
    void updateCountCaption();

    ElementListControls c_;
    ConsoleCore& core_;
    QStringList lstHidden_;
};

} // namespace nms
