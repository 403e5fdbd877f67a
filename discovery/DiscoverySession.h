#pragma once
// One auto discovery: the database emptied, a paging request out of every attached network, the
// answers of the next few seconds recorded as new sections (grouped, one rewrite per batch), then
// the end. A discovery that could not page anywhere gives the old database back byte for byte.

#include <QHostAddress>
#include <QList>
#include <QObject>

#include "base/Timing.h"
#include "database/ElementStore.h"
#include "session/AnswerCollector.h"

class QTimer;

namespace nms {

class AttachedNetworks;
class ConsoleState;
class LinkEndpoint;
class Notices;

class DiscoverySession : public QObject, public AnswerCollector {
    Q_OBJECT
public:
    DiscoverySession(ConsoleState& state, ElementStore& store, LinkEndpoint& link, AttachedNetworks& networks,
                     Notices& notices, const Timing& timing,
                     const QHostAddress& pagingAddress = QHostAddress::Broadcast, QObject* parent = nullptr);

    // Empties the database and pages every attached network. False when paging could not start:
    // the operator has been told why, and the database is as it was.
    bool start();
    bool running() const;
    // Ends a running discovery at once and quietly (shutdown); what was recorded is written.
    void abort();

    bool collect(const ElementFeedback& feedback) override;

    // Of the last discovery: the networks paged, and the answers recorded and written.
    int paged() const { return paged_; }
    int recorded() const { return recorded_; }
    int written() const { return written_; }

Q_SIGNALS:
    // Paging went out; answers are being collected.
    void started();
    // A batch of recorded answers reached the file.
    void batchWritten(int sections);
    // The window is over and every answer it recorded is on disk (or reported as not written).
    void finished();

private:
    void Timer1_Timer();
    void end();
    void flush();

    ConsoleState& state_;
    ElementStore& store_;
    LinkEndpoint& link_;
    AttachedNetworks& networks_;
    Notices& notices_;
    QHostAddress pagingAddress_;
    QTimer* Timer1_;
    QTimer* batchTimer_;
    QList<ProfileFile::SectionEntries> batch_;
    int paged_ = 0;
    int recorded_ = 0;
    int written_ = 0;
};

} // namespace nms
