// Waiting without freezing the windows.
#pragma once

namespace v7::events {

// Lets pending window and timer events run (does nothing without an application object).
void pump();

// Sleeps for ms milliseconds while letting events run.
void pause(int ms);

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
