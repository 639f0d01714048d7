// Stands in for libFuzzer in ordinary builds: runs the target once over each file named, or over
// every file of a directory named; options are ignored.

#include <QDir>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QFileInfoList inputs;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo named(QString::fromLocal8Bit(argv[i]));
        if (argv[i][0] != '-')
            inputs += named.isDir() ? QDir(named.filePath()).entryInfoList(QDir::Files, QDir::Name)
                                    : QFileInfoList{named};
    }
    for (const QFileInfo &input : std::as_const(inputs)) {
        QFile file(input.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return std::fprintf(stderr, "cannot read %s\n", qPrintable(input.filePath())), 1;
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                               size_t(bytes.size()));
    }
    std::fprintf(stderr, "%lld inputs ran without a fault\n", qlonglong(inputs.size()));
    return inputs.isEmpty() ? 1 : 0;
}
