#pragma once
// The element selector built from the database: lstHidden holds the keys in file order,
// lstElements the display texts "name [MAC text]" at the same positions.

#include <QObject>

namespace nms {

class FrmMain;

class ElementList : public QObject {
    Q_OBJECT
public:
    explicit ElementList(FrmMain& window);

    // Rebuilds both lists from nms.ini and brings back the element shown before.
    void Load_Config();

    static QString DisplayText(const QString& name, const QString& key);

private:
    void updateCountCaption();

    FrmMain& w;
    int generation_ = 0;
};

} // namespace nms
