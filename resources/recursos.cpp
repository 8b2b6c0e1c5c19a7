#include "resources/recursos.h"

#include <QFile>

static void iniciarRecursos() {
    Q_INIT_RESOURCE(recursos);
}

namespace v7 {

QString recurso(const QString& nombreArchivo, bool* ok) {
    static const bool iniciados = [] {
        iniciarRecursos();
        return true;
    }();
    (void)iniciados;
    QFile f(QStringLiteral(":/recursos/") + nombreArchivo);
    const bool abierto = f.open(QIODevice::ReadOnly);
    if (ok != nullptr) {
        *ok = abierto;
    }
    return abierto ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace v7
