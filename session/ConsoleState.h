#pragma once
// What the console is doing, held in one place: the element shown (its key and its record as
// loaded), its role, whether a discovery collects answers, and the configuration last sent to
// it. The window's captions are written from here and never read back to decide anything.

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

#include "database/ElementStore.h"
#include "link/Datagrams.h"

namespace nms {

// None: no element is shown. Unknown: an element whose role is neither encoder nor decoder.
enum class ElementRole { None, Unknown, Encoder, Decoder };

// The role as the window shows it: "<Unknown>", "UNKNOWN", "ENCODER" or "DECODER".
QString RoleCaption(ElementRole role);
// A stored role value: 1 encoder, 2 decoder, any other number or text an unknown role.
ElementRole RoleFromStored(const QString& stored);
// The audio selectors' choices as the editor lists them, in the order of their positions.
QStringList AudioInputChoices(); // "Digital", "Analog"
QStringList AudioTypeChoices(); // "Left/Right", "MPX"
QStringList AudioTxChoices(); // "Unicast", "Multicast"
// A stored list index as the list's position; -1 (nothing chosen) for a missing or foreign
// value, so that a damaged record can never be sent on as if it were valid.
int StoredListIndex(const QString& stored, int count);
// A stored record as the configuration the editor starts from: its texts as stored, its audio
// selectors as list positions (-1 where the stored value is none of them).
ConfigFields StoredConfigFields(const ElementRecord& record);

class ConsoleState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool hasSelection() const { return selected_.has_value(); }
    // The record as it was loaded; empty when nothing is selected.
    const ElementRecord& selected() const;
    QString selectedKey() const { return selected_ ? selected_->key : QString(); }
    // The MAC text of the selected element's key ("" for a key that is not 12 characters, or
    // when nothing is selected).
    QString selectedMacText() const;
    ElementRole role() const;

    bool discovering() const { return discovering_; }

    // The configuration last sent to the selected element, kept while that element stays
    // selected (reloads included), if any.
    const std::optional<ConfigFields>& lastSent() const { return lastSent_; }

    // Shows an element (also the same one again: its record is reloaded).
    void select(const ElementRecord& record);
    void clearSelection();
    void setDiscovering(bool discovering);
    void setLastSent(const ConfigFields& fields) { lastSent_ = fields; }

Q_SIGNALS:
    // After every select() and clearSelection(), also a reload of the element shown.
    void selectionChanged();
    // Another element, or another role, or nothing any more: what a reload of the same element
    // does not change (a running level meter goes on).
    void elementChanged();
    void discoveringChanged(bool discovering);

private:
    std::optional<ElementRecord> selected_;
    std::optional<ConfigFields> lastSent_;
    bool discovering_ = false;
};

} // namespace nms
