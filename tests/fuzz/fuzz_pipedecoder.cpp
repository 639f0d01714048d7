// The bytes of the event pipe: framing into records, however the reads
// split them, and the validation of each record.

#include "fuzzsupport.h"
#include "hookevent.h"
#include "jsonstreamdecoder.h"

#include <QJsonDocument>
#include <algorithm>
#include <charconv>
#include <cstdint>

using Fuzz::check;

namespace {

// How the listener's reads split the stream.
enum class Chunking { whole, bytewise, uneven };

QList<JsonStreamItem> decode(QByteArrayView stream, Chunking chunking, qsizetype maximumPending)
{
    JsonStreamDecoder decoder(maximumPending);
    QList<JsonStreamItem> items;
    quint32 state = quint32(stream.size()) * 2654435761u + 1; // read sizes of 1 to 300 bytes
    for (qsizetype at = 0, size = 0; at < stream.size(); at += size) {
        size = stream.size() - at;
        if (chunking == Chunking::bytewise) {
            size = 1;
        } else if (chunking == Chunking::uneven) {
            state = state * 1103515245u + 12345u;
            size = qMin<qsizetype>(size, 1 + (state >> 16) % ((state & 1) ? 7 : 300));
        }
        items.append(decoder.feed(stream.sliced(at, size)));
        check(decoder.pendingBytes() <= maximumPending, "pending bytes stay bounded");
    }
    items.append(decoder.finish());
    check(decoder.pendingBytes() == 0, "finish empties the buffer");
    return items;
}

QList<JsonRecord> records(const QList<JsonStreamItem> &items, qsizetype *failures = nullptr)
{
    QList<JsonRecord> found;
    for (const JsonStreamItem &item : items) {
        if (const auto *record = std::get_if<JsonRecord>(&item))
            found.append(*record);
        else if (failures)
            ++*failures;
    }
    return found;
}

// Base-10 signed 64-bit with an optional sign, by another road.
std::optional<qint64> referenceProcessId(const QString &text)
{
    QByteArray ascii = text.toLatin1(); // nothing beyond ASCII is a digit
    const bool negative = ascii.startsWith('-');
    if (negative || ascii.startsWith('+'))
        ascii.remove(0, 1);
    if (ascii.isEmpty() ||
        !std::all_of(ascii.cbegin(), ascii.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (negative)
        ascii.prepend('-');
    qint64 value = 0;
    const auto [end, error] = std::from_chars(ascii.cbegin(), ascii.cend(), value);
    if (error != std::errc() || end != ascii.cend())
        return std::nullopt;
    return value;
}

void checkRecord(const JsonRecord &record)
{
    check(QJsonDocument::fromJson(record.bytes).object() == record.object,
          "a record's bytes are its object");
    const QString instance = record.object.value(u"instance").toString();
    check(parseProcessId(instance) == referenceProcessId(instance),
          "process ids parse like std::from_chars");
    const auto decoded = decodeHookRecord(record.object, record.bytes, 4242);
    if (const auto *event = std::get_if<HookEvent>(&decoded)) {
        check(event->event == record.object.value(u"event").toString() &&
                  event->record == record.bytes,
              "the event name and the record are kept");
        check(event->pid == (instance == u"$PPID" ? 4242 : parseProcessId(instance)),
              "the pid is the instance field");
        check(event->tool.has_value() == record.object.value(u"tool").isString(),
              "a tool is kept when it is text");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // Anything at all, with a line limit small enough for the fuzzer to reach.
    for (Chunking chunking : {Chunking::whole, Chunking::bytewise, Chunking::uneven})
        for (const JsonRecord &record : records(decode(input, chunking, 512)))
            checkRecord(record);

    // One document per line, as the hook command writes: the same records,
    // and nothing else, whatever the reads look like.
    QByteArray framed;
    QList<JsonRecord> expected;
    for (QByteArrayView line : QByteArray::fromRawData(input.data(), input.size()).split('\n')) {
        const auto item = decodeJsonDocument(line);
        if (item && std::holds_alternative<JsonDecodeFailure>(*item))
            continue;
        if (item)
            expected.append(std::get<JsonRecord>(*item));
        framed.append(line).append('\n');
    }
    for (Chunking chunking : {Chunking::whole, Chunking::bytewise, Chunking::uneven}) {
        qsizetype failures = 0;
        const QList<JsonRecord> found = records(
            decode(framed, chunking, JsonStreamDecoder::defaultMaximumPendingBytes), &failures);
        check(failures == 0, "valid lines never fail");
        check(found == expected, "line-framed records do not depend on the reads");
    }
    return 0;
}
