#pragma once
// Command-line options of the element simulator and their checked values.

#include "SimWire.h"

#include <QCommandLineParser>
#include <QString>

#include <optional>

namespace sim {

struct SimOptions {
    quint8 role = 1; // role byte as sent (raw with --role-byte)
    QByteArray name; // 16 bytes
    SerialGroups serial {0, 0, 0, 1};
    std::optional<quint32> mask; // default: the interface's own mask
    quint32 gateway = 0;
    quint32 remote = 0;
    quint8 input = 0;
    quint8 type = 0;
    quint8 tx = 0;
    quint8 attenuation = 255;
    int feedbackLength = 0; // 0: 41 for a decoder, 40 otherwise
    QString interfaceName = QStringLiteral("eth0");
    QString logFile; // empty: no log; "-": standard output
    QString controlPath; // empty: no control FIFO
    qint32 levelPeak = 0;

    bool noAnswer = false;
    bool shortReply = false;
    int delayMs = 0;
    std::optional<quint32> reportIp;
    std::optional<QByteArray> reportName;
    bool ignoreConfigFields = false;
    bool keepAddress = false;
    bool moveHostAddress = false;
    // Many elements from one process: element I on interface <interfaceName>I, its sockets bound
    // to that interface alone.
    int elements = 0;
    bool bindToInterface = false;

    quint16 pagingPort = 1901;
    quint16 configPort = 2976;
    quint16 commandPort = 2977;
    quint16 replyPort = 2976;

    int effectiveFeedbackLength() const;
};

// The options of element I (1-based) when one process plays `elements` of them: its own
// interface, "<name> I" as name, serial ((I - 1) mod 255) + 1, addresses only reported as moved.
SimOptions elementOptions(const SimOptions& shared, int i);

// Declares every option on `parser` (with --help and --version).
void declareOptions(QCommandLineParser& parser);

// Reads the parsed options; on a bad value returns nullopt and says why in `error`.
std::optional<SimOptions> readOptions(const QCommandLineParser& parser, QString* error);

} // namespace sim
