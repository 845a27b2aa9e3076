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

// The same for work that must run on the calling thread (the message
// thread's own work): a watchdog ends the process past the time instead.
template <typename Work>
void expectFinishesHereWithin (double seconds, const std::string& what, Work&& work)
{
    std::promise<void> done;
    auto finished = done.get_future();
    std::thread watchdog ([&finished, seconds, what]
    {
        if (finished.wait_for (std::chrono::duration<double> (seconds)) != std::future_status::ready)
        {
            std::fprintf (stderr, "%s did not finish within %g s\n", what.c_str(), seconds);
            std::fflush (stderr);
            std::abort();
        }
    });
    work();
    done.set_value();
    watchdog.join();
}
