// V7backup: one unattended backup of database veliro7, as the scheduled task starts it (no arguments).
#include "autobackup/bitacora.h"
#include "autobackup/ejecucion.h"
#include "platform/paths.h"
#include "platform/process.h"

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
    case Desenlace::TiempoAgotado:
        return 5;
    case Desenlace::RestauracionPendiente:
        return 6;
    case Desenlace::Interrumpido: // a signal's own status is given instead (128 + signal)
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
    // A run stopped by a signal or its time limit stops its tools, removes its staging folder and
    // scripts, logs one line and records the failure; the backup lock goes with the process.
    QString aviso;
    const qint64 limite = v7::autobackup::limiteEjecucion(&aviso);
    if (!aviso.isEmpty()) {
        bitacora.escribir(aviso);
    }
    v7::process::terminarConLimpieza([&bitacora, limite](const v7::process::Fin& fin) {
        const v7::autobackup::Desenlace d = v7::autobackup::terminarEjecucion(bitacora, fin, limite);
        return fin.porLimite() ? codigoSalida(d) : 128 + fin.senal;
    });
    v7::process::limitarDuracion(limite * 1000);
    const v7::autobackup::ResultadoEjecucion r = v7::autobackup::ejecutarRespaldoAutomatico(bitacora);
    // A stop already being handled decides the end: the handler still uses the log, which lives here.
    v7::process::puntoDeControl();
    return codigoSalida(r.desenlace);
}
