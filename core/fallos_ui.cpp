#include "core/fallos_ui.h"

namespace v7 {

MsgIcon iconoDe(Gravedad gravedad) {
    switch (gravedad) {
    case Gravedad::Informacion:
        return MsgIcon::Information;
    case Gravedad::Aviso:
        return MsgIcon::Warning;
    case Gravedad::Error:
        return MsgIcon::Critical;
    }
    return MsgIcon::Critical;
}

MsgIcon iconoDe(const std::optional<Gravedad>& gravedad) {
    return gravedad ? iconoDe(*gravedad) : MsgIcon::None;
}

void mostrarFallo(QWidget* parent, const Fallo& fallo, const QString& titulo) {
    dialogs().message(parent, iconoDe(fallo.gravedad), fallo.texto, MsgButtons::Ok, titulo);
}

} // namespace v7
