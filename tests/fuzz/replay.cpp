// Runs a fuzz target's entry point once over each file named on the command
// line, or over every file of a named directory; options (-runs=0, as given to
// libFuzzer) are ignored. Linked instead of libFuzzer in ordinary builds.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

bool runFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    std::fprintf(stderr, "running %s (%lld bytes)\n", qPrintable(path), qlonglong(bytes.size()));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                           size_t(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(u'-'))
            continue;
        if (!QFileInfo(argument).isDir()) {
            if (!runFile(argument))
                return 1;
            ++ran;
            continue;
        }
        const QDir dir(argument);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            if (!runFile(dir.filePath(name)))
                return 1;
            ++ran;
        }
    }
    std::fprintf(stderr, "%d inputs ran without a fault\n", ran);
    return ran > 0 ? 0 : 1;
}
