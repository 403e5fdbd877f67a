#pragma once
// Adding one element by its address, without giving up the database: one paging request to that
// address only, and its answer recorded as a discovery records a section (replacing the element's
// section in place if it is stored already). No answer within the window: the database is as it was.

#include <QObject>
#include <QString>

#include "base/Timing.h"
#include "session/AnswerCollector.h"

class QTimer;

namespace nms {

class AttachedNetworks;
class ElementStore;
class LinkEndpoint;
class Notices;

class ManualAdd : public QObject, public AnswerCollector {
    Q_OBJECT
public:
    ManualAdd(ElementStore& store, LinkEndpoint& link, AttachedNetworks& networks, Notices& notices,
              const Timing& timing, QObject* parent = nullptr);

    // Asks the element at the address. False when nothing was sent: the operator has been told why
    // (not an address, not on an attached network, the send failed, an add already waiting).
    bool start(const QString& address);
    bool running() const;
    QString address() const { return address_; }
    void abort();

    // The answer of the element asked: the one reporting the address it was asked at.
    bool collect(const ElementFeedback& feedback) override;

Q_SIGNALS:
    // The element's section was written.
    void added(const QString& key);
    // The window ended without an answer (the operator has been told).
    void unanswered();

private:
    void windowEnded();

    ElementStore& store_;
    LinkEndpoint& link_;
    AttachedNetworks& networks_;
    Notices& notices_;
    QTimer* window_;
    QString address_;
};

} // namespace nms
