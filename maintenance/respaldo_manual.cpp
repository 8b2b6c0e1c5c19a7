#include "maintenance/respaldo_manual.h"

#include "core/consultas.h"
#include "core/errores.h"
#include "core/scripts.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/events.h"
#include "platform/paths.h"

#include <QFileInfo>

#include <cerrno>
#include <memory>
#include <optional>

namespace v7 {

namespace {

using err::kCrLf;
const QString kCincoBlancos = QStringLiteral("     ");

QString errorNumerado(int numero, const QString& descripcion) {
    return err::ocurrio(err::kOcurrioErrorNoMixto, numero, {descripcion});
}

// A member the tool never wrote: the run-time failure of a missing file.
QString noEncontrado(const QString& ruta) {
    const ErrorSistema e = errorSistema(ENOENT);
    return errorNumerado(e.numero, e.descripcion + QStringLiteral(": ") + ruta);
}

// After a non-zero exit: why, in Spanish where the tool's words tell, then the tool's own words.
QString salidaHerramienta(const ResultadoRespaldo& r, const QString& herramienta) {
    QString t = herramienta + QStringLiteral(" terminó con el código ") + QString::number(r.estado) + QLatin1Char('.');
    const QString palabras = r.detalle.trimmed();
    if (const QString frase = err::fraseDeErrorSql(palabras); !frase.isEmpty()) {
        t += kCrLf + frase;
    }
    if (!palabras.isEmpty()) {
        t += kCrLf + QStringLiteral("Detalle del servidor: ") + palabras;
    }
    return t;
}

// The archive holds the server's roles with their passwords (pg_dumpall -g), which only a superuser may
// read: whether the session's login is one. nullopt when the server could not tell.
std::optional<bool> sesionEsSuperusuario() {
    const sql::Valor v = conPlazos(kPlazosInteractivos, [] {
        return sql::valor(
            QStringLiteral("SELECT CASE WHEN rolsuper THEN 1 ELSE 0 END FROM pg_roles WHERE rolname = current_user"));
    });
    if (!v.ok() || !v.hayFila) {
        return std::nullopt;
    }
    return v.texto() == QLatin1String("1");
}

} // namespace

QString mensajeFallaRespaldo(const ResultadoRespaldo& r) {
    const bool fallo = r.falla == FallaRespaldo::HerramientaFallo;
    switch (r.falla) {
    case FallaRespaldo::Ninguna:
        return QString();
    case FallaRespaldo::CarpetaExistente:
        return errorNumerado(err::kArchivoYaExiste,
                             err::descripcion(err::kArchivoYaExiste) + QStringLiteral(": ") + r.detalle);
    case FallaRespaldo::CarpetaNoCreada:
    case FallaRespaldo::SinClaveCifrado:
    case FallaRespaldo::Sentencia:
    case FallaRespaldo::ChecksumNoEscrito:
        return errorNumerado(r.estado, r.detalle);
    case FallaRespaldo::ScriptNoEscrito:
        return r.detalle + kCrLf + QStringLiteral("[Rutina] Respaldar ") + kCrLf + QStringLiteral("Linea 4");
    case FallaRespaldo::ScriptNoIniciado:
        switch (r.script) {
        case ScriptRespaldo::Roles:
            return r.detalle + kCrLf + QStringLiteral("No se logró lanzar el archivo .bat para respaldar los roles");
        case ScriptRespaldo::Version:
            return r.detalle + kCrLf +
                   QStringLiteral("No se logró lanzar el archivo .bat para guardar la versión de Postgres");
        default:
            return r.detalle + kCrLf + QStringLiteral("No se logró lanzar el archivo .bat");
        }
    case FallaRespaldo::HerramientaFallo:
    case FallaRespaldo::ArchivoVacio:
        switch (r.script) {
        case ScriptRespaldo::Volcado: {
            // A failed pg_dump usually leaves an empty file; one that stopped half-way leaves a partial one;
            // one that never opened it leaves none, which is a missing file.
            QString t = r.tamanoSalida < 0    ? noEncontrado(r.carpeta + QLatin1Char('/') + kMiembroVolcado)
                        : r.tamanoSalida == 0 ? QStringLiteral("El tamaño del archivo \"") + kMiembroVolcado +
                                                    QStringLiteral("\" es de 0 bytes.") + kCrLf + kCincoBlancos +
                                                    QStringLiteral("El Respaldo NO se generó satisfactoriamente.")
                                              : QStringLiteral("El Respaldo NO se generó satisfactoriamente.");
            return fallo ? t + kCrLf + salidaHerramienta(r, QStringLiteral("pg_dump")) : t;
        }
        case ScriptRespaldo::Roles: {
            const QString ruta = r.carpeta + QLatin1Char('/') + kMiembroRoles;
            const QString t = r.tamanoSalida < 0 ? noEncontrado(ruta)
                                                 : QStringLiteral("El archivo ") + ruta +
                                                       QStringLiteral(" pesa 0 kbs., reintenta hacer el respaldo");
            return fallo ? t + kCrLf + salidaHerramienta(r, QStringLiteral("pg_dumpall")) : t;
        }
        default: {
            // pg_config printed no version line.
            const QString t = errorNumerado(err::kLeerFinArchivo, err::descripcion(err::kLeerFinArchivo));
            return fallo ? t + kCrLf + salidaHerramienta(r, QStringLiteral("pg_config")) : t;
        }
        }
    case FallaRespaldo::Empaque:
    case FallaRespaldo::Destino:
        return r.detalle;
    }
    return QString();
}

bool rolesVacios(const ResultadoRespaldo& r) {
    return r.script == ScriptRespaldo::Roles && r.tamanoSalida == 0 &&
           (r.falla == FallaRespaldo::ArchivoVacio || r.falla == FallaRespaldo::HerramientaFallo);
}

MensajeRespaldo respaldoManual(const QString& destino,
                               const std::function<void(int milesimas, const QString& texto)>& progreso) {
    MensajeRespaldo m;
    if (!EstadoServidor()) {
        m.mensaje.texto =
            QStringLiteral("No se puede realizar el respaldo debido a que el Servidor NO está en ejecución.") + kCrLf +
            kCincoBlancos + QStringLiteral("Por favor, verifique el estado del Servidor e inténtelo nuevamente.");
        return m;
    }
    if (!VerificarConexion().isEmpty()) {
        m.mensaje.texto = QStringLiteral("No se pudo establecer conexión con el servidor");
        return m;
    }
    if (const std::optional<bool> su = sesionEsSuperusuario(); su && !*su) {
        m.mensaje =
            fallo(QStringLiteral("No se puede realizar el respaldo con el usuario ") + sesion().UsuarioBD +
                      QStringLiteral(": el respaldo incluye las cuentas de usuario del servidor con sus "
                                     "contraseñas, y solo un superusuario puede leerlas.") +
                      kCrLf + QStringLiteral("Inicie la sesión con un usuario Superusuario e inténtelo nuevamente."),
                  Gravedad::Aviso);
        return m;
    }
    // The automatic backup of this program folder uses the same staging folder.
    const BloqueoRespaldo bloqueo(paths::programFolder());
    if (!bloqueo.tomado()) {
        m.mensaje.texto =
            bloqueo.ocupado()
                ? QStringLiteral("No se puede realizar el respaldo debido a que otro respaldo está en curso.") + kCrLf +
                      kCincoBlancos + QStringLiteral("Por favor, inténtelo nuevamente cuando termine.")
                : errorNumerado(err::kErrorAccesoRuta, bloqueo.error() + QStringLiteral(": ") + bloqueo.ruta());
        return m;
    }
    const SessionState& s = sesion();
    // The status probe may replace the shared connection while the tools run: keep this one alive until
    // the writer has ended its transaction on it.
    const std::shared_ptr<db::Connection> conexion = s.ConexionPrincipal;

    ParametrosRespaldo p;
    p.servidor = s.ServidorIP;
    p.puerto = s.PuertoBD;
    p.usuario = s.UsuarioBD;
    p.clave = s.ClaveBD;
    p.carpetaBin = s.RutaPostgres.isEmpty() ? QString() : paths::withSlash(s.RutaPostgres) + QStringLiteral("bin");
    p.carpetaPrograma = paths::programFolder();
    // The scripts and their outputs go into the private work folder (0700), not the program folder.
    p.carpetaScripts = s.RutaTemporal.isEmpty() ? paths::workFolder() : s.RutaTemporal;
    p.archivo = destino;
    p.carpetaExistente = CarpetaExistente::Vaciar;
    p.progreso = progreso;
    // Off the window's thread: a lock held by another session, a slow dump or a slow disk never freeze it.
    m.resultado = events::esperar([&] { return escribirRespaldo(p, conexion); });
    if (m.resultado.ok()) {
        m.ok = true;
        m.mensaje = fallo(QStringLiteral("El respaldo se ha generado satisfactoriamente en la siguiente") + kCrLf +
                              QStringLiteral("ubicación: ") + destino,
                          Gravedad::Informacion);
    } else {
        m.mensaje = fallo(mensajeFallaRespaldo(m.resultado));
    }
    return m;
}

} // namespace v7
