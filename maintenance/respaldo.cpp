#include "maintenance/respaldo.h"

#include "core/archivos.h"
#include "core/cifrado.h"
#include "core/config.h"
#include "core/errores.h"
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

// Everything the writer made that must not outlive it: removed on every way out (links never followed),
// also by the clean-up of a program that a signal or its time limit ends while the writer runs.
class Recogida {
public:
    explicit Recogida(std::shared_ptr<db::Connection> c) : m_transaccion(std::move(c)) {}
    ~Recogida() {
        terminarTransaccion();
        m_restos.borrar();
        events::pump();
    }
    Recogida(const Recogida&) = delete;
    Recogida& operator=(const Recogida&) = delete;

    void archivo(const QString& ruta) { m_restos.agregar(ruta); }
    void carpeta(const QString& ruta) { m_restos.agregar(ruta); }

    [[nodiscard]] bool iniciarTransaccion(db::DbError& e) { return m_transaccion.begin(e); }
    // Ends the backup's transaction: COMMIT keeps the counts in config_veliro.control (a block where a
    // statement failed is rolled back instead). False with the driver's text when it was not committed.
    bool terminarTransaccion(db::DbError* error = nullptr) {
        if (!m_transaccion.active()) {
            return true;
        }
        db::DbError e;
        const bool ok = m_transaccion.commit(e);
        events::pump();
        if (!ok && error != nullptr) {
            *error = e;
        }
        return ok;
    }

private:
    db::Transaccion m_transaccion;
    process::Restos m_restos;
};

void fallaSentencia(ResultadoRespaldo& r, const db::DbError& e, const QString& sql) {
    r.falla = FallaRespaldo::Sentencia;
    r.estado = int(e.number);
    r.detalle = e.description + kCrLf + QStringLiteral("[cadSQL]:") + sql;
}

// The tool's output files are made anew, empty and private, before it runs: a link left at one of those
// names is removed, never written through. False with errno.
bool prepararSalidas(const QStringList& archivos) {
    for (const QString& a : archivos) {
        const int fd = paths::crearArchivoNuevo(a);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
    }
    return true;
}

// Writes and runs one tool's script; fills r on failure. salida is the tool's output file (checked for
// content), errores where its error output went; preparar the output files outside the staging folder (a
// folder of our own that nobody else can write into), made anew before the run. The password reaches the
// tool in its environment only.
bool correrHerramienta(ScriptRespaldo cual, const QString& script, const QString& comando, const QString& clave,
                       const QString& salida, const QString& errores, const QStringList& preparar,
                       ResultadoRespaldo& r) {
    if (!prepararSalidas(preparar)) {
        const ErrorSistema e = errorSistema(errno);
        r.falla = FallaRespaldo::ScriptNoEscrito;
        r.script = cual;
        r.detalle = QStringLiteral("Ocurrió el error no. ") + QString::number(e.numero) + kCrLf + e.descripcion +
                    kCrLf + salida;
        return false;
    }
    // umask: what the tool creates besides the prepared files is its owner's only.
    const QString creado = CrearArchivoBat(script, QStringLiteral("umask 077") + kCrLf + comando, QString());
    if (creado != QLatin1String("OK")) {
        r.falla = FallaRespaldo::ScriptNoEscrito;
        r.script = cual;
        r.detalle = creado;
        return false;
    }
    int estado = -1;
    const QString lanzado = EjecutarArchivoBat(script, &estado, entornoClave(clave));
    QFile::remove(script);
    if (!lanzado.isEmpty()) {
        r.falla = FallaRespaldo::ScriptNoIniciado;
        r.script = cual;
        r.detalle = lanzado;
        return false;
    }
    struct stat st {};
    r.tamanoSalida = ::lstat(QFile::encodeName(salida).constData(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
    if (estado != 0) {
        r.falla = FallaRespaldo::HerramientaFallo;
        r.script = cual;
        r.estado = estado;
        r.detalle = lineasDeErrorEn(errores);
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

// The work files of the writer and of the packing, removed or rewritten by every backup.
const QStringList kArchivosDeTrabajo{kScriptVolcado,
                                     QStringLiteral("v7.Backup.txt"),
                                     kScriptRoles,
                                     QStringLiteral("v7.backup_rol.txt"),
                                     kScriptVersion,
                                     kSalidaVersion,
                                     QStringLiteral("v7.version.txt"),
                                     QStringLiteral("r_backup.bat"),
                                     QStringLiteral("r_backup.txt"),
                                     QStringLiteral("r_integral.bat"),
                                     QStringLiteral("r_integral.txt"),
                                     QStringLiteral("respaldo.lock")};

// The staging folders of the program folder: "r" and a date (yyyymmdd).
const QRegularExpression kNombreCarpeta(QStringLiteral("^r\\d{8}$"));

QString canonica(const QString& carpeta) {
    const QString c = QFileInfo(carpeta).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QFileInfo(carpeta).absoluteFilePath()) : c;
}

// Removes the staging folders of earlier days that a run which died left behind (only under the backup
// lock: no other backup of this program folder is running). A link of that name is not ours: left alone.
void borrarCarpetasViejas(const QString& carpetaPrograma, const QString& deHoy) {
    QDir programa(carpetaPrograma);
    for (const QString& nombre : programa.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString ruta = programa.filePath(nombre);
        if (kNombreCarpeta.match(nombre).hasMatch() && QDir::cleanPath(ruta) != QDir::cleanPath(deHoy) &&
            !paths::esEnlace(ruta)) {
            paths::borrarSinSeguirEnlaces(ruta);
        }
    }
}

} // namespace

BloqueoRespaldo::BloqueoRespaldo(const QString& carpetaPrograma)
    : m_ruta(paths::withSlash(carpetaPrograma) + QStringLiteral("config/respaldo.lock")) {
    const QString config = QFileInfo(m_ruta).path();
    // The scripts go into config/: a link there would take them (and the lock) somewhere else.
    if (paths::esEnlace(config)) {
        m_error =
            errorSistema(ELOOP).descripcion + QStringLiteral(": ") + config + QStringLiteral(" es un enlace simbólico");
        return;
    }
    if (!QFileInfo(config).isDir() && QDir().mkpath(config)) {
        ::chmod(QFile::encodeName(config).constData(), 0700);
    }
    m_fd = ::open(QFile::encodeName(m_ruta).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
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

QString motivoDestinoRespaldo(const QString& archivo, const QString& carpetaPrograma, const QString& carpetaScripts) {
    const QString noCreado = QStringLiteral("No se logro crear el archivo de respaldo: ") + archivo;
    if (const QString motivo = motivoDestinoNoValido(archivo); !motivo.isEmpty()) {
        return noCreado + kCrLf + motivo;
    }
    const QFileInfo destino(archivo);
    const QString carpeta = canonica(destino.absolutePath());
    const QString programa = canonica(carpetaPrograma);
    const QString relativa = QDir(programa).relativeFilePath(carpeta);
    const QString primera = relativa.section(QLatin1Char('/'), 0, 0);
    if (!relativa.startsWith(QLatin1String("..")) && kNombreCarpeta.match(primera).hasMatch()) {
        return QStringLiteral("No se puede guardar el respaldo en ") + archivo +
               QStringLiteral(": esa carpeta es la carpeta temporal del respaldo (") + programa + QLatin1Char('/') +
               primera + QStringLiteral("), que se elimina al terminar. Elija otra ubicación.");
    }
    const bool enTrabajo = carpeta == canonica(carpetaScripts) || carpeta == programa + QStringLiteral("/config");
    if (enTrabajo && kArchivosDeTrabajo.contains(destino.fileName())) {
        return QStringLiteral("No se puede guardar el respaldo en ") + archivo +
               QStringLiteral(": ese archivo es un archivo de trabajo del respaldo, que se elimina o reescribe al "
                              "terminar. Elija otra ubicación.");
    }
    return QString();
}

ResultadoRespaldo escribirRespaldo(const ParametrosRespaldo& p, const std::shared_ptr<db::Connection>& conexion) {
    ResultadoRespaldo r;
    const QDateTime momento = p.momento.isValid() ? p.momento : QDateTime::currentDateTime();
    const QString scripts = paths::withSlash(p.carpetaScripts.isEmpty() ? p.carpetaPrograma : p.carpetaScripts);
    const QString carpeta = carpetaRespaldo(p.carpetaPrograma, momento.date());
    r.carpeta = carpeta;
    auto avance = [&](PasoRespaldo paso) {
        process::puntoDeControl();
        if (p.avance) {
            p.avance(paso);
        }
    };

    // The destination, before anything is made or locked: a backup meant for a disk that is not there
    // fails at once, and none is written where the clean-up would remove it.
    if (const QString motivo = motivoDestinoRespaldo(p.archivo, p.carpetaPrograma, scripts); !motivo.isEmpty()) {
        r.falla = FallaRespaldo::Destino;
        r.detalle = motivo;
        return r;
    }
    Recogida recogida(conexion);

    // Staging folder. A link at its name is refused: emptying or removing it would reach whatever it
    // points to.
    avance(PasoRespaldo::Carpeta);
    const QByteArray carpetaNativa = QFile::encodeName(carpeta);
    struct stat st {};
    if (::lstat(carpetaNativa.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            r.falla = FallaRespaldo::CarpetaNoCreada;
            r.estado = err::kErrorAccesoRuta;
            r.detalle = errorSistema(ELOOP).descripcion + QStringLiteral(": ") + carpeta +
                        QStringLiteral(" es un enlace simbólico; no se usa como carpeta del respaldo");
            return r;
        }
        if (p.carpetaExistente == CarpetaExistente::Fallar) {
            r.falla = FallaRespaldo::CarpetaExistente;
            r.detalle = carpeta;
            return r; // not ours: left alone
        }
        int e = 0;
        if (!paths::borrarSinSeguirEnlaces(carpeta, &e)) {
            const ErrorSistema es = errorSistema(e);
            r.falla = FallaRespaldo::CarpetaNoCreada;
            r.estado = es.numero;
            r.detalle = es.descripcion + QStringLiteral(": ") + carpeta;
            return r;
        }
    }
    if (p.carpetaExistente == CarpetaExistente::Vaciar) {
        borrarCarpetasViejas(p.carpetaPrograma, carpeta);
    }
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
        auto rs = conexion->query(kConsultaConfiguracion, e);
        if (!rs) {
            fallaSentencia(r, e, kConsultaConfiguracion);
            return r;
        }
        const QString guardada = ObtenerValorConfiguracion(QStringLiteral("VER_V7TOOLS"), *rs);
        const auto clave = claveParaVersion(guardada);
        if (!clave) {
            r.falla = FallaRespaldo::SinClaveCifrado;
            r.estado = err::kLlamadaNoValida;
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
        if (!conexion->execute(lock, n, e)) {
            fallaSentencia(r, e, lock);
            return r;
        }
        const QString cuenta = QStringLiteral("SELECT count(*) AS registros FROM ") + tabla;
        auto rs = conexion->query(cuenta, e);
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
        if (!conexion->execute(update, n, e)) {
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
            volcado, erroresVolcado, {erroresVolcado}, r)) {
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
                           roles, erroresRoles, {erroresRoles}, r)) {
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
                           QString(), salidaVersion, erroresVersion, {salidaVersion, erroresVersion}, r)) {
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
        QByteArray contenido;
        for (const QString& linea : lineasChecksum(r.conteos, momento, r.version)) {
            contenido += cifrarConClave(linea, claveA).toLatin1() + "\r\n";
        }
        QFile f;
        const int fd = paths::crearArchivoNuevo(checksum);
        const int abierto = fd >= 0 ? 0 : errno;
        const bool escrito = fd >= 0 && f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
                             f.write(contenido) == contenido.size() && f.flush();
        f.close();
        if (!escrito || f.error() != QFileDevice::NoError) {
            const ErrorSistema e = errorSistema(abierto != 0 ? abierto : EIO);
            r.falla = FallaRespaldo::ChecksumNoEscrito;
            r.estado = abierto != 0 ? e.numero : err::kErrorAccesoRuta;
            r.detalle = abierto != 0 ? e.descripcion + QStringLiteral(": ") + checksum : f.errorString();
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
