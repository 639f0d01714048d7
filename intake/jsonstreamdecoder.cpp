#include "jsonstreamdecoder.h"

#include <QJsonDocument>
#include <QStringDecoder>

namespace {

bool isJsonWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (!isJsonWhitespace(c))
            return false;
    }
    return true;
}

QByteArray unownedBytes(QByteArrayView bytes)
{
    return QByteArray::fromRawData(bytes.data(), bytes.size());
}

std::optional<QString> utf8Text(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

JsonDecodeFailure failure(const QJsonParseError &error, QByteArrayView bytes)
{
    return {error.errorString(), utf8Text(bytes)};
}

// What a successfully parsed document becomes. Qt 6.4 already refuses bare
// scalars at the top level; should a later parser accept them, they stay
// failures here.
std::optional<JsonStreamItem> itemFor(const QJsonDocument &document, QByteArrayView bytes)
{
    if (document.isObject())
        return JsonRecord{document.object(), bytes.trimmed().toByteArray()};
    if (document.isArray())
        return std::nullopt;
    return failure(QJsonParseError{0, QJsonParseError::IllegalValue}, bytes);
}

} // namespace

std::optional<JsonStreamItem> decodeJsonDocument(QByteArrayView bytes)
{
    if (isBlank(bytes))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(unownedBytes(bytes), &error);
    if (error.error != QJsonParseError::NoError)
        return failure(error, bytes);
    return itemFor(document, bytes);
}

QList<JsonStreamItem> JsonStreamDecoder::feed(QByteArrayView chunk)
{
    QList<JsonStreamItem> items;
    if (m_skippingLine) {
        const qsizetype lineFeed = chunk.indexOf('\n');
        if (lineFeed < 0)
            return items;
        chunk = chunk.sliced(lineFeed + 1);
        m_skippingLine = false;
    }
    if (chunk.isEmpty())
        return items;
    m_buffer.append(chunk);

    // Exactly one complete value at the top level: try the buffer whole, so
    // that a document spread over several lines still decodes.
    scan();
    if (!m_malformed && !m_inString && m_depth == 0 && m_topLevelValues == 1) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(m_buffer, &error);
        if (error.error == QJsonParseError::NoError) {
            if (auto item = itemFor(document, m_buffer))
                items.append(*item);
            m_buffer.clear();
            resetScan();
            return items;
        }
    }

    takeLines(items);

    if (m_buffer.size() > m_maximumPending) {
        // The raw text is left out: it would flood the log.
        QJsonParseError error;
        QJsonDocument::fromJson(m_buffer, &error);
        if (error.error == QJsonParseError::NoError)
            error.error = QJsonParseError::UnterminatedObject;
        items.append(JsonDecodeFailure{error.errorString(), std::nullopt});
        m_buffer.clear();
        m_buffer.squeeze();
        resetScan();
        m_skippingLine = true;
    }
    return items;
}

QList<JsonStreamItem> JsonStreamDecoder::finish()
{
    QList<JsonStreamItem> items;
    if (auto item = decodeJsonDocument(m_buffer))
        items.append(*item);
    m_buffer.clear();
    resetScan();
    m_skippingLine = false;
    return items;
}

void JsonStreamDecoder::takeLines(QList<JsonStreamItem> &items)
{
    qsizetype lineFeed = m_buffer.indexOf('\n', m_searchedForLineFeed);
    if (lineFeed < 0) {
        m_searchedForLineFeed = m_buffer.size();
        return;
    }
    qsizetype start = 0;
    const QByteArrayView buffer(m_buffer);
    while (lineFeed >= 0) {
        if (auto item = decodeJsonDocument(buffer.sliced(start, lineFeed - start)))
            items.append(*item);
        start = lineFeed + 1;
        lineFeed = m_buffer.indexOf('\n', start);
    }
    m_buffer.remove(0, start);
    // The unfinished line is all that is left; its structure starts afresh.
    resetScan();
    m_searchedForLineFeed = m_buffer.size();
    scan();
}

void JsonStreamDecoder::resetScan()
{
    m_searchedForLineFeed = 0;
    m_scanned = 0;
    m_depth = 0;
    m_topLevelValues = 0;
    m_inString = false;
    m_escaped = false;
    m_malformed = false;
}

// Tracks nesting and strings just closely enough to tell when the buffer
// holds one complete value; the parser does the real checking.
void JsonStreamDecoder::scan()
{
    const char *bytes = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    // The parser accepts a byte order mark in front of a document.
    if (m_scanned == 0 && m_buffer.startsWith("\xEF\xBB\xBF"))
        m_scanned = 3;
    for (qsizetype i = m_scanned; i < size && !m_malformed; ++i) {
        const char c = bytes[i];
        if (m_inString) {
            if (m_escaped)
                m_escaped = false;
            else if (c == '\\')
                m_escaped = true;
            else if (c == '"')
                m_inString = false;
            continue;
        }
        switch (c) {
        case '{':
        case '[':
            if (m_depth == 0)
                ++m_topLevelValues;
            ++m_depth;
            break;
        case '}':
        case ']':
            if (m_depth == 0)
                m_malformed = true;
            else
                --m_depth;
            break;
        case '"':
            if (m_depth == 0)
                m_malformed = true;
            else
                m_inString = true;
            break;
        default:
            if (m_depth == 0 && !isJsonWhitespace(c))
                m_malformed = true;
            break;
        }
    }
    m_scanned = size;
}
