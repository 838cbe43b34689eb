#include "download/TDownloadReader.h"

#include <new>

TDownloadReader::TDownloadReader(QString fileName) : FFileName(std::move(fileName)) {
    FreeOnTerminate = true;
}

void TDownloadReader::Execute() {
    try {
        FLines = TDownloadLines::FromFile(FFileName);
        Error = FLines.Error();
    } catch (const std::bad_alloc&) {
        Error =
            QStringLiteral("Cannot download file \"%1\". There is not enough memory to read it.")
                .arg(FFileName);
    }
}
