#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// Bytes that did not decode to a JSON document.
struct JsonDecodeFailure
{
    QString error;                  // the parser's message
    std::optional<QString> rawText; // the bytes as text; absent when they are not UTF-8

    bool operator==(const JsonDecodeFailure &) const = default;
};

// One JSON object and the bytes it was read from, without surrounding
// whitespace, in storage of their own.
struct JsonRecord
{
    QJsonObject object;
    QByteArray bytes;

    bool operator==(const JsonRecord &) const = default;
};

using JsonStreamItem = std::variant<JsonRecord, JsonDecodeFailure>;

// Cuts what one opening of the event pipe delivers into JSON objects.
//
// Each read is appended to a buffer. When the buffer holds exactly one
// document (compact or spread over several lines) it is taken whole.
// Otherwise every complete line is one document and the unfinished last line
// waits for the next read; at end of file it is taken as it is. Blank lines
// are skipped, arrays are dropped, anything else that is not an object is a
// failure. A line that grows past `maximumPendingBytes` without its line feed
// is reported and dropped up to its line feed, so memory stays bounded.
//
// Every byte is looked at a bounded number of times, however the input is
// split: a structural scan decides when a whole-buffer parse can succeed.
class JsonStreamDecoder
{
public:
    static constexpr qsizetype defaultMaximumPendingBytes = 16 * 1024 * 1024;

    explicit JsonStreamDecoder(qsizetype maximumPendingBytes = defaultMaximumPendingBytes)
        : m_maximumPending(maximumPendingBytes)
    {}

    // The documents that the bytes of one read complete, in order.
    QList<JsonStreamItem> feed(QByteArrayView chunk);
    // End of file: decodes what is left and starts afresh.
    QList<JsonStreamItem> finish();

    qsizetype pendingBytes() const { return m_buffer.size(); }

private:
    void scan();
    void resetScan();
    void takeLines(QList<JsonStreamItem> &items);

    const qsizetype m_maximumPending;
    QByteArray m_buffer;
    bool m_skippingLine = false; // dropping the rest of an over-long line

    // How far the buffer has been searched for a line feed (none before).
    qsizetype m_searchedForLineFeed = 0;

    // Structure of the buffer up to m_scanned.
    qsizetype m_scanned = 0;
    int m_depth = 0;
    int m_topLevelValues = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_malformed = false;
};

// One document, as the listener sees it: an object, nothing (an array or
// blank text), or a failure.
std::optional<JsonStreamItem> decodeJsonDocument(QByteArrayView bytes);
