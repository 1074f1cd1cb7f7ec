#include "app/report_output.h"

#include <windows.h>

#include <io.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tidewell {

// Nothing written to standard output on Windows is sure not to block: an inherited pipe
// cannot be switched to overlapped I/O, PIPE_NOWAIT would change the pipe end the parent
// shares (and Wine refuses it on its pipes), and a console stops while the user selects text.
// So a thread of its own makes the blocking writes from the bounded queue, and the loop only
// appends to the queue. The thread is kept in `writable_`; a write that never returns (a
// reader that stalled) is left behind at exit.
namespace {

struct Writer : EventLoop::Registration {
    HANDLE out = nullptr;
    std::mutex mutex;
    std::condition_variable queued, drained;
    // The owner's queue and flag, until the owner goes; guarded by `mutex`.
    LineQueue* queue = nullptr;
    bool* gone = nullptr;

    void run();
};

struct WriterRef : EventLoop::Registration {
    std::shared_ptr<Writer> writer;
};

void Writer::run() {
    constexpr std::size_t kChunk = 4096;
    std::unique_lock lock(mutex);
    for (;;) {
        queued.wait(lock, [&] { return !queue || !queue->empty(); });
        if (!queue) return;
        // A copy, so the loop can queue more meanwhile.
        const std::string chunk(queue->pending().substr(0, kChunk));
        lock.unlock();
        DWORD written = 0;
        const bool ok = ::WriteFile(out, chunk.data(), DWORD(chunk.size()), &written, nullptr);
        const DWORD error = ok ? 0 : ::GetLastError();
        lock.lock();
        if (!queue) return;
        if (ok) {
            queue->consume(written);
        } else {
            // A pipe whose reader is gone never takes lines again. Anything else (a full disk)
            // loses what is queued, and the next line tries again.
            *gone = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
            queue->clear();
        }
        if (queue->empty()) drained.notify_all();
    }
}

Writer& writerOf(const EventLoop::Token& token) {
    return *static_cast<WriterRef&>(*token).writer;
}

}  // namespace

ReportOutput::ReportOutput(int fd, EventLoop& loop, std::size_t queueLimit)
    : fd_(fd), queue_(queueLimit), loop_(loop) {
    const auto out = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (out == INVALID_HANDLE_VALUE || !out) {
        gone_ = true;  // no standard output at all (started from Explorer)
        return;
    }
    auto ref = std::make_unique<WriterRef>();
    ref->writer = std::make_shared<Writer>();
    ref->writer->out = out;
    ref->writer->queue = &queue_;
    ref->writer->gone = &gone_;
    std::thread([writer = ref->writer] { writer->run(); }).detach();
    writable_ = std::move(ref);
    blocks_ = true;
}

ReportOutput::~ReportOutput() {
    if (!writable_) return;
    Writer& writer = writerOf(writable_);
    std::unique_lock lock(writer.mutex);
    // What a reader takes within a moment; the program does not wait for a reader at exit.
    writer.drained.wait_for(lock, std::chrono::milliseconds(250),
                            [&] { return queue_.empty() || gone_; });
    writer.queue = nullptr;
    writer.gone = nullptr;
    writer.queued.notify_all();
}

void ReportOutput::write(const std::string& line) {
    if (!writable_) return;
    Writer& writer = writerOf(writable_);
    const std::lock_guard lock(writer.mutex);
    if (gone_) return;
    queue_.push(line);
    writer.queued.notify_all();
}

void ReportOutput::flush() {}

}  // namespace tidewell
