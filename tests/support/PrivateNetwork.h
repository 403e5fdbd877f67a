#pragma once
// Private network namespaces for the platform tests: the test process moves into one of its own,
// and a peer (a sleeping child in a second one, killed with the test) sits at the other end of a
// veth link. Nothing outside the test's own namespaces is touched.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace nms::test {

// Runs a program and waits; true when it exited 0 (its output goes to the test's).
bool RunCommand(const QString& program, const QStringList& arguments);
// `ip` with a blank-separated argument line.
bool IpCommand(const QString& line);

// Moves the calling process into a new network namespace. Returns why it could not (empty on
// success); `needsRootFor` says what the tests need root for.
QString EnterPrivateNetworkNamespace(const QString& needsRootFor);

class PeerNamespace {
public:
    ~PeerNamespace();
    // Starts the peer and links veth0 (here) to veth1 (there).
    bool start();
    // Runs a shell line inside the peer's namespace.
    bool run(const QString& shellLine) const;

private:
    QProcess process_;
};

} // namespace nms::test
