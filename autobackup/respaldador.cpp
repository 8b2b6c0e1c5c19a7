#include "autobackup/respaldador.h"

#include "core/errores.h"
#include "core/scripts.h"
#include "core/session.h"
#include "platform/db.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace v7::autobackup {

namespace {

// A raised error as this procedure reports it; línea is the procedure's step.
QString errorElevado(int linea, qint64 numero, const QString& descripcion) {
    return QStringLiteral(" Función Respaldar, línea ") + QString::number(linea) + QStringLiteral(". ") +
           err::ocurrio(err::kOcurrioErrorNoMixto, numero) + QStringLiteral(". ") + descripcion;
}

QString archivoNoEncontrado(int linea, const QString& ruta) {
    const ErrorSistema e = errorSistema(ENOENT);
    return errorElevado(linea, e.numero, e.descripcion + QStringLiteral(": ") + ruta);
}

QString herramientaDe(ScriptRespaldo script) {
    switch (script) {
    case ScriptRespaldo::Volcado:
        return QStringLiteral("pg_dump");
    case ScriptRespaldo::Roles:
        return QStringLiteral("pg_dumpall");
    case ScriptRespaldo::Version:
        return QStringLiteral("pg_config");
    case ScriptRespaldo::Ninguno:
        break;
    }
    return QString();
}

} // namespace

QString RutaConfig() {
    return paths::programFolder() + QStringLiteral("config");
}

QString textoFalla(const ResultadoRespaldo& r, const QString& archivo) {
    switch (r.falla) {
    case FallaRespaldo::Ninguna:
        return QString();
    case FallaRespaldo::CarpetaExistente: {
        const ErrorSistema e = errorSistema(EBUSY);
        return errorElevado(1, e.numero, e.descripcion + QStringLiteral(": ") + r.detalle);
    }
    case FallaRespaldo::CarpetaNoCreada:
        return errorElevado(1, r.estado, r.detalle);
    case FallaRespaldo::SinClaveCifrado:
        return errorElevado(9, err::kTiposNoCoinciden, r.detalle);
    case FallaRespaldo::Sentencia:
        return errorElevado(4, db::kProviderErrorNumber, r.detalle);
    case FallaRespaldo::ScriptNoEscrito:
        return r.detalle + QStringLiteral(" [Rutina] Respaldar");
    case FallaRespaldo::ScriptNoIniciado:
        switch (r.script) {
        case ScriptRespaldo::Volcado:
            return QStringLiteral("No se logró lanzar el archivo .bat") + err::kCrLf + r.detalle;
        case ScriptRespaldo::Roles:
            return QStringLiteral("No se logró lanzar el archivo .bat para respaldar los roles") + err::kCrLf +
                   r.detalle;
        default:
            return r.detalle;
        }
    case FallaRespaldo::HerramientaFallo: {
        // The tools' own exit status decides: a failed pg_dump may leave a file that is not empty.
        QString t = QStringLiteral("El Respaldo NO se generó satisfactoriamente: ") + herramientaDe(r.script) +
                    QStringLiteral(" terminó con el estado ") + QString::number(r.estado) + QLatin1Char('.');
        if (!r.detalle.isEmpty()) {
            t += err::kCrLf + r.detalle;
        }
        return t;
    }
    case FallaRespaldo::ArchivoVacio:
        switch (r.script) {
        case ScriptRespaldo::Volcado:
            if (r.estado == 0) {
                const QFileInfo zip(archivo);
                return QStringLiteral("El tamaño del archivo \"") + (zip.exists() ? zip.fileName() : QString()) +
                       QStringLiteral("\" es de 0 bytes.") + err::kCrLf +
                       QStringLiteral("     El Respaldo NO se generó satisfactoriamente.");
            }
            return archivoNoEncontrado(8, r.detalle);
        case ScriptRespaldo::Roles:
            if (r.estado == 0) {
                return QStringLiteral("El archivo ") + r.detalle +
                       QStringLiteral(" pesa 0 kbs., al parecer no se realizo el respaldo de los roles");
            }
            return archivoNoEncontrado(13, r.detalle);
        default:
            return errorElevado(10, err::kLeerFinArchivo,
                                err::descripcion(err::kLeerFinArchivo) + QStringLiteral(": ") + r.detalle);
        }
    case FallaRespaldo::ChecksumNoEscrito:
        return errorElevado(9, r.estado, r.detalle);
    case FallaRespaldo::Empaque:
    case FallaRespaldo::Destino:
        return r.detalle;
    }
    return r.detalle;
}

QString Respaldar(const QString& archivo, const QVector<ValorEnArchivo>& valores, QStringList* restos,
                  QStringList* dejados) {
    auto& s = sesion();
    if (!s.ConexionPrincipal || !s.ConexionPrincipal->isOpen()) {
        return errorElevado(3, err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado));
    }
    const QString programa = paths::programFolder();
    const BloqueoRespaldo bloqueo(programa);
    if (!bloqueo.tomado()) {
        return QStringLiteral("No se inició el respaldo: ") + bloqueo.error() + QStringLiteral(" (") + bloqueo.ruta() +
               QStringLiteral(").");
    }
    ParametrosRespaldo p;
    p.servidor = s.ServidorIP;
    p.puerto = s.PuertoBD;
    p.usuario = s.UsuarioBD;
    p.clave = s.ClaveBD;
    p.carpetaBin = paths::withSlash(s.RutaPostgres) + QStringLiteral("bin");
    p.carpetaPrograma = programa;
    p.carpetaScripts = RutaConfig() + QLatin1Char('/');
    p.archivo = archivo;
    // Under the lock no other backup of this folder runs: a staging folder of the day is what a run
    // that died left behind, and must not stop this one.
    p.carpetaExistente = CarpetaExistente::Vaciar;
    p.valoresEnArchivo = valores;
    const ResultadoRespaldo r = escribirRespaldo(p, s.ConexionPrincipal);
    if (restos != nullptr) {
        *restos = r.restosBarridos;
    }
    if (dejados != nullptr) {
        *dejados = r.restosDejados;
    }
    return r.ok() ? QStringLiteral("OK") : textoFalla(r, archivo);
}

} // namespace v7::autobackup
