#pragma once
// What an element's feedback does: checked field by field, its element found by the hardware
// address of the address it reports, and then either written as a new element (while a discovery
// waits for answers) or, for the element shown in the window, stored field by field where the
// element confirms what the editor holds.
//
// Feedbacks are handled one at a time in arrival order. One that arrives while another is still
// being handled (waiting for its MAC address or behind a message box) waits in a bounded queue;
// each run works on its own copy of the record, so a later feedback never changes what an earlier
// run goes on to store.

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>

#include "link/Feedback.h"

namespace nms {

class FrmMain;

class FeedbackProcessor : public QObject {
    Q_OBJECT
public:
    explicit FeedbackProcessor(FrmMain& window);

    // Feedbacks waiting beyond the one being handled; more are dropped. Outside a discovery an
    // answer is expected from one element, and each waiting feedback may cost the operator a
    // message box: a few dozen at most. A discovery of a large LAN brings all its answers at once
    // (250 elements within a few milliseconds), recorded without a box, each in its turn.
    static constexpr int QueueLimit = 32;
    static constexpr int DiscoveryQueueLimit = 256;

    // Takes one received feedback (40 or 41 bytes). It is handled from the event loop, never from
    // inside this call, so the socket keeps being read while it runs.
    void Enqueue(const QByteArray& datagram);

    // The last feedback received, as the window keeps it (ElementMAC from the last MAC found,
    // Attenuation from the last decoder).
    ElementFeedback LastFeedback;

    bool busy() const { return running_; }
    int waiting() const { return queue_.size(); }
    int dropped() const { return dropped_; }

Q_SIGNALS:
    // One feedback has been handled to its end (reload included).
    void feedbackHandled();

private:
    void startNext();
    void Process_Feedback(const QByteArray& datagram);
    void macFound(const QString& macText);
    void discoveryBranch();
    void selectedBranch();
    // False (after the database error) when the entry did not reach the file.
    bool store(const char* key, const QString& value);
    void databaseError();
    void finish();

    FrmMain& w;
    QQueue<QByteArray> queue_;
    bool running_ = false;
    bool scheduled_ = false;
    int dropped_ = 0;
    ElementFeedback current_; // the record of the run in progress
};

} // namespace nms
