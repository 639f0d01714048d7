#include "shellwords.h"

namespace ShellWords {

// The first word of a shell command that names a tolvo.sh, after sh's quote removal:
// '/a/b'\''c/tolvo.sh' gives /a/b'c/tolvo.sh. Redirections, pipes, lists and
// substitutions end a word. Empty when there is none.
QString scriptPathOf(QStringView command)
{
    static constexpr QStringView ends = u"|;&()<>`";
    static constexpr QStringView escapedInDoubleQuotes = u"$`\"\\";
    const auto isScript = [](const QString &word) {
        return word == u"tolvo.sh" || word.endsWith(u"/tolvo.sh") || word == u"tolvo-hook" ||
               word.endsWith(u"/tolvo-hook");
    };
    QString word;
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (c == u'\'') {
            qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                close = n;
            word += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n &&
                    escapedInDoubleQuotes.contains(command[i + 1]))
                    ++i;
                word += command[i];
            }
        } else if (c == u'\\') {
            if (i + 1 < n)
                word += command[++i];
        } else if (c.isSpace() || ends.contains(c)) {
            if (isScript(word))
                return word;
            word.clear();
        } else {
            word += c;
        }
    }
    return isScript(word) ? word : QString();
}


// The words of `command` when it is one simple command of plain characters, quotes and
// escapes; none when it is anything more (a pipe, a list, a redirection, a substitution)
// or has a quote left open.
std::optional<QList<ShellWord>> simpleWords(QStringView command)
{
    static constexpr QStringView operators = u"|;&()<>\n`";
    static constexpr QStringView expanding = u"$*?[~#";
    static constexpr QStringView escapedInDoubleQuotes = u"$`\"\\";
    QList<ShellWord> words;
    std::optional<ShellWord> word;
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (c == u' ' || c == u'\t') {
            if (word)
                words.append(*std::exchange(word, std::nullopt));
            continue;
        }
        if (operators.contains(c))
            return std::nullopt;
        if (!word)
            word.emplace();
        if (c == u'\'') {
            const qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                return std::nullopt;
            word->text += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n &&
                    escapedInDoubleQuotes.contains(command[i + 1]))
                    ++i;
                else if (command[i] == u'$' || command[i] == u'`')
                    word->literal = false;
                word->text += command[i];
            }
            if (i >= n)
                return std::nullopt;
        } else if (c == u'\\') {
            if (i + 1 >= n || command[i + 1] == u'\n')
                return std::nullopt;
            word->text += command[++i];
        } else {
            if (expanding.contains(c))
                word->literal = false;
            word->text += c;
        }
    }
    if (word)
        words.append(*word);
    return words;
}

} // namespace ShellWords
