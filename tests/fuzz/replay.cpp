// Stands in for libFuzzer in ordinary builds: runs the target once over each
// file named, or over every file of a directory named; options are ignored.

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo named(QString::fromLocal8Bit(argv[i]));
        const auto files = named.isDir()
                               ? QDir(named.filePath()).entryInfoList(QDir::Files, QDir::Name)
                               : QFileInfoList{named};
        for (const QFileInfo &input : argv[i][0] == '-' ? QFileInfoList() : files) {
            QFile file(input.filePath());
            if (!file.open(QIODevice::ReadOnly))
                return std::fprintf(stderr, "cannot read %s\n", argv[i]), 1;
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                                   size_t(bytes.size()));
            ++ran;
        }
    }
    std::fprintf(stderr, "%d inputs ran without a fault\n", ran);
    return ran > 0 ? 0 : 1;
}
