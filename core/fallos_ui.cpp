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

void mostrarFallo(QWidget* parent, const Fallo& fallo, const QString& titulo) {
    dialogs().message(parent, iconoDe(fallo.gravedad), fallo.texto, MsgButtons::Ok, titulo);
}

} // namespace v7
