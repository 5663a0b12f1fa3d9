// The handle of a pipe end: ReadFile, WriteFile and waits reach the end through it.
#pragma once

#include <memory>
#include <string>

#include "files/file_stream.h"
#include "pipes/pipes_end.h"

namespace pal::pipes {

class PipeHandle : public Stream {
public:
    explicit PipeHandle(std::shared_ptr<PipeEnd> end) : end_(std::move(end)) {}
    ~PipeHandle() override { end_->close(); }
    bool signaled() const override { return end_->idle(); }
    const void* waitKey() const override { return end_.get(); }
    DWORD read(void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) override
    {
        return end_->read(buffer, size, done, overlapped, kNever);
    }
    DWORD write(const void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) override
    {
        return end_->write(buffer, size, done, overlapped, kNever);
    }
    const std::shared_ptr<PipeEnd>& end() const { return end_; }

private:
    const std::shared_ptr<PipeEnd> end_;
};

// The end behind a pipe handle; null for any other handle.
std::shared_ptr<PipeEnd> pipeEndOf(HANDLE handle);
// Sets the last error (0 included); TRUE when it is 0.
BOOL finishCall(DWORD error);
// A name in the ANSI code page.
std::u16string wideName(LPCSTR name);

} // namespace pal::pipes
