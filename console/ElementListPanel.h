#pragma once
// The element selector: lstElements lists the elements of the database as "name [MAC text]",
// lstHidden holds their keys at the same positions, lblElementsList counts them. Picking an entry
// shows that element.

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

    // Rebuilds both lists from the database (one read) and shows again the element shown before.
    void Load_Config();
    // The operator's pick (also of the entry already shown), and the reselection of a reload.
    void lstElements_Click();
    // Both lists emptied, as a discovery starts.
    void clear();
    // Picks the entry of that key as the operator would; false when it is not listed.
    bool pick(const QString& key);

    const QStringList& lstHidden() const { return lstHidden_; }

    static QString DisplayText(const QString& name, const QString& key);

private:
    void updateCountCaption();

    ElementListControls c_;
    ConsoleCore& core_;
    QStringList lstHidden_;
};

} // namespace nms
