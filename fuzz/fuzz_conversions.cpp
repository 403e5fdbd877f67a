// Arbitrary text through the dotted-quad and name conversions, read both as the wire's one
// character per byte and as UTF-8, with the properties the rest of the console relies on.

#include <QString>

#include <cstdio>
#include <cstdlib>

#include "base/AddressText.h"
#include "database/ElementRecords.h"
#include "link/Datagrams.h"
#include "services/EchoService.h"
#include "services/MacLookup.h"

using namespace nms;

namespace {

[[noreturn]] void Fail(const char* what, const QString& text)
{
    std::fprintf(stderr, "%s: \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

void Check(const QString& text)
{
    const QStringList parts = SplitDotted(text);
    if (!text.isEmpty() && parts.size() != text.count(QLatin1Char('.')) + 1)
        Fail("SplitDotted lost or invented a part", text);

    if (IsDottedQuad(text)) {
        if (parts.size() != 4)
            Fail("a dotted quad without four parts", text);
        for (const QString& part : parts) {
            quint8 value = 0;
            if (!DottedPartToByte(part, &value))
                Fail("a part of a dotted quad that is not a byte", text);
        }
    }
    // The checks, the senders, the echo probe and the neighbour lookup read an address alike.
    bool ok = false;
    Ipv4FromDottedText(text, &ok);
    if (ok != IsDottedQuad(text))
        Fail("the address reader and the dotted-quad check disagree", text);

    const QString fitted = FitElementName(text);
    if (fitted.size() != 16 || fitted != fitted.toUpper())
        Fail("a fitted name that is not 16 upper-case characters", text);
    if (FitElementName(fitted) != fitted)
        Fail("fitting a fitted name changed it", text);

    const QString macText = KeyToMacText(text);
    // Only keys whose letters keep their length when upper-cased ("ß" becomes "SS"): the MAC
    // text of any other key is longer than 17 characters.
    if (text.size() == 12 && text.toUpper().size() == 12) {
        if (macText.size() != 17)
            Fail("a 12-character key without a 17-character MAC text", text);
        if (!text.contains(QLatin1Char(':')) && MacTextToKey(macText) != text.toUpper())
            Fail("a key does not come back from its MAC text", text);
    } else if (text.size() != 12 && !macText.isEmpty()) {
        Fail("a MAC text from a key that is not 12 characters", text);
    }
    const QString key = MacTextToKey(text);
    if (text.size() != 17 && !key.isEmpty())
        Fail("a key from a MAC text that is not 17 characters", text);

    MacLookup::IpTextToAddress(text);
    MacLookup::FormatMac(text.toLatin1(), QStringLiteral(":"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return -1;
    const char* bytes = reinterpret_cast<const char*>(data);
    Check(QString::fromLatin1(bytes, qsizetype(size)));
    Check(QString::fromUtf8(bytes, qsizetype(size)));
    return 0;
}
