#include "core/session.h"

namespace v7 {

SessionState& sesion() {
    static SessionState state;
    return state;
}

void reiniciarSesion() {
    sesion() = SessionState{};
}

db::Connection& conexionPrincipal() {
    auto& s = sesion();
    if (!s.ConexionPrincipal) {
        s.ConexionPrincipal = std::make_shared<db::Connection>();
    }
    return *s.ConexionPrincipal;
}

db::Connection& conexionSecundaria() {
    auto& s = sesion();
    if (!s.ConexionSecundaria) {
        s.ConexionSecundaria = std::make_shared<db::Connection>();
    }
    return *s.ConexionSecundaria;
}

} // namespace v7
