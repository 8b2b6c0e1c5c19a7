#include "maintenance/respaldo.h"

#include "core/archivos.h"
#include "core/cifrado.h"
#include "core/config.h"
#include "core/scripts.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The tool's path in the bin folder, quoted; the bare name (looked up on PATH) when no folder is known.
QString herramienta(const QString& carpetaBin, const QString& nombre) {
    if (carpetaBin.isEmpty()) {
        return nombre;
    }
    return citarSh(paths::withSlash(carpetaBin) + nombre);
}

QString sufijoErrores(const QString& errores) {
    return errores.isEmpty() ? QString() : QStringLiteral(" 2> ") + citarSh(errores);
}

// The lines of a tool's error output that say what went wrong: its error lines, else its last lines
// (pg_dump's verbose progress shares the stream).
QString lineasDeError(const QString& archivo) {
    QFile f(archivo);
    if (!f.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QStringList lineas =
        QString::fromUtf8(f.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
    static const QRegularExpression marca(QStringLiteral("error|fatal|could not|no se pudo|permission|denied"),
                                          QRegularExpression::CaseInsensitiveOption);
    QStringList elegidas;
    for (const QString& l : lineas) {
        if (marca.match(l).hasMatch()) {
            elegidas << l.trimmed();
        }
    }
    if (elegidas.isEmpty()) {
        elegidas = lineas.mid(qMax(0, int(lineas.size()) - 3));
    }
    return elegidas.mid(0, 10).join(kCrLf);
}

// Everything the writer made that must not outlive it, removed on every way out; the transaction ended.
class Recogida {
public:
    explicit Recogida(db::Connection& c) : m_conexion(c) {}
    ~Recogida() {
        terminarTransaccion();
        for (const QString& f : m_archivos) {
            QFile::remove(f);
        }
        if (!m_carpeta.isEmpty()) {
            QDir(m_carpeta).removeRecursively();
            events::pump();
        }
    }
    Recogida(const Recogida&) = delete;
    Recogida& operator=(const Recogida&) = delete;

    void archivo(const QString& ruta) { m_archivos << ruta; }
    void carpeta(const QString& ruta) { m_carpeta = ruta; }

    [[nodiscard]] bool iniciarTransaccion(db::DbError& e) {
        qint64 n = 0;
        m_transaccion = true; // also when BEGIN reports failure: the server may have opened it
        return m_conexion.execute(QStringLiteral("BEGIN;"), n, e);
    }
    // Ends the backup's transaction: COMMIT keeps the counts in config_veliro.control (on an aborted
    // transaction the server rolls back). False with the driver's text when the COMMIT itself failed.
    bool terminarTransaccion(db::DbError* error = nullptr) {
        if (!m_transaccion) {
            return true;
        }
        m_transaccion = false;
        qint64 n = 0;
        db::DbError e;
        const bool ok = m_conexion.execute(QStringLiteral("COMMIT;"), n, e);
        if (!ok && m_conexion.inTransaction()) {
            // The COMMIT never reached the server while the connection still lives: do not leave it open.
            (void)m_conexion.execute(QStringLiteral("ROLLBACK;"), n, e);
        }
        events::pump();
        if (!ok && error != nullptr) {
            *error = e;
        }
        return ok;
    }

private:
    db::Connection& m_conexion;
    QStringList m_archivos;
    QString m_carpeta;
    bool m_transaccion = false;
};

void fallaSentencia(ResultadoRespaldo& r, const db::DbError& e, const QString& sql) {
    r.falla = FallaRespaldo::Sentencia;
    r.estado = int(e.number);
    r.detalle = e.description + kCrLf + QStringLiteral("[cadSQL]:") + sql;
}

// Writes and runs one tool's script; fills r on failure. salida is the tool's output file (checked for
// content), errores where its error output went.
bool correrHerramienta(ScriptRespaldo cual, const QString& script, const QString& comando, const QString& clave,
                       const QString& salida, const QString& errores, ResultadoRespaldo& r) {
    const QString creado = CrearArchivoBat(script, comando, clave);
    if (creado != QLatin1String("OK")) {
        r.falla = FallaRespaldo::ScriptNoEscrito;
        r.script = cual;
        r.detalle = creado;
        return false;
    }
    int estado = -1;
    const QString lanzado = EjecutarArchivoBat(script, &estado);
    QFile::remove(script);
    if (!lanzado.isEmpty()) {
        r.falla = FallaRespaldo::ScriptNoIniciado;
        r.script = cual;
        r.detalle = lanzado;
        return false;
    }
    const QFileInfo fi(salida);
    r.tamanoSalida = fi.isFile() ? fi.size() : -1;
    if (estado != 0) {
        r.falla = FallaRespaldo::HerramientaFallo;
        r.script = cual;
        r.estado = estado;
        r.detalle = lineasDeError(errores);
        return false;
    }
    if (r.tamanoSalida <= 0) {
        r.falla = FallaRespaldo::ArchivoVacio;
        r.script = cual;
        r.estado = r.tamanoSalida == 0 ? 0 : -1;
        r.detalle = salida;
        return false;
    }
    return true;
}

} // namespace

BloqueoRespaldo::BloqueoRespaldo(const QString& carpetaPrograma)
    : m_ruta(paths::withSlash(carpetaPrograma) + QStringLiteral("config/respaldo.lock")) {
    const QString config = QFileInfo(m_ruta).path();
    if (!QFileInfo(config).isDir() && QDir().mkpath(config)) {
        ::chmod(QFile::encodeName(config).constData(), 0700);
    }
    m_fd = ::open(QFile::encodeName(m_ruta).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error = errorSistema(errno).descripcion;
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_ocupado = errno == EWOULDBLOCK;
        m_error = m_ocupado ? QStringLiteral("otro respaldo está en curso") : errorSistema(errno).descripcion;
        ::close(m_fd);
        m_fd = -1;
    }
}

BloqueoRespaldo::~BloqueoRespaldo() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

QString carpetaRespaldo(const QString& carpetaPrograma, const QDate& fecha) {
    return paths::withSlash(carpetaPrograma) + QStringLiteral("r") + fecha.toString(QStringLiteral("yyyyMMdd"));
}

QString nombreScript(ScriptRespaldo script) {
    switch (script) {
    case ScriptRespaldo::Volcado:
        return kScriptVolcado;
    case ScriptRespaldo::Roles:
        return kScriptRoles;
    case ScriptRespaldo::Version:
        return kScriptVersion;
    case ScriptRespaldo::Ninguno:
        break;
    }
    return QString();
}

QStringList lineasChecksum(const QVector<ConteoControl>& conteos, const QDateTime& momento, const QString& version) {
    QStringList lineas;
    for (const ConteoControl& c : conteos) {
        lineas << c.tabla + QLatin1Char('#') + QString::number(c.registros);
    }
    // Never the process locale: the restore keeps this line as it stands.
    lineas << momento.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!version.isEmpty()) {
        lineas << version;
    }
    return lineas;
}

QString lineaVersion(const QByteArray& salidaPgConfig) {
    const QString texto = QString::fromUtf8(salidaPgConfig);
    return texto.section(QRegularExpression(QStringLiteral("\r?\n")), 0, 0).trimmed().toUpper();
}

QString comandoVolcado(int versionNum, const QString& carpetaBin, const QString& servidor, int puerto,
                       const QString& usuario, const QString& destino, const QString& errores) {
    QString c = herramienta(carpetaBin, QStringLiteral("pg_dump"));
    if (versionNum >= 0 && versionNum < 90500) {
        c += QStringLiteral(" -i");
    }
    c += QStringLiteral(" -h ") + citarSh(servidor) + QStringLiteral(" -p ") + QString::number(puerto) +
         QStringLiteral(" -U ") + citarSh(usuario) + QStringLiteral(" -F c -b");
    if (versionNum >= 0 && versionNum < 120000) {
        c += QStringLiteral(" -o");
    }
    return c + QStringLiteral(" -v -f ") + citarSh(destino) + QStringLiteral(" veliro7") + sufijoErrores(errores);
}

QString comandoRoles(const QString& carpetaBin, const QString& servidor, int puerto, const QString& usuario,
                     const QString& destino, const QString& errores) {
    return herramienta(carpetaBin, QStringLiteral("pg_dumpall")) + QStringLiteral(" -h ") + citarSh(servidor) +
           QStringLiteral(" -p ") + QString::number(puerto) + QStringLiteral(" -U ") + citarSh(usuario) +
           QStringLiteral(" -g > ") + citarSh(destino) + sufijoErrores(errores);
}

int versionNumerica(const QString& texto) {
    static const QRegularExpression re(QStringLiteral("(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
    const auto m = re.match(texto);
    if (!m.hasMatch()) {
        static const QRegularExpression solo(
            QStringLiteral("\\b(\\d{2,})(?:devel|beta|rc|\\b)")); // "16devel", "17beta1"
        const auto m2 = solo.match(texto);
        return m2.hasMatch() ? m2.captured(1).toInt() * 10000 : -1;
    }
    const int mayor = m.captured(1).toInt();
    const int segundo = m.captured(2).toInt();
    if (mayor >= 10) {
        return mayor * 10000 + segundo;
    }
    return mayor * 10000 + segundo * 100 + m.captured(3).toInt();
}

int versionPgDump(const QString& carpetaBin) {
    process::Command c;
    c.program =
        carpetaBin.isEmpty() ? QStringLiteral("pg_dump") : paths::withSlash(carpetaBin) + QStringLiteral("pg_dump");
    c.arguments = {QStringLiteral("--version")};
    c.cLocale = true;
    c.out = process::Sink::Capture;
    c.timeoutMs = 30000;
    const process::Result r = process::run(c);
    return r.ok() ? versionNumerica(QString::fromUtf8(r.output)) : -1;
}

ResultadoRespaldo escribirRespaldo(const ParametrosRespaldo& p, db::Connection& conexion) {
    ResultadoRespaldo r;
    const QDateTime momento = p.momento.isValid() ? p.momento : QDateTime::currentDateTime();
    const QString scripts = paths::withSlash(p.carpetaScripts.isEmpty() ? p.carpetaPrograma : p.carpetaScripts);
    const QString carpeta = carpetaRespaldo(p.carpetaPrograma, momento.date());
    r.carpeta = carpeta;
    auto avance = [&](PasoRespaldo paso) {
        if (p.avance) {
            p.avance(paso);
        }
    };
    Recogida recogida(conexion);

    // Staging folder.
    avance(PasoRespaldo::Carpeta);
    if (QFileInfo::exists(carpeta)) {
        if (p.carpetaExistente == CarpetaExistente::Fallar) {
            r.falla = FallaRespaldo::CarpetaExistente;
            r.detalle = carpeta;
            return r; // not ours: left alone
        }
        recogida.carpeta(carpeta);
        if (!QDir(carpeta).removeRecursively()) {
            r.falla = FallaRespaldo::CarpetaNoCreada;
            r.estado = 75;
            r.detalle = QStringLiteral("Error de acceso a la ruta o el archivo: ") + carpeta;
            return r;
        }
    }
    const QByteArray carpetaNativa = QFile::encodeName(carpeta);
    if (::mkdir(carpetaNativa.constData(), 0700) != 0) {
        const ErrorSistema e = errorSistema(errno);
        r.falla = FallaRespaldo::CarpetaNoCreada;
        r.estado = e.numero;
        r.detalle = e.descripcion + QStringLiteral(": ") + carpeta;
        return r;
    }
    recogida.carpeta(carpeta);
    const QString volcado = carpeta + QLatin1Char('/') + kMiembroVolcado;
    const QString roles = carpeta + QLatin1Char('/') + kMiembroRoles;
    const QString checksum = carpeta + QLatin1Char('/') + kMiembroChecksum;

    // The scrambler's key, before anything is locked.
    bool claveA = false;
    {
        db::DbError e;
        auto rs = conexion.query(kConsultaConfiguracion, e);
        if (!rs) {
            fallaSentencia(r, e, kConsultaConfiguracion);
            return r;
        }
        const QString guardada = ObtenerValorConfiguracion(QStringLiteral("VER_V7TOOLS"), *rs);
        const auto clave = claveParaVersion(guardada);
        if (!clave) {
            r.falla = FallaRespaldo::SinClaveCifrado;
            r.estado = 5;
            r.detalle =
                guardada.isEmpty()
                    ? QStringLiteral("No existe la información de versión VER_V7TOOLS para elegir la clave de "
                                     "cifrado")
                    : QStringLiteral("La versión VER_V7TOOLS registrada no tiene una fecha válida: ") + guardada;
            return r;
        }
        claveA = *clave;
    }
    const int versionNum = versionPgDump(p.carpetaBin);

    // The control tables stay locked against writers until pg_dump has run in its own session, so the
    // counts taken here under the locks are the counts of the rows the dump holds.
    avance(PasoRespaldo::Bloqueo);
    {
        db::DbError e;
        if (!recogida.iniciarTransaccion(e)) {
            fallaSentencia(r, e, QStringLiteral("BEGIN;"));
            return r;
        }
    }
    for (const QString& tabla : kTablasControl) {
        db::DbError e;
        qint64 n = 0;
        const QString lock = QStringLiteral("LOCK TABLE ") + tabla + QStringLiteral(" IN EXCLUSIVE MODE;");
        if (!conexion.execute(lock, n, e)) {
            fallaSentencia(r, e, lock);
            return r;
        }
        const QString cuenta = QStringLiteral("SELECT count(*) AS registros FROM ") + tabla;
        auto rs = conexion.query(cuenta, e);
        if (!rs) {
            fallaSentencia(r, e, cuenta);
            return r;
        }
        const qint64 registros = rs->eof() ? 0 : rs->text(QStringLiteral("registros")).toLongLong();
        rs->close();
        r.conteos.push_back({tabla, registros});
        const QString update = QStringLiteral("UPDATE config_veliro.control SET registros = ") +
                               QString::number(registros) + QStringLiteral(" WHERE tabla = '") + tabla +
                               QStringLiteral("';");
        if (!conexion.execute(update, n, e)) {
            fallaSentencia(r, e, update);
            return r;
        }
        events::pump();
    }

    // The dump.
    avance(PasoRespaldo::Volcado);
    const QString scriptVolcado = scripts + kScriptVolcado;
    const QString erroresVolcado = scripts + QStringLiteral("v7.Backup.txt");
    recogida.archivo(scriptVolcado);
    recogida.archivo(erroresVolcado);
    if (!correrHerramienta(
            ScriptRespaldo::Volcado, scriptVolcado,
            comandoVolcado(versionNum, p.carpetaBin, p.servidor, p.puerto, p.usuario, volcado, erroresVolcado), p.clave,
            volcado, erroresVolcado, r)) {
        return r;
    }
    {
        db::DbError e;
        if (!recogida.terminarTransaccion(&e)) {
            fallaSentencia(r, e, QStringLiteral("COMMIT;"));
            return r;
        }
    }

    // The roles.
    avance(PasoRespaldo::Roles);
    const QString scriptRoles = scripts + kScriptRoles;
    const QString erroresRoles = scripts + QStringLiteral("v7.backup_rol.txt");
    recogida.archivo(scriptRoles);
    recogida.archivo(erroresRoles);
    if (!correrHerramienta(ScriptRespaldo::Roles, scriptRoles,
                           comandoRoles(p.carpetaBin, p.servidor, p.puerto, p.usuario, roles, erroresRoles), p.clave,
                           roles, erroresRoles, r)) {
        return r;
    }

    // The engine version (pg_config needs no password: its script carries none).
    avance(PasoRespaldo::Version);
    const QString scriptVersion = scripts + kScriptVersion;
    const QString salidaVersion = scripts + kSalidaVersion;
    const QString erroresVersion = scripts + QStringLiteral("v7.version.txt");
    recogida.archivo(scriptVersion);
    recogida.archivo(salidaVersion);
    recogida.archivo(erroresVersion);
    if (!correrHerramienta(ScriptRespaldo::Version, scriptVersion,
                           herramienta(p.carpetaBin, QStringLiteral("pg_config")) + QStringLiteral(" --version > ") +
                               citarSh(salidaVersion) + sufijoErrores(erroresVersion),
                           QString(), salidaVersion, erroresVersion, r)) {
        return r;
    }
    {
        QFile f(salidaVersion);
        r.version = f.open(QIODevice::ReadOnly) ? lineaVersion(f.readAll()) : QString();
        if (r.version.isEmpty()) {
            r.falla = FallaRespaldo::ArchivoVacio;
            r.script = ScriptRespaldo::Version;
            r.estado = 0;
            r.detalle = salidaVersion;
            return r;
        }
    }

    // The check file.
    avance(PasoRespaldo::Checksum);
    {
        QFile f(checksum);
        QByteArray contenido;
        for (const QString& linea : lineasChecksum(r.conteos, momento, r.version)) {
            contenido += cifrarConClave(linea, claveA).toLatin1() + "\r\n";
        }
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(contenido) != contenido.size() ||
            !f.flush()) {
            r.falla = FallaRespaldo::ChecksumNoEscrito;
            r.estado = 75;
            r.detalle = f.errorString();
            return r;
        }
        f.close();
        if (f.error() != QFileDevice::NoError) {
            r.falla = FallaRespaldo::ChecksumNoEscrito;
            r.estado = 75;
            r.detalle = f.errorString();
            return r;
        }
    }
    events::pump();

    // Pack, test, move into place.
    avance(PasoRespaldo::Empaque);
    const QString empaque = ComprimirRespaldo(p.archivo, carpeta);
    if (!empaque.isEmpty()) {
        r.falla = FallaRespaldo::Empaque;
        r.detalle = empaque;
        return r;
    }
    avance(PasoRespaldo::Limpieza);
    return r; // the staging folder and the scripts go with recogida
}

} // namespace v7
