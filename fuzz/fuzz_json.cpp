// libFuzzer target for the lenient JSON reader. Besides not crashing, whatever
// the reader accepts must survive a write and a second read.
#include "jsoncodec.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Failures log to the debug stream; millions of them would drown the run.
    static const bool quiet = (qInstallMessageHandler(discardMessages), true);
    (void)quiet;

    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    bool ok = false;
    QString comments;
    const QVariant value = JsonCodec::parse(text, &ok, &comments);
    if (text.isEmpty())
        return 0;
    if (!ok) {
        if (value.isValid())
            __builtin_trap();  // a failure must give a null variant
        return 0;
    }
    // Writing may normalise once (-0 becomes 0, doubles keep 15 digits); after
    // that, writing and reading again must be a fixed point.
    bool again = false;
    const QString first = JsonCodec::serialize(JsonCodec::parse(JsonCodec::serialize(value), &again));
    if (!again)
        __builtin_trap();
    const QString second = JsonCodec::serialize(JsonCodec::parse(first, &again));
    if (!again || first != second)
        __builtin_trap();
    return 0;
}
