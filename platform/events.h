// Waiting without freezing the windows.
#pragma once

#include <functional>

namespace v7::events {

// Lets pending window and timer events run (does nothing without an application object).
void pump();

// Sleeps for ms milliseconds while letting events run.
void pause(int ms);

// Runs trabajo on a thread of its own and lets window and timer events run on this one until it has
// ended (a server that takes its time must not freeze the windows). trabajo may use what the caller
// passes by reference: this returns only after the thread is joined.
void esperarEnHilo(const std::function<void()>& trabajo);

// How many long operations of windows are running (nested ones counted). Periodic work that would
// touch their connection or server, such as the console's status probe, waits while it is not 0.
int operacionesLargas();

// Counts one long operation for as long as it lives.
class OperacionLarga {
public:
    OperacionLarga();
    ~OperacionLarga();
    OperacionLarga(const OperacionLarga&) = delete;
    OperacionLarga& operator=(const OperacionLarga&) = delete;
};

} // namespace v7::events
