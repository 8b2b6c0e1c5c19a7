#include "core/registro.h"

#include "core/errores.h"
#include "platform/keystore.h"
#include "platform/notify.h"

namespace v7 {

using err::kCrLf;

namespace {

keystore::Error pathError() {
    return keystore::Error{keystore::ErrorKind::InvalidKey, 0,
                           QStringLiteral("Raíz no válida en la clave del registro")};
}

} // namespace

QString LeerRegistro(const QString& fullPath) {
    const keystore::ReadResult r = keystore::KeyStore().readValue(fullPath);
    if (r.error.isSet()) {
        avisar(MsgIcon::None, err::ocurrio(err::kOcurrioErrorAlmohadilla, r.error.number) +
                                  QStringLiteral(" Al intentar leer en el Registro de Windows") + kCrLf +
                                  r.error.description);
        return QString();
    }
    return r.value;
}

void EscribirRegistro(const QString& fullPath, const QString& data) {
    QString key, name;
    const keystore::Error e =
        keystore::splitValuePath(fullPath, key, name) ? keystore::KeyStore().write(key, name, data) : pathError();
    if (!e.isSet()) {
        return;
    }
    // A refused root key was what Windows reported without administrator rights; here the
    // refusal is the file system's.
    if (e.kind == keystore::ErrorKind::Denied || e.kind == keystore::ErrorKind::InvalidKey) {
        avisar(
            MsgIcon::Critical,
            QStringLiteral("Es necesario restaurar el respaldo con una cuenta de Administrador de Windows debido a que "
                           "unos parámetros de control no se restauraron adecuadamente"));
        return;
    }
    avisar(MsgIcon::None, err::ocurrio(err::kOcurrioErrorNo, e.number) +
                              QStringLiteral(" al tratar de Escribir en el Registro") + kCrLf + e.description);
}

} // namespace v7
