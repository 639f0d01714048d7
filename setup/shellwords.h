#pragma once

// Reading a command as sh would, for the installer: enough to recognise
// Tolvo's own commands and to give a wrapped command back, never to run one.

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace ShellWords {

// One word of a simple sh command after quote removal. `literal`: no expansion can change
// it, so that it is exactly what the program gets.
struct ShellWord
{
    QString text;
    bool literal = true;
};

// The first word of a shell command that names a tolvo.sh, after sh's quote removal:
// '/a/b'\''c/tolvo.sh' gives /a/b'c/tolvo.sh. Redirections, pipes, lists and
// substitutions end a word. Empty when there is none.
QString scriptPathOf(QStringView command);

// The words of `command` when it is one simple command of plain characters, quotes and
// escapes; none when it is anything more (a pipe, a list, a redirection, a substitution)
// or has a quote left open.
std::optional<QList<ShellWord>> simpleWords(QStringView command);

} // namespace ShellWords
