#pragma once
// Showing the element picked in lstElements: its stored record goes into the detail controls
// (whose own change handlers then run) and one echo probe of its stored address starts.

#include <QObject>

class QComboBox;

namespace nms {

class FrmMain;

class ElementSelection : public QObject {
    Q_OBJECT
public:
    explicit ElementSelection(FrmMain& window);

    void lstElements_Click();

    // A stored list index as the list's position; -1 (nothing chosen) for a missing or foreign
    // value, so that a damaged record can never be sent on as if it were valid.
    static int StoredListIndex(const QString& stored, int count);

private:
    FrmMain& w;
};

} // namespace nms
