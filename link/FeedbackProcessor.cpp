#include "link/FeedbackProcessor.h"

#include <QTimer>

#include "database/Conversions.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "diagnostics/MacLookup.h"
#include "link/LinkEndpoint.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {

const QChar CR(u'\r');

QString SaveMessage(const char* field)
{
    return QStringLiteral("An error occured while saving '%1':").arg(QLatin1String(field)) + CR
        + QStringLiteral("Feedback is corrupted.");
}

} // namespace

FeedbackProcessor::FeedbackProcessor(FrmMain& window) : QObject(&window), w(window)
{
    connect(w.link, &LinkEndpoint::feedbackArrived, this, &FeedbackProcessor::Enqueue);
}

void FeedbackProcessor::Enqueue(const QByteArray& datagram)
{
    if (queue_.size() >= (w.AutoDiscoverAwaiting ? DiscoveryQueueLimit : QueueLimit)) {
        ++dropped_;
        return;
    }
    queue_.enqueue(datagram);
    if (!running_ && !scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, &FeedbackProcessor::startNext);
    }
}

void FeedbackProcessor::startNext()
{
    scheduled_ = false;
    if (running_ || queue_.isEmpty())
        return;
    running_ = true;
    Process_Feedback(queue_.dequeue());
}

void FeedbackProcessor::Process_Feedback(const QByteArray& datagram)
{
    current_ = ParseFeedback(datagram, LastFeedback);
    LastFeedback = current_;

    const FeedbackCheck check = ValidateFeedback(current_);
    if (check != FeedbackCheck::Ok) {
        // The reply timer keeps running: the operator also sees the timeout after this.
        w.messages().error(ProgramTitle(), FeedbackCheckMessage(check));
        finish();
        return;
    }
    w.timerRemoteSent->stop();
    // The address the element reports: after a ConfigWrite, its new one.
    w.macLookup->FindMac(current_.ElementIP, [this](const QString& macText) { macFound(macText); });
}

void FeedbackProcessor::macFound(const QString& macText)
{
    if (macText.isEmpty()) {
        w.messages().error(ProgramTitle(),
                           QStringLiteral("An error occured while retrieving 'Element MAC':") + CR
                               + QStringLiteral("Feedback is corrupted."));
        finish();
        return;
    }
    current_.ElementMAC = macText;
    LastFeedback.ElementMAC = macText;
    if (w.AutoDiscoverAwaiting)
        discoveryBranch();
    else
        selectedBranch();
    finish();
}

void FeedbackProcessor::discoveryBranch()
{
    // One rewrite for the whole section, so that a section is either there with all its entries
    // or not at all.
    QList<QPair<QString, QString>> entries = {
        {QStringLiteral("name"), FitElementName(current_.ElementName)},
        {QStringLiteral("ip"), current_.ElementIP},
        {QStringLiteral("mask"), current_.ElementMask},
        {QStringLiteral("gw"), current_.ElementGW},
        {QStringLiteral("remote"), current_.RemoteIP},
        {QStringLiteral("input"), QString::number(current_.AudioInput)},
        {QStringLiteral("type"), QString::number(current_.AudioType)},
        {QStringLiteral("tx"), QString::number(current_.AudioTX)},
        {QStringLiteral("role"), QString::number(current_.Role)},
        {QStringLiteral("sn"), QString::number(current_.SerialNumber)},
    };
    if (current_.Role == RoleDecoder)
        entries.append({QStringLiteral("att"), QString::number(current_.Attenuation)});
    if (!WriteIniEntries(MacTextToKey(current_.ElementMAC), entries, w.databasePath()))
        databaseError();
}

void FeedbackProcessor::selectedBranch()
{
    if (w.lblElementMAC->caption() != current_.ElementMAC) {
        w.messages().error(ProgramTitle(),
                           QStringLiteral("The response received does not match the selected element.") + CR
                               + QStringLiteral("Cannot save this element info."));
        return;
    }
    const QString key = MacTextToKey(current_.ElementMAC);
    if (GetSectionKeyCount(key, w.databasePath()) > MaxSoundSectionEntries) {
        w.messages().error(ProgramTitle(),
                           QStringLiteral("The data stored in your computer about this element, is corrupted.") + CR
                               + QStringLiteral("Cannot save this element info."));
        return;
    }

    // The editor as it was when the answer was matched to it: a box shown below runs a nested
    // loop, and edits made meanwhile must not change what this answer confirms.
    const QString name = w.txtElementName->text();
    const QString ip = w.txtElementIP->text();
    const QString mask = w.txtElementMask->text();
    const QString gw = w.txtElementGW->text();
    const QString remote = w.txtRemoteIP->text();
    const int input = w.cmbAudioInput->currentIndex();
    const int type = w.cmbAudioType->currentIndex();
    const int tx = w.cmbAudioTX->currentIndex();

    bool saveFailed = false;
    // One row: stores the value where the element confirms it, else reports the field.
    // False only when the database could not be written (the run then ends).
    auto confirm = [&](bool confirmed, const char* entry, const QString& value, const char* field) {
        if (!confirmed) {
            saveFailed = true;
            w.messages().error(ProgramTitle(), SaveMessage(field));
            return true;
        }
        return store(entry, value);
    };
    auto selector = [](int position, quint8 reported) { return position >= 0 && position == int(reported); };

    if (!confirm(name.trimmed().toUpper() == current_.ElementName.trimmed().toUpper(), "name", FitElementName(name),
                 "Element Name")
        || !confirm(ip == current_.ElementIP, "ip", ip, "Element IP")
        || !confirm(mask == current_.ElementMask, "mask", mask, "Element Mask")
        || !confirm(gw == current_.ElementGW, "gw", gw, "Element GW")
        || !confirm(remote == current_.RemoteIP, "remote", remote, "Remote IP")
        || !confirm(selector(input, current_.AudioInput), "input", QString::number(input), "Audio Input")
        || !confirm(selector(type, current_.AudioType), "type", QString::number(type), "Audio Type")
        || !confirm(selector(tx, current_.AudioTX), "tx", QString::number(tx), "Audio TX"))
        return;

    if (!store("role", QString::number(current_.Role)))
        return;
    switch (current_.Role) {
    case RoleEncoder: w.lblElementType->setCaption(QStringLiteral("ENCODER")); break;
    case RoleDecoder: w.lblElementType->setCaption(QStringLiteral("DECODER")); break;
    default:
        w.lblElementType->setCaption(QStringLiteral("UNKNOWN"));
        saveFailed = true;
        break;
    }

    const QString serial = QString::number(current_.SerialNumber);
    w.lblSerialNumber->setCaption(serial);
    if (!store("sn", serial))
        return;

    // Every role: an encoder's section gets the attenuation of the last decoder that answered.
    if (current_.Attenuation < w.scrlAtten->minimum()) {
        current_.Attenuation = quint8(w.scrlAtten->minimum());
        LastFeedback.Attenuation = current_.Attenuation;
    }
    w.scrlAtten->setValue(current_.Attenuation);
    if (!store("att", QString::number(current_.Attenuation)))
        return;

    if (!saveFailed)
        w.messages().notice(QStringLiteral("Configuration changed"),
                            QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
}

bool FeedbackProcessor::store(const char* key, const QString& value)
{
    if (WriteToINI(MacTextToKey(current_.ElementMAC), QLatin1String(key), value, w.databasePath()))
        return true;
    databaseError();
    return false;
}

void FeedbackProcessor::databaseError()
{
    w.messages().error(QStringLiteral("Error!"),
                       QStringLiteral("The local database (%1) could not be written.").arg(w.databasePath()) + CR
                           + QStringLiteral("The element's answer was not saved."));
}

void FeedbackProcessor::finish()
{
    // Outside a discovery the window and the list follow the database after every answer.
    if (!w.AutoDiscoverAwaiting)
        w.Load_Config();
    running_ = false;
    Q_EMIT feedbackHandled();
    if (!queue_.isEmpty() && !scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, &FeedbackProcessor::startNext);
    }
}

} // namespace nms
