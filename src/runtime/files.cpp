// Files: the parameter file's writer and reader, the program's folder and the files
// kept beside the program.
#include "bytelist.h"
#include "internal.h"
#include "runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <string>

namespace runtime {

namespace {
int fileErrorLine = 0;
std::string fileOpenError;
} // namespace

int LastFileErrorLine() {
    return fileErrorLine;
}

const char* LastFileOpenError() {
    return fileOpenError.c_str();
}

int ArrayToFile(const char* file, const void* array, int dataType, int numElements, int numGroups,
                int /*arrayDataOrder*/, int fileLayout, int colSepStyle, int fieldWidth,
                int fileType, int fileAction) {
    if (!file || !*file || !array || numElements < 1 || numGroups != 1 || fileLayout != 0 ||
        fileType != 1 || fieldWidth < 0 || fieldWidth > 64)
        return FILE_BAD_ARGUMENT;
    if (dataType != VAL_UNSIGNED_CHAR && dataType != VAL_DOUBLE) return FILE_BAD_ARGUMENT;
    QByteArray out;
    for (int i = 0; i < numElements; ++i) {
        QByteArray v = dataType == VAL_UNSIGNED_CHAR
                           ? QByteArray::number(static_cast<const unsigned char*>(array)[i])
                           : QByteArray::number(static_cast<const double*>(array)[i], 'g', 17);
        if (colSepStyle == 0 && v.size() < fieldWidth)
            v.prepend(QByteArray(fieldWidth - v.size(), ' '));
        out += v;
        out += '\n';
    }
    const PathKind kind = ExaminePath(file);
    if (kind == PathKind::NotAFile) return FILE_NOT_A_FILE;
    if (fileAction != 0 && kind == PathKind::RegularFile) { // the old content stays in front
        QFile old(QFile::decodeName(file));
        if (!old.open(QIODevice::ReadOnly)) return FILE_CANNOT_OPEN;
        out.prepend(old.readAll());
    }
    return WriteWholeFile(file, out.constData(), std::size_t(out.size()));
}

int FileToArray(const char* file, void* array, int dataType, int numElements, int numGroups,
                int /*arrayDataOrder*/, int fileLayout, int fileType) {
    fileErrorLine = 0;
    fileOpenError.clear();
    if (!file || !*file || !array || numElements < 1 || numGroups != 1 || fileLayout != 0 ||
        fileType != 1 || dataType != VAL_UNSIGNED_CHAR)
        return FILE_BAD_ARGUMENT;
    const QString name = QFile::decodeName(file);
    // Only a regular file: opening a FIFO or a device for reading could wait for ever.
    if (ExaminePath(file) != PathKind::RegularFile) return FILE_CANNOT_OPEN;
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        fileOpenError = f.errorString().toStdString();
        return FILE_CANNOT_OPEN;
    }
    // A parameter file is tiny; white space after it is fine however much there is, but
    // anything else that far in is not one of ours.
    constexpr qint64 maxBytes = 1 << 20;
    const QByteArray data = f.read(maxBytes);
    for (QByteArray rest = f.read(1 << 16); !rest.isEmpty(); rest = f.read(1 << 16))
        for (char c : rest)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != '\v')
                return FILE_TOO_LARGE;
    return ParseByteList(data.constData(), std::size_t(data.size()),
                         static_cast<unsigned char*>(array), numElements, &fileErrorLine);
}

int GetProjectDirN(char* dir, std::size_t size) {
    if (!dir || size == 0) return UIE_BAD_VALUE;
    dir[0] = '\0';
    const QByteArray d =
        QFile::encodeName(QDir::toNativeSeparators(QString::fromStdString(detail::ProgramDir())));
    if (std::size_t(d.size()) + 1 > size) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(dir, d.constData(), std::size_t(d.size()));
    dir[d.size()] = '\0';
    return 0;
}

namespace detail {

std::string ProgramDir() {
    if (QCoreApplication::instance())
        return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    return ".";
}

std::string ResolveBeside(const char* file) {
    if (!file) return {};
    const QString f = QFile::decodeName(file);
    if (QFileInfo(f).isAbsolute() || f.contains('/') || f.contains('\\'))
        return QFile::encodeName(f).toStdString();
    const QDir dir(QFile::decodeName(ProgramDir().c_str()));
    QString path = dir.filePath(f);
    // An installed program keeps its data files in <prefix>/share/varno.
    const QString shared = dir.filePath("../share/varno/" + f);
    if (!QFileInfo::exists(path) && QFileInfo::exists(shared)) path = QDir::cleanPath(shared);
    return QFile::encodeName(path).toStdString();
}

} // namespace detail

} // namespace runtime
