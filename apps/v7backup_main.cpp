// V7backup: one unattended backup of database veliro7, as the scheduled task starts it (no arguments).
#include "autobackup/bitacora.h"
#include "autobackup/ejecucion.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDate>

#include <clocale>

namespace {

// The one place where an outcome becomes the exit status: 0 only for a written and tested archive.
int codigoSalida(v7::autobackup::Desenlace d) {
    using v7::autobackup::Desenlace;
    switch (d) {
    case Desenlace::Respaldado:
        return 0;
    case Desenlace::SinConfiguracion:
    case Desenlace::ConfiguracionVacia:
    case Desenlace::ConfiguracionAlterada:
        return 2;
    case Desenlace::VersionRechazada:
        return 3;
    case Desenlace::RespaldoFallido:
        return 4;
    case Desenlace::Error:
        break;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Dates and numbers written into SQL and files never follow the process locale.
    std::setlocale(LC_NUMERIC, "C");
    v7::autobackup::BitacoraDiaria bitacora(v7::paths::programFolder(), QDate::currentDate());
    const v7::autobackup::ResultadoEjecucion r = v7::autobackup::ejecutarRespaldoAutomatico(bitacora);
    return codigoSalida(r.desenlace);
}
