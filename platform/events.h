// Waiting without freezing the windows.
//
// There is one way to wait: work that can block (a statement, a tool, a slow server) runs on a thread of
// its own while the windows' events keep running, through esperar() (returns the work's result) or
// alTerminar() (calls back on the windows' thread when the work has ended). No constructor, theme routine
// or handler pumps events by hand.
//
//     const Resultado r = v7::events::esperar([&] { return guardarCuenta(datos); });
#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace v7::events {

// Lets pending window and timer events run once (does nothing without an application object). Only for
// the few places that must hand control back while they hold none of their own work.
void pump();

// Waits ms milliseconds while window and timer events run (a plain sleep off the windows' thread).
void pause(int ms);

// Runs trabajo on a thread of its own; on the windows' thread, window and timer events run until it has
// ended (a nested event loop, so waits nest: an inner one started by a handler ends first). Elsewhere
// (a worker thread, a program without an application object) trabajo simply runs here. trabajo may use
// what the caller passes by reference: this returns only after the thread is joined. An exception thrown
// by trabajo is thrown again here.
void esperarEnHilo(const std::function<void()>& trabajo);

// esperarEnHilo returning trabajo's result.
template <typename F> auto esperar(F&& trabajo) {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        esperarEnHilo(trabajo);
    } else {
        std::optional<R> resultado;
        esperarEnHilo([&] { resultado.emplace(trabajo()); });
        return std::move(*resultado);
    }
}

// Runs trabajo on a thread of its own and returns at once; luego runs on contexto's thread once trabajo
// has ended (not at all when contexto is gone by then).
void alTerminar(QObject* contexto, std::function<void()> trabajo, std::function<void()> luego);

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
