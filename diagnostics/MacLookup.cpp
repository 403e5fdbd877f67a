#include "diagnostics/MacLookup.h"

#include <QTimer>

#include "platform/EchoService.h"
#include "platform/NeighbourTable.h"
#include "shell/FrmMain.h"

namespace nms {

MacLookup::MacLookup(FrmMain& window) : QObject(&window), w(window), retry_(new QTimer(this))
{
    retry_->setInterval(RetryIntervalMs);
    // The window's length is a promise (five seconds), not a hint: no early coarse expiry.
    w.timerGetMAC->setTimerType(Qt::PreciseTimer);
    connect(retry_, &QTimer::timeout, this, &MacLookup::retry);
    connect(w.timerGetMAC, &QTimer::timeout, this, &MacLookup::timerGetMAC_Timer);
}

quint32 MacLookup::IpTextToAddress(const QString& ipText)
{
    bool ok = false;
    return Ipv4FromDottedText(ipText, &ok);
}

QString MacLookup::FormatMac(const QByteArray& bytes, const QString& separator)
{
    if (bytes.size() != 6)
        return QString();
    QString text;
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += separator;
        text += QStringLiteral("%1").arg(quint8(bytes.at(i)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

bool MacLookup::LookupMac(const QString& ipText, QString& macText, const QString& separator)
{
    const quint32 address = IpTextToAddress(ipText);
    if (address == 0)
        return false;
    NeighbourTable* table = w.environment().neighbours;
    if (!table)
        return false;
    QByteArray bytes = table->lookup(address);
    if (bytes.isEmpty()) {
        // The kernel learns an element's address only from its ARP traffic; one that moved and
        // answered without asking has to be resolved. Once per second is enough: the kernel keeps
        // probing by itself meanwhile.
        if (solicited_ != address || !sinceSolicit_.isValid() || sinceSolicit_.elapsed() >= SolicitAgainMs) {
            solicited_ = address;
            sinceSolicit_.start();
            table->solicit(address);
            bytes = table->lookup(address);
        }
    }
    const bool allZero = bytes.count('\0') == bytes.size();
    if (bytes.isEmpty() || allZero)
        return false;
    macText = FormatMac(bytes, separator);
    return true;
}

void MacLookup::FindMac(const QString& ipText, std::function<void(const QString&)> done)
{
    if (done_)
        end(QString());
    ipText_ = ipText;
    done_ = std::move(done);
    solicited_ = 0;
    w.timerGetMAC->start();
    retry();
}

void MacLookup::retry()
{
    if (!done_)
        return;
    if (!w.timerGetMAC->isActive()) {
        end(QString());
        return;
    }
    QString macText;
    if (LookupMac(ipText_, macText, QStringLiteral(":"))) {
        end(macText);
        return;
    }
    if (!retry_->isActive())
        retry_->start();
}

void MacLookup::timerGetMAC_Timer()
{
    // Each start of the timer gives exactly one tick; it marks the end of the window.
    w.timerGetMAC->stop();
    if (done_)
        end(QString());
}

void MacLookup::end(const QString& macText)
{
    retry_->stop();
    // The window is over before its owner hears of it, so the owner may open the next one.
    auto done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(macText);
}

} // namespace nms
