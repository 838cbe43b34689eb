#pragma once

#include "download/TDownloadLines.h"
#include "platform/TThread.h"

#include <QString>

// Reads a download file on a thread of its own, so that a large file or a
// slow disk never stops the window.
//
// Use: create, set OnTerminate, Resume. In the OnTerminate handler (main
// thread) Error is empty and TakeLines() gives the file's lines, or Error is
// the message to show. The reader frees itself after the handler returned;
// an owner that goes away first clears OnTerminate.
class TDownloadReader : public TThread {
public:
    explicit TDownloadReader(QString fileName);

    const QString& FileName() const { return FFileName; }
    QString Error;
    TDownloadLines TakeLines() { return std::move(FLines); }

protected:
    void Execute() override;

private:
    QString FFileName;
    TDownloadLines FLines;
};
