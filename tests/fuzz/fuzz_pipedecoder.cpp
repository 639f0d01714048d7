// The bytes of the event pipe: framing into documents, however the reads
// split them, and the validation of each record.

#include "fuzzcheck.h"
#include "hookevent.h"
#include "jsonstreamdecoder.h"

#include <QJsonValue>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using Fuzz::check;

namespace {

// How the reads of the listener split the stream.
enum class Chunking { whole, bytewise, uneven };

QList<JsonStreamItem> decode(QByteArrayView stream, Chunking chunking, qsizetype maximumPending)
{
    JsonStreamDecoder decoder(maximumPending);
    QList<JsonStreamItem> items;
    // A fixed sequence of read sizes, from one byte to a few hundred.
    quint32 state = quint32(stream.size()) * 2654435761u + 1;
    qsizetype at = 0;
    while (at < stream.size()) {
        qsizetype size = stream.size() - at;
        if (chunking == Chunking::bytewise) {
            size = 1;
        } else if (chunking == Chunking::uneven) {
            state = state * 1103515245u + 12345u;
            size = qMin<qsizetype>(size, 1 + (state >> 16) % ((state & 1) ? 7 : 300));
        }
        items.append(decoder.feed(stream.sliced(at, size)));
        check(decoder.pendingBytes() <= maximumPending, "pending bytes stay bounded");
        at += size;
    }
    items.append(decoder.finish());
    check(decoder.pendingBytes() == 0, "finish empties the buffer");
    return items;
}

QList<QJsonObject> objects(const QList<JsonStreamItem> &items, qsizetype *failures = nullptr)
{
    QList<QJsonObject> found;
    for (const JsonStreamItem &item : items) {
        if (const auto *object = std::get_if<QJsonObject>(&item))
            found.append(*object);
        else if (failures)
            ++*failures;
    }
    return found;
}

// Base-10 signed 64-bit with an optional sign, by another road.
std::optional<qint64> referenceProcessId(const QString &text)
{
    QByteArray ascii;
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        ascii.append(char(c.unicode()));
    }
    // One sign at most; std::from_chars takes only the minus.
    const bool negative = ascii.startsWith('-');
    if (negative || ascii.startsWith('+'))
        ascii.remove(0, 1);
    if (ascii.isEmpty())
        return std::nullopt;
    for (char c : std::as_const(ascii)) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (negative)
        ascii.prepend('-');
    qint64 value = 0;
    const auto [end, error] =
        std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    if (error != std::errc() || end != ascii.constData() + ascii.size())
        return std::nullopt;
    return value;
}

void checkRecord(const QJsonObject &record)
{
    const QJsonValue instance = record.value(u"instance");
    if (instance.isString())
        check(parseProcessId(instance.toString()) == referenceProcessId(instance.toString()),
              "process ids parse like std::from_chars");
    const auto decoded = decodeHookRecord(record, 4242);
    if (const auto *event = std::get_if<HookEvent>(&decoded)) {
        check(event->event == record.value(u"event").toString(), "the event name is kept");
        check(instance.toString() == u"$PPID" ? event->pid == 4242
                                              : parseProcessId(instance.toString()) == event->pid,
              "the pid is the instance field");
        check(event->tool.has_value() == record.value(u"tool").isString(),
              "a tool is kept when it is text");
    } else {
        check(!std::get<HookRecordRejected>(decoded).consoleLine.isEmpty(), "a rejection says why");
    }
    check(!rawJsonText(record).isEmpty(), "the raw text is never empty");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));

    // Anything at all: bounded memory, no crash, with an over-long line limit
    // small enough for the fuzzer to reach.
    for (Chunking chunking : {Chunking::whole, Chunking::bytewise, Chunking::uneven}) {
        for (const QJsonObject &record : objects(decode(input, chunking, 512)))
            checkRecord(record);
    }

    // One document per line, as the hook command writes: the same objects,
    // and nothing else, whatever the reads look like.
    QByteArray framed;
    QList<QJsonObject> expected;
    for (QByteArrayView line : QByteArray::fromRawData(input.data(), input.size()).split('\n')) {
        const auto item = decodeJsonDocument(line);
        if (item && std::holds_alternative<JsonDecodeFailure>(*item))
            continue;
        if (item)
            expected.append(std::get<QJsonObject>(*item));
        framed.append(line).append('\n');
    }
    for (Chunking chunking : {Chunking::whole, Chunking::bytewise, Chunking::uneven}) {
        qsizetype failures = 0;
        const QList<QJsonObject> found = objects(
            decode(framed, chunking, JsonStreamDecoder::defaultMaximumPendingBytes), &failures);
        check(failures == 0, "valid lines never fail");
        check(found == expected, "line-framed documents do not depend on the reads");
    }
    return 0;
}
