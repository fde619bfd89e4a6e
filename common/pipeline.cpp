#include "pipeline.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace rawframes {

FramePipeline::FramePipeline(std::size_t workers, std::size_t slots)
    : workers_(workers < 1 ? 1 : workers), slots_(slots < 1 ? 1 : slots) {
    if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
}

FramePipeline::~FramePipeline() {
    for (int fd : stop_pipe_)
        if (fd >= 0) ::close(fd);
}

namespace {

struct ReaderState {
    std::uint64_t delivered = 0;  // frames 0 .. delivered - 1 are in their slots
    bool ended = false;           // the reader stopped at frame end_frame
    std::uint64_t end_frame = 0;
    FrameRead end;
};

}  // namespace

PipelineResult FramePipeline::run(std::span<const ReadStage> readers, const ConvertStage& convert,
                                  const WriteStage& write) {
    // A stop signal left over from an earlier run is cleared.
    for (char c; stop_pipe_[0] >= 0 && ::read(stop_pipe_[0], &c, 1) > 0;) {
    }
    const std::size_t slots = this->slots();
    const std::size_t n_readers = readers.size();
    std::mutex m;
    std::condition_variable cv;
    std::vector<ReaderState> state(n_readers);
    std::vector<std::uint64_t> converted(slots, UINT64_MAX);  // frame held converted per slot
    std::uint64_t written = 0, next_convert = 0;
    bool stop = false;

    // All of these are evaluated with `m` held.
    // Whether reader r still has to read frame i: not when the run ends before
    // it, which an earlier reader's end at i also decides.
    const auto still_needed = [&](std::size_t r, std::uint64_t i) {
        for (std::size_t q = 0; q < n_readers; ++q)
            if (state[q].ended && (state[q].end_frame < i || (state[q].end_frame == i && q < r)))
                return false;
        return true;
    };
    const auto delivered_by_all = [&](std::uint64_t i) {
        for (const ReaderState& s : state)
            if (s.delivered <= i) return false;
        return true;
    };
    const auto run_ends_by = [&](std::uint64_t i) {
        for (const ReaderState& s : state)
            if (s.ended && s.end_frame <= i) return true;
        return false;
    };

    const auto reader_loop = [&](std::size_t r) {
        for (std::uint64_t i = 0;; ++i) {
            {
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return stop || !still_needed(r, i) || i < written + slots; });
                if (stop || !still_needed(r, i)) return;
            }
            FrameRead got = readers[r](i % slots, i);
            const bool more = got.kind == FrameRead::kFrame;
            {
                std::lock_guard lock(m);
                if (more) {
                    state[r].delivered = i + 1;
                } else {
                    state[r].ended = true;
                    state[r].end_frame = i;
                    state[r].end = std::move(got);
                }
            }
            cv.notify_all();
            if (!more) return;
        }
    };
    const auto worker_loop = [&] {
        std::unique_lock lock(m);
        for (;;) {
            cv.wait(lock, [&] {
                return stop || delivered_by_all(next_convert) || run_ends_by(next_convert);
            });
            if (stop || !delivered_by_all(next_convert)) return;
            const std::uint64_t i = next_convert++;
            lock.unlock();
            convert(i % slots, i);
            lock.lock();
            converted[i % slots] = i;
            cv.notify_all();
        }
    };

    PipelineResult result;
    std::vector<std::thread> threads;
    // Every reader is needed, and one worker; a worker that cannot start (its
    // stack not to be had) only leaves the others more to do.
    for (std::size_t t = 0; t < n_readers + workers_; ++t) {
        try {
            if (t < n_readers)
                threads.emplace_back(reader_loop, t);
            else
                threads.emplace_back(worker_loop);
        } catch (const std::system_error& e) {
            if (t > n_readers) break;
            result.end = FrameRead::kError;
            result.what = "cannot start threads";
            result.reason = e.what();
            break;
        }
    }

    const bool started = result.end == FrameRead::kEnd;
    for (std::uint64_t i = 0; started; ++i) {
        const FrameRead* ending = nullptr;
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] {
                for (std::size_t r = 0; r < n_readers; ++r) {
                    if (state[r].ended && state[r].end_frame == i) {
                        ending = &state[r].end;
                        return true;
                    }
                    if (state[r].delivered <= i) return false;
                }
                return converted[i % slots] == i;
            });
            if (ending != nullptr) {
                result.end = ending->kind;
                result.what = ending->what;
                result.reason = ending->reason;
                break;
            }
        }
        if (!write(i % slots, i)) {
            result.write_failed = true;
            break;
        }
        {
            std::lock_guard lock(m);
            written = i + 1;
        }
        result.frames = i + 1;
        cv.notify_all();
    }

    {
        std::lock_guard lock(m);
        stop = true;
    }
    cv.notify_all();
    if (stop_pipe_[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = ::write(stop_pipe_[1], &c, 1);
    }
    for (std::thread& t : threads) t.join();
    return result;
}

}  // namespace rawframes
