// WorkerThread.h: one thread of its own for work too slow for the executor's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

namespace quorvane {

/// Runs pieces of work one at a time, in the order given, on a thread of its own. A piece is
/// `work`, run on that thread, and `done`, which is handed to `deliver` once the work has run;
/// `deliver` is called on the worker thread and passes `done` to the thread that is to run it.
/// Work may touch only what no other thread touches meanwhile (its own copies, files), and must
/// not throw. Neither a `done` nor its work, once run, is destroyed on the worker thread, except
/// inside `deliver`: the work goes along with its `done`, and is dropped just before it runs.
///
/// Destroying it waits for the piece that is running and delivers it; the pieces not yet started
/// are dropped, with their `done`s, on the destroying thread.
class WorkerThread final {
public:
    using Work = std::function<void()>;
    using Deliver = std::function<void(Work done)>;

    explicit WorkerThread(Deliver deliver);
    ~WorkerThread();

    // The thread refers to this object.
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    /// Queues a piece behind those given before.
    void run(Work work, Work done);

    /// On a worker thread, the token that is requested once its WorkerThread is being destroyed:
    /// work that may be given up (a long read whose result nobody will take) checks it. Elsewhere
    /// a token that is never requested.
    [[nodiscard]] static std::stop_token stopToken() noexcept;

private:
    void serve(const std::stop_token& stop);

    Deliver m_deliver;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<std::pair<Work, Work>> m_pieces;
    // Last: the thread starts once everything it uses exists, and stops before it goes.
    std::jthread m_thread;
};

} // namespace quorvane
