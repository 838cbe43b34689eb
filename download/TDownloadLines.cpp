#include "download/TDownloadLines.h"

#include "platform/FileContent.h"

#include <algorithm>

namespace {

QString TooLargeText(const QString& fileName) {
    return QStringLiteral("Cannot download file \"%1\". It is larger than %2 MB, "
                          "the most a download takes.")
        .arg(fileName)
        .arg(TDownloadLines::MaxFileSize / (1024 * 1024));
}

// Where the text ends: at its first NUL byte when only NUL bytes follow
// (padding); -1 when the content holds no NUL. A NUL with anything else
// after it, or with no text before it, makes the content no text: Stray
// then gives its offset.
qsizetype TextEnd(const QByteArray& content, qsizetype& stray) {
    stray = -1;
    const qsizetype nul = content.indexOf('\0');
    if (nul < 0)
        return -1;
    const char* data = content.constData();
    const bool onlyPadding =
        nul > 0 && std::all_of(data + nul, data + content.size(), [](char c) { return c == '\0'; });
    if (!onlyPadding)
        stray = nul;
    return nul;
}

} // namespace

TDownloadLines::TDownloadLines(QByteArray content, const QString& fileName)
    : FContent(std::move(content)) {
    qsizetype stray = -1;
    const qsizetype end = TextEnd(FContent, stray);
    if (stray >= 0) {
        const QString reason =
            QStringLiteral("It is not a text file: it holds a NUL byte at offset %1.").arg(stray);
        *this =
            Failed(fileName.isEmpty()
                       ? reason
                       : QStringLiteral("Cannot download file \"%1\". %2").arg(fileName, reason));
        return;
    }
    if (end >= 0)
        FContent.truncate(end);
    // Line offsets and counts must fit their 32 and 31 bits.
    if (FContent.size() > MaxFileSize) {
        *this = Failed(TooLargeText(fileName));
        return;
    }
    Split();
}

TDownloadLines TDownloadLines::FromFile(const QString& fileName) {
    TFileRead read = ReadRegularFile(fileName, MaxFileSize);
    if (read.TooLarge)
        return Failed(TooLargeText(fileName));
    if (read.ReadFailed)
        return Failed(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, read.Error));
    if (!read.Error.isEmpty())
        return Failed(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, read.Error));
    return TDownloadLines(std::move(read.Content), fileName);
}

TDownloadLines TDownloadLines::Failed(QString error) {
    TDownloadLines lines;
    lines.FError = std::move(error);
    return lines;
}

void TDownloadLines::Split() {
    const char* data = FContent.constData();
    const qsizetype size = FContent.size();
    // Two passes: counting first lets the index take exactly the room it needs.
    for (int pass = 0; pass < 2; ++pass) {
        qsizetype count = 0;
        const auto endLine = [&](qsizetype end) {
            if (pass == 1)
                FEnds.push_back(quint32(end));
            ++count;
        };
        for (qsizetype i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                endLine(i);
            } else if (c == '\r') {
                endLine(i);
                if (i + 1 < size && data[i + 1] == '\n')
                    ++i;
            }
        }
        if (size > 0 && data[size - 1] != '\n' && data[size - 1] != '\r')
            endLine(size);
        if (pass == 0)
            FEnds.reserve(size_t(count));
    }
}

qsizetype TDownloadLines::NextStart(qsizetype end) const {
    const qsizetype size = FContent.size();
    const char* data = FContent.constData();
    if (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
        return end + 2;
    return end + 1;
}

QByteArrayView TDownloadLines::Line(int index) const {
    const qsizetype start = index == 0 ? 0 : NextStart(FEnds[size_t(index) - 1]);
    return QByteArrayView(FContent.constData() + start, qsizetype(FEnds[size_t(index)]) - start);
}

qsizetype TDownloadLines::MemoryUsed() const {
    return FContent.capacity() + qsizetype(FEnds.capacity() * sizeof(quint32));
}
