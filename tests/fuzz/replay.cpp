// Runs a fuzz target's entry point once over each file named on the command
// line, or over every file of a named directory; options (as given to
// libFuzzer) are ignored. Linked instead of libFuzzer in ordinary builds.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(u'-'))
            continue;
        if (!QFileInfo(argument).isDir())
            files.append(argument);
        for (const QString &name : QDir(argument).entryList(QDir::Files, QDir::Name))
            files.append(argument + u'/' + name);
    }
    for (const QString &path : std::as_const(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "running %s (%lld bytes)\n", qPrintable(path),
                     qlonglong(bytes.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                               size_t(bytes.size()));
    }
    std::fprintf(stderr, "%lld inputs ran without a fault\n", qlonglong(files.size()));
    return files.isEmpty() ? 1 : 0;
}
