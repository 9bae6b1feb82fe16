// Objects stay on the thread that made them: the component keeps state per
// calling thread, so a call from another thread is refused, and an object
// whose last Python reference goes on another thread is parked and released
// on its own thread (at that thread's next call, or when it ends).
#pragma once

#include <functional>
#include <thread>

namespace pmpy {

using ThreadId = std::thread::id;

// The calling thread, registered so its parked releases run when it ends.
ThreadId homeThread();

// Error RPC_E_WRONG_THREAD when the caller is not the owner.
void checkThread(ThreadId owner);

// Runs the release now on the owner's thread, or parks it for the owner.
// A thread that has ended has no state left to protect: its releases run
// where they are dropped.
void releaseOn(ThreadId owner, std::function<void()> release);

// Runs what other threads parked for this one.
void runParked();

}  // namespace pmpy
