// The bytes of the event pipe: framing into records, however the reads
// split them, and the validation of each record.

#include "fuzzsupport.h"
#include "hookevent.h"
#include "jsonstreamdecoder.h"

#include <QRegularExpression>
#include <charconv>
#include <cstdint>

using Fuzz::check;

namespace {

// Whole, one byte at a time, or in uneven reads of 1 to 300 bytes.
QList<JsonStreamItem> decode(QByteArrayView stream, int chunking, qsizetype maximumPending)
{
    JsonStreamDecoder decoder(maximumPending);
    QList<JsonStreamItem> items;
    quint32 state = quint32(stream.size()) * 2654435761u + 1;
    for (qsizetype at = 0, size = 0; at < stream.size(); at += size) {
        state = state * 1103515245u + 12345u;
        size = qMin<qsizetype>(stream.size() - at,
                               chunking == 0   ? stream.size()
                               : chunking == 1 ? 1
                                               : 1 + (state >> 16) % ((state & 1) ? 7 : 300));
        items.append(decoder.feed(stream.sliced(at, size)));
        check(decoder.pendingBytes() <= maximumPending, "pending bytes stay bounded");
    }
    items.append(decoder.finish());
    check(decoder.pendingBytes() == 0, "finish empties the buffer");
    return items;
}

// Base-10 signed 64-bit with an optional sign, by another road.
std::optional<qint64> referenceProcessId(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("\\A[+-]?[0-9]+\\z"));
    const QByteArray digits = text.toLatin1().replace('+', "");
    qint64 value = 0;
    const bool ok = number.match(text).hasMatch() &&
                    std::from_chars(digits.cbegin(), digits.cend(), value).ec == std::errc();
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // Anything at all, with a line limit small enough for the fuzzer to reach.
    for (int chunking : {0, 1, 2}) {
        for (const JsonStreamItem &item : decode(input, chunking, 512)) {
            if (!std::holds_alternative<JsonRecord>(item))
                continue;
            const JsonRecord &record = std::get<JsonRecord>(item);
            const QString instance = record.object.value(u"instance").toString();
            check(parseProcessId(instance) == referenceProcessId(instance),
                  "process ids parse like std::from_chars");
            const auto decoded = decodeHookRecord(record.object, record.bytes, 4242);
            if (const auto *event = std::get_if<HookEvent>(&decoded))
                check(event->event == record.object.value(u"event").toString() &&
                          event->record == record.bytes &&
                          event->pid == (instance == u"$PPID" ? 4242 : parseProcessId(instance)) &&
                          event->tool.has_value() == record.object.value(u"tool").isString(),
                      "a record keeps its event, pid, tool and bytes");
        }
    }
    // One document per line, as the hook command writes: the same records,
    // and nothing else, whatever the reads look like.
    QByteArray framed;
    QList<JsonStreamItem> expected;
    for (QByteArrayView line : QByteArray::fromRawData(input.data(), input.size()).split('\n')) {
        const auto item = decodeJsonDocument(line);
        if (item && std::holds_alternative<JsonDecodeFailure>(*item))
            continue;
        if (item)
            expected.append(*item);
        framed.append(line).append('\n');
    }
    for (int chunking : {0, 1, 2})
        check(decode(framed, chunking, JsonStreamDecoder::defaultMaximumPendingBytes) == expected,
              "line-framed records do not depend on the reads");
    return 0;
}
