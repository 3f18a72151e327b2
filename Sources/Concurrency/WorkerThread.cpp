#include "Concurrency/WorkerThread.h"

namespace quorvane {

namespace {

thread_local std::stop_token t_stopToken;

} // namespace

WorkerThread::WorkerThread(Deliver deliver)
    : m_deliver(std::move(deliver))
    , m_thread([this](const std::stop_token& stop) { serve(stop); })
{
}

WorkerThread::~WorkerThread()
{
    m_thread.request_stop();
    m_thread.join();
}

void WorkerThread::run(Work work, Work done)
{
    {
        const std::scoped_lock lock(m_mutex);
        m_pieces.emplace_back(std::move(work), std::move(done));
    }
    m_wake.notify_one();
}

std::stop_token WorkerThread::stopToken() noexcept { return t_stopToken; }

void WorkerThread::serve(const std::stop_token& stop)
{
    t_stopToken = stop;
    for (;;) {
        std::pair<Work, Work> piece;
        {
            std::unique_lock lock(m_mutex);
            // Once stopping, pieces still queued are dropped, not run.
            if (!m_wake.wait(lock, stop, [this] { return !m_pieces.empty(); })
                || stop.stop_requested())
                return;
            piece = std::move(m_pieces.front());
            m_pieces.pop_front();
        }
        piece.first();
        // The work goes back with its done, to be dropped where that runs: it may hold a copy
        // sharing data with that thread, which writes the data in place once nothing else holds
        // it. Let go of here, nothing would order this thread's reads before those writes.
        m_deliver([work = std::move(piece.first), done = std::move(piece.second)]() mutable {
            work = nullptr;
            done();
        });
    }
}

} // namespace quorvane
