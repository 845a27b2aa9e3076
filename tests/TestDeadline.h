#pragma once

// Runs work on a thread of its own and fails the test if it has not finished
// within the time. A parse that never returns would otherwise hang the whole
// suite; past the time the process is ended at once, since the work still
// holds the test's objects.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

template <typename Work>
void expectFinishesWithin (double seconds, const std::string& what, Work&& work)
{
    std::promise<void> done;
    auto finished = done.get_future();
    std::thread worker ([&]
    {
        work();
        done.set_value();
    });
    if (finished.wait_for (std::chrono::duration<double> (seconds)) != std::future_status::ready)
    {
        ADD_FAILURE() << what << " did not finish within " << seconds << " s";
        std::fflush (stdout);
        std::abort();
    }
    worker.join();
}
