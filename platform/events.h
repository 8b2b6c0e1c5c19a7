// Waiting without freezing the windows.
#pragma once

namespace v7::events {

// Lets pending window and timer events run (does nothing without an application object).
void pump();

// Sleeps for ms milliseconds while letting events run.
void pause(int ms);

} // namespace v7::events
