#include "maintenance/respaldo.h"

#include "core/archivos.h"
#include "core/cifrado.h"
#include "core/config.h"
#include "core/errores.h"
#include "core/scripts.h"
#include "core/sql.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace v7 {

namespace {

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
// also by the clean-up of a program that a signal or its time limit ends while the writer runs; and the
// locking transaction, ended on every way out.
class Recogida {
public:
    Recogida() = default;
    ~Recogida() { terminar(); }
    Recogida(const Recogida&) = delete;
    Recogida& operator=(const Recogida&) = delete;

    void archivo(const QString& ruta) { m_restos.agregar(ruta); }
    void carpeta(const QString& ruta) { m_restos.agregar(ruta); }

    [[nodiscard]] bool iniciarTransaccion(std::shared_ptr<db::Connection> c, db::DbError& e) {
        m_transaccion.emplace(std::move(c));
        return m_transaccion->begin(e);
    }
    // Ends the locking transaction (COMMIT; a block where a statement failed is rolled back instead). False
    // with the driver's text when it was not committed.
    bool terminarTransaccion(db::DbError* error = nullptr) {
        if (!m_transaccion || !m_transaccion->active()) {
            return true;
        }
        db::DbError e;
        const bool ok = m_transaccion->commit(e);
        if (!ok && error != nullptr) {
            *error = e;
        }
        return ok;
    }
    void terminar() {
        terminarTransaccion();
        m_restos.borrar();
    }

private:
    std::optional<db::Transaccion> m_transaccion;
    process::Restos m_restos;
};

void fallaSentencia(ResultadoRespaldo& r, const db::DbError& e, const QString& sql) {
    r.falla = FallaRespaldo::Sentencia;
    r.estado = int(e.number);
    r.detalle = e.description + err::kCrLf + QStringLiteral("[cadSQL]:") + sql;
}

// A configuration row that could not be written (its text already says which statement failed).
void fallaConfiguracion(ResultadoRespaldo& r, const QString& texto) {
    r.falla = FallaRespaldo::Sentencia;
    r.estado = int(db::kProviderErrorNumber);
    r.detalle = texto;
}

// The bar's share of each step: the dump and the packing take nearly all of a backup's time.
constexpr int kInicioVolcado = 20;
constexpr int kFinVolcado = 700;
constexpr int kInicioEmpaque = 730;
constexpr int kFinEmpaque = 970;

int milesimasDe(PasoRespaldo paso) {
    switch (paso) {
    case PasoRespaldo::Carpeta:
        return 0;
    case PasoRespaldo::Bloqueo:
        return 10;
    case PasoRespaldo::Volcado:
        return kInicioVolcado;
    case PasoRespaldo::Roles:
        return kFinVolcado;
    case PasoRespaldo::Version:
        return 715;
    case PasoRespaldo::Checksum:
        return 725;
    case PasoRespaldo::Empaque:
        return kInicioEmpaque;
    case PasoRespaldo::Limpieza:
        return 990;
    }
    return 0;
}

// The caller's progress: never backwards, one call at a time whichever thread makes it.
class Progreso {
public:
    explicit Progreso(std::function<void(int, const QString&)> f) : m_f(std::move(f)) {}
    bool activo() const { return bool(m_f); }
    void operator()(int milesimas, const QString& texto) {
        if (!m_f) {
            return;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        milesimas = std::clamp(milesimas, m_ultimo, kMilesimasRespaldo);
        if (milesimas == m_ultimo && texto == m_texto) {
            return;
        }
        m_ultimo = milesimas;
        m_texto = texto;
        m_f(milesimas, texto);
    }

private:
    std::function<void(int, const QString&)> m_f;
    std::mutex m_mutex;
    int m_ultimo = 0;
    QString m_texto;
};

// Runs accion every intervaloMs on a thread of its own for as long as it lives.
class Sondeo {
public:
    Sondeo(int intervaloMs, std::function<void()> accion)
        : m_hilo([this, intervaloMs, accion = std::move(accion)] {
              std::unique_lock<std::mutex> lock(m_mutex);
              while (!m_cv.wait_for(lock, std::chrono::milliseconds(intervaloMs), [this] { return m_parar; })) {
                  lock.unlock();
                  accion();
                  lock.lock();
              }
          }) {}
    ~Sondeo() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_parar = true;
        }
        m_cv.notify_all();
        m_hilo.join();
    }
    Sondeo(const Sondeo&) = delete;
    Sondeo& operator=(const Sondeo&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_parar = false;
    std::thread m_hilo; // last: started once the members above exist
};

QString megas(qint64 bytes) {
    return QString::number(qRound64(double(bytes) / 1048576.0));
}

// How far pg_dump has got: the tables its verbose output says it began (weighted by their size on the
// server) and, where the server reports it (14 and later), the rows its COPY of the current table has
// sent. Runs on the polling thread; the connection is the caller's, idle meanwhile.
class AvanceVolcado {
public:
    AvanceVolcado(std::shared_ptr<db::Connection> conexion, int versionServidor, QString errores)
        : m_conexion(std::move(conexion)), m_versionServidor(versionServidor), m_errores(std::move(errores)) {
        // The sizes the server noted at its last vacuum or analyze: reading them takes no lock, so a table
        // that another session holds does not stop the count (the dump waits for it by itself).
        db::DbError e;
        auto rs = m_conexion->query(
            QStringLiteral("SELECT c.oid::bigint AS id, n.nspname AS esquema, c.relname AS tabla, (c.relpages + "
                           "COALESCE(t.relpages, 0))::float8 * current_setting('block_size')::float8 AS tamano, "
                           "c.reltuples AS filas FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                           "LEFT JOIN pg_class t ON t.oid = c.reltoastrelid WHERE c.relkind = 'r' AND n.nspname <> "
                           "'information_schema' AND n.nspname !~ '^pg_'"),
            e);
        for (; rs && !rs->eof(); rs->moveNext()) {
            Tabla t;
            t.id = rs->text(QStringLiteral("id")).toLongLong();
            t.nombre = rs->text(QStringLiteral("esquema")) + QLatin1Char('.') + rs->text(QStringLiteral("tabla"));
            t.corto = rs->text(QStringLiteral("tabla"));
            t.tamano = qMax(1.0, rs->text(QStringLiteral("tamano")).toDouble());
            t.filas = rs->text(QStringLiteral("filas")).toDouble();
            m_total += t.tamano;
            m_tablas.push_back(t);
        }
    }

    // The dump's share done (0 to 1) and its text.
    std::pair<double, QString> medir() {
        leerSalida();
        if (m_actual < 0) {
            return {0.0, textoPaso(PasoRespaldo::Volcado)};
        }
        const Tabla& t = m_tablas[m_actual];
        double dentro = 0;
        if (m_versionServidor >= 140000) {
            db::DbError e;
            auto rs = m_conexion->query(QStringLiteral("SELECT tuples_processed AS filas, bytes_processed AS bytes "
                                                       "FROM pg_stat_progress_copy WHERE relid::bigint = ") +
                                            QString::number(t.id) +
                                            QStringLiteral(" AND command = 'COPY TO' AND datname = current_database()"),
                                        e);
            if (rs && !rs->eof()) {
                dentro = t.filas > 0 ? rs->text(QStringLiteral("filas")).toDouble() / t.filas
                                     : rs->text(QStringLiteral("bytes")).toDouble() / t.tamano;
            }
        }
        const double hecho = m_hecho + t.tamano * std::clamp(dentro, 0.0, 0.99);
        const QString texto = QStringLiteral("Respaldando la base de datos: tabla ") + t.nombre + QStringLiteral(" (") +
                              QString::number(m_empezadas) + QStringLiteral(" de ") + QString::number(m_tablas.size()) +
                              QStringLiteral(")...");
        return {m_total > 0 ? hecho / m_total : 0.0, texto};
    }

private:
    struct Tabla {
        qint64 id = 0;
        QString nombre, corto;
        double tamano = 1, filas = 0;
        bool empezada = false;
    };

    // The new lines of pg_dump's verbose output: each "dumping contents of table" line (English, or the
    // Spanish of a Spanish locale) begins a table, and so ends the one before.
    void leerSalida() {
        QFile f(m_errores);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(m_leidos)) {
            return;
        }
        const QByteArray nuevo = f.readAll();
        m_leidos += nuevo.size();
        m_pendiente += nuevo;
        static const QRegularExpression kTabla(QStringLiteral(
            "(?:dumping contents of table|volcando (?:el )?contenido de la tabla)\\s+[\"«“]?([^\"»”]+)"));
        qsizetype fin = 0;
        while ((fin = m_pendiente.indexOf('\n')) >= 0) {
            const QString linea = QString::fromUtf8(m_pendiente.left(fin)).trimmed();
            m_pendiente.remove(0, fin + 1);
            const QRegularExpressionMatch m = kTabla.match(linea);
            if (m.hasMatch()) {
                empezar(m.captured(1).trimmed());
            }
        }
    }

    void empezar(const QString& nombre) {
        // Older pg_dump names the table alone, without its schema.
        const bool calificado = nombre.contains(QLatin1Char('.'));
        for (int i = 0; i < m_tablas.size(); ++i) {
            Tabla& t = m_tablas[i];
            if (!t.empezada && (calificado ? t.nombre == nombre : t.corto == nombre)) {
                if (m_actual >= 0) {
                    m_hecho += m_tablas[m_actual].tamano;
                }
                t.empezada = true;
                m_actual = i;
                ++m_empezadas;
                return;
            }
        }
    }

    std::shared_ptr<db::Connection> m_conexion;
    int m_versionServidor = 0;
    QString m_errores;
    QVector<Tabla> m_tablas;
    double m_total = 0, m_hecho = 0;
    int m_actual = -1;
    int m_empezadas = 0;
    qint64 m_leidos = 0;
    QByteArray m_pendiente;
};

// The configuration rows the archive carries with their archive value: written with the counts; the value
// of a running backup is put back once the dump's snapshot is fixed, or on the way out when the backup
// stops before that.
class ValoresEnArchivo {
public:
    ValoresEnArchivo(const QVector<ValorEnArchivo>& valores, std::shared_ptr<db::Connection> conexion)
        : m_valores(valores), m_conexion(std::move(conexion)) {}
    ~ValoresEnArchivo() {
        QString error;
        (void)restablecer(error);
    }
    ValoresEnArchivo(const ValoresEnArchivo&) = delete;
    ValoresEnArchivo& operator=(const ValoresEnArchivo&) = delete;

    // In the connection's open transaction.
    bool escribir(QString& error) {
        for (const ValorEnArchivo& v : m_valores) {
            if (!guardarValorConfiguracion(m_conexion, v.enArchivo, v.clave, &error)) {
                return false;
            }
        }
        m_escritos = true;
        return true;
    }
    // After the transaction committed; each row in a transaction of its own.
    bool restablecer(QString& error) {
        if (!m_escritos) {
            return true;
        }
        m_escritos = false;
        bool ok = true;
        for (const ValorEnArchivo& v : m_valores) {
            ok = guardarValorConfiguracion(m_conexion, v.enCurso, v.clave, &error) && ok;
        }
        return ok;
    }
    void olvidar() { m_escritos = false; } // the transaction that wrote them was rolled back

private:
    QVector<ValorEnArchivo> m_valores;
    std::shared_ptr<db::Connection> m_conexion;
    bool m_escritos = false;
};

// The numeric version of the server behind conexion; -1 when it cannot be told.
int versionServidor(const std::shared_ptr<db::Connection>& conexion) {
    db::DbError e;
    auto rs = conexion->query(QStringLiteral("SELECT current_setting('server_version_num') AS v"), e);
    bool ok = false;
    const int v = rs && !rs->eof() ? rs->text(QStringLiteral("v")).toInt(&ok) : -1;
    return ok ? v : -1;
}

// The locking transaction runs on a connection of the writer's own, where the driver wraps no statement in
// a savepoint (a snapshot cannot be exported from one).
const QString kSinPuntosDeGuardado = QStringLiteral(";Protocol=7.4-1");

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
        r.detalle = err::ocurrio(err::kOcurrioErrorNoMin, e.numero, {e.descripcion, salida});
        return false;
    }
    // umask: what the tool creates besides the prepared files is its owner's only.
    const QString creado = CrearArchivoBat(script, QStringLiteral("umask 077") + err::kCrLf + comando, QString());
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

// What a staging folder left by an earlier run held, once cleared.
struct CarpetaLimpiada {
    bool borrada = false; // nothing is left at its name
    QStringList borrados; // the backup's own files removed from it (when the folder stays)
    QStringList dejados;  // whatever else was in it: not the backup's, left where it was
    int error = 0;        // the folder could not be read or removed (errno)
};

// Clears a staging folder an earlier run left: only the files the backup writes there (regular files with
// the members' names) go, and the folder itself only once that leaves it empty. Anything else (a file put
// there by hand, a folder, a link) is someone's and stays. The folder is reached once, without following a
// link, and everything in it is handled relative to that.
CarpetaLimpiada limpiarCarpetaRespaldo(const QString& carpeta) {
    static const QStringList propios{kMiembroVolcado, kMiembroRoles, kMiembroChecksum};
    CarpetaLimpiada c;
    const QString limpia = QDir::cleanPath(carpeta);
    const int fd = ::open(QFile::encodeName(limpia).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        c.borrada = errno == ENOENT;
        c.error = c.borrada ? 0 : errno;
        return c;
    }
    const int lectura = ::dup(fd);
    DIR* dir = lectura >= 0 ? ::fdopendir(lectura) : nullptr;
    if (dir == nullptr) {
        c.error = errno;
        if (lectura >= 0) {
            ::close(lectura);
        }
        ::close(fd);
        return c;
    }
    QStringList nombres;
    while (const dirent* d = ::readdir(dir)) {
        const QString nombre = QFile::decodeName(d->d_name);
        if (nombre != QLatin1String(".") && nombre != QLatin1String("..")) {
            nombres << nombre;
        }
    }
    ::closedir(dir);
    nombres.sort();
    for (const QString& nombre : nombres) {
        const QByteArray nativo = QFile::encodeName(nombre);
        const QString ruta = limpia + QLatin1Char('/') + nombre;
        struct stat st {};
        const bool propio = propios.contains(nombre) &&
                            ::fstatat(fd, nativo.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        if (!propio) {
            c.dejados << ruta;
        } else if (::unlinkat(fd, nativo.constData(), 0) == 0) {
            c.borrados << ruta;
        } else {
            c.error = errno;
        }
    }
    ::close(fd);
    if (c.dejados.isEmpty() && c.error == 0) {
        if (::rmdir(QFile::encodeName(limpia).constData()) == 0) {
            c.borrada = true;
        } else {
            c.error = errno;
        }
    }
    return c;
}

// Clears the staging folders of earlier days that a run which died left behind (only under the backup
// lock: no other backup of this program folder is running): a folder the clearing empties is removed and
// named in borradas, the backup's files removed from one that stays are named there instead, and what was
// not the backup's is left and named in dejadas. A link of such a name is not ours: left alone.
void limpiarCarpetasViejas(const QString& carpetaPrograma, const QString& deHoy, QStringList& borradas,
                           QStringList& dejadas) {
    QDir programa(carpetaPrograma);
    for (const QString& nombre : programa.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString ruta = programa.filePath(nombre);
        if (!kNombreCarpeta.match(nombre).hasMatch() || QDir::cleanPath(ruta) == QDir::cleanPath(deHoy) ||
            paths::esEnlace(ruta)) {
            continue;
        }
        const CarpetaLimpiada c = limpiarCarpetaRespaldo(ruta);
        if (c.borrada) {
            borradas << ruta;
        } else {
            borradas << c.borrados;
            dejadas << c.dejados;
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

QString textoPaso(PasoRespaldo paso) {
    switch (paso) {
    case PasoRespaldo::Carpeta:
        return QStringLiteral("Preparando la carpeta temporal del respaldo...");
    case PasoRespaldo::Bloqueo:
        return QStringLiteral("Bloqueando las tablas de control y contando sus registros...");
    case PasoRespaldo::Volcado:
        return QStringLiteral("Respaldando la base de datos...");
    case PasoRespaldo::Roles:
        return QStringLiteral("Respaldando los roles del servidor...");
    case PasoRespaldo::Version:
        return QStringLiteral("Leyendo la versión de PostgreSQL...");
    case PasoRespaldo::Checksum:
        return QStringLiteral("Escribiendo el archivo de verificación...");
    case PasoRespaldo::Empaque:
        return QStringLiteral("Comprimiendo el respaldo...");
    case PasoRespaldo::Limpieza:
        return QStringLiteral("Eliminando los archivos temporales...");
    }
    return QString();
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
                       const QString& usuario, const QString& destino, const QString& errores,
                       const QString& instantanea) {
    QString c = herramienta(carpetaBin, QStringLiteral("pg_dump"));
    if (versionNum >= 0 && versionNum < 90500) {
        c += QStringLiteral(" -i");
    }
    c += QStringLiteral(" -h ") + citarSh(servidor) + QStringLiteral(" -p ") + QString::number(puerto) +
         QStringLiteral(" -U ") + citarSh(usuario) + QStringLiteral(" -F c -b");
    if (versionNum >= 0 && versionNum < 120000) {
        c += QStringLiteral(" -o");
    }
    // The staff table has row-level security: without this a login that is not a superuser (an
    // "administrador") gets no dump at all; with it the administrators' rule shows every row.
    if (versionNum < 0 || versionNum >= 90500) {
        c += QStringLiteral(" --enable-row-security");
    }
    if (!instantanea.isEmpty()) {
        c += QStringLiteral(" --snapshot=") + citarSh(instantanea);
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
        return noCreado + err::kCrLf + motivo;
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
    Progreso progreso(p.progreso);
    auto avance = [&](PasoRespaldo paso) {
        process::puntoDeControl();
        if (p.avance) {
            p.avance(paso);
        }
        progreso(milesimasDe(paso), textoPaso(paso));
    };

    // The destination, before anything is made or locked: a backup meant for a disk that is not there
    // fails at once, and none is written where the clean-up would remove it.
    if (const QString motivo = motivoDestinoRespaldo(p.archivo, p.carpetaPrograma, scripts); !motivo.isEmpty()) {
        r.falla = FallaRespaldo::Destino;
        r.detalle = motivo;
        return r;
    }
    Recogida recogida;

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
        // Under the lock nothing else of this program is backing up: the backup's files in it are a killed
        // run's. Anything else is someone's: it is neither removed nor packed, and the backup stops.
        const CarpetaLimpiada c = limpiarCarpetaRespaldo(carpeta);
        if (!c.dejados.isEmpty()) {
            r.falla = FallaRespaldo::CarpetaNoCreada;
            r.estado = err::kArchivoYaExiste;
            r.detalle = QStringLiteral("La carpeta temporal del respaldo ") + carpeta +
                        QStringLiteral(" contiene archivos que no son del respaldo: ") +
                        c.dejados.join(QStringLiteral(", ")) +
                        QStringLiteral(". No se eliminaron; muévalos a otra carpeta e inténtelo nuevamente.");
            r.restosBarridos << c.borrados;
            return r;
        }
        if (!c.borrada) {
            const ErrorSistema es = errorSistema(c.error);
            r.falla = FallaRespaldo::CarpetaNoCreada;
            r.estado = es.numero;
            r.detalle = es.descripcion + QStringLiteral(": ") + carpeta;
            return r;
        }
        r.restosBarridos << carpeta;
    }
    if (p.carpetaExistente == CarpetaExistente::Vaciar) {
        // Under the lock nothing else of this program is backing up: what is there is a killed run's.
        limpiarCarpetasViejas(p.carpetaPrograma, carpeta, r.restosBarridos, r.restosDejados);
        r.restosBarridos << barrerEmpaquesHuerfanos(p.archivo);
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

    // The scrambler's key, before anything is locked. Raw calls on the connection the caller gives (not always
    // the shared one), never reopened under the backup.
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
    const int servidorNum = versionServidor(conexion);
    // pg_dump reads the database as the locking transaction sees it once the counts are stored (both ends
    // must know exported snapshots).
    const bool instantaneaCompartida = versionNum >= 90200 && servidorNum >= 90200;

    // The control tables are locked on a connection of the writer's own while the caller's stores the
    // counts: committed before the dump reads config_veliro.control, so the archive carries them. Its calls
    // stay raw: the locks and the exported snapshot live only in this one session.
    auto privada = std::make_shared<db::Connection>();
    privada->setConnectionString(conexion->connectionString() + kSinPuntosDeGuardado);
    privada->setTimeoutSeconds(30);
    {
        db::DbError e;
        if (!privada->open(e)) {
            r.falla = FallaRespaldo::Sentencia;
            r.estado = int(e.number);
            r.detalle = e.description;
            return r;
        }
    }
    ValoresEnArchivo valores(p.valoresEnArchivo, conexion);

    // The control tables stay locked against writers until pg_dump has run in its own session, so the
    // counts taken here under the locks are the counts of the rows the dump holds.
    avance(PasoRespaldo::Bloqueo);
    {
        db::DbError e;
        if (!recogida.iniciarTransaccion(privada, e)) {
            fallaSentencia(r, e, QStringLiteral("BEGIN;"));
            return r;
        }
    }
    for (const QString& tabla : kTablasControl) {
        db::DbError e;
        qint64 n = 0;
        const QString lock = QStringLiteral("LOCK TABLE ") + tabla + QStringLiteral(" IN EXCLUSIVE MODE;");
        if (!privada->execute(lock, n, e)) {
            fallaSentencia(r, e, lock);
            return r;
        }
        const QString cuenta = QStringLiteral("SELECT count(*) AS registros FROM ") + tabla;
        auto rs = privada->query(cuenta, e);
        if (!rs) {
            fallaSentencia(r, e, cuenta);
            return r;
        }
        const qint64 registros = rs->eof() ? 0 : rs->text(QStringLiteral("registros")).toLongLong();
        rs->close();
        r.conteos.push_back({tabla, registros});
    }
    {
        db::Transaccion t(conexion);
        db::DbError e;
        if (!t.begin(e)) {
            fallaSentencia(r, e, QStringLiteral("BEGIN;"));
            return r;
        }
        for (const ConteoControl& c : r.conteos) {
            qint64 n = 0;
            const QString update = QStringLiteral("UPDATE config_veliro.control SET registros = ") +
                                   QString::number(c.registros) + QStringLiteral(" WHERE tabla = '") + c.tabla +
                                   QStringLiteral("';");
            if (!conexion->execute(update, n, e)) {
                fallaSentencia(r, e, update);
                return r;
            }
        }
        QString error;
        if (!valores.escribir(error)) {
            valores.olvidar();
            fallaConfiguracion(r, error);
            return r;
        }
        if (!t.commit(e)) {
            valores.olvidar();
            fallaSentencia(r, e, QStringLiteral("COMMIT;"));
            return r;
        }
    }
    QString instantanea;
    if (instantaneaCompartida) {
        db::DbError e;
        const QString exportar = QStringLiteral("SELECT pg_export_snapshot() AS instantanea");
        auto rs = privada->query(exportar, e);
        if (!rs || rs->eof()) {
            fallaSentencia(r, e, exportar);
            return r;
        }
        instantanea = rs->text(QStringLiteral("instantanea"));
        QString error;
        if (!valores.restablecer(error)) {
            fallaConfiguracion(r, error);
            return r;
        }
    }

    // The dump.
    avance(PasoRespaldo::Volcado);
    const QString scriptVolcado = scripts + kScriptVolcado;
    const QString erroresVolcado = scripts + QStringLiteral("v7.Backup.txt");
    recogida.archivo(scriptVolcado);
    recogida.archivo(erroresVolcado);
    {
        std::optional<AvanceVolcado> medida;
        std::optional<Sondeo> sondeo;
        if (progreso.activo()) {
            medida.emplace(conexion, servidorNum, erroresVolcado);
            sondeo.emplace(300, [&] {
                const auto [parte, texto] = medida->medir();
                progreso(kInicioVolcado + int((kFinVolcado - kInicioVolcado) * parte), texto);
            });
        }
        if (!correrHerramienta(ScriptRespaldo::Volcado, scriptVolcado,
                               comandoVolcado(versionNum, p.carpetaBin, p.servidor, p.puerto, p.usuario, volcado,
                                              erroresVolcado, instantanea),
                               p.clave, volcado, erroresVolcado, {erroresVolcado}, r)) {
            return r;
        }
    }
    {
        QString error;
        if (!valores.restablecer(error)) {
            fallaConfiguracion(r, error);
            return r;
        }
    }
    {
        db::DbError e;
        if (!recogida.terminarTransaccion(&e)) {
            fallaSentencia(r, e, QStringLiteral("COMMIT;"));
            return r;
        }
    }
    privada->close();

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

    // Pack, test, move into place; the bar follows the archive's size while 7za packs.
    avance(PasoRespaldo::Empaque);
    qint64 entrada = 0;
    for (const QFileInfo& f : QDir(carpeta).entryInfoList(QDir::Files)) {
        entrada += f.size();
    }
    std::optional<Sondeo> sondeo;
    AvisoEmpaque aviso;
    if (progreso.activo()) {
        aviso = [&](FaseEmpaque fase, const QString& temporal) {
            sondeo.reset();
            if (fase == FaseEmpaque::Probando) {
                progreso(kFinEmpaque, QStringLiteral("Verificando el archivo comprimido..."));
                return;
            }
            sondeo.emplace(300, [&progreso, temporal, entrada] {
                const qint64 hecho = QFileInfo(temporal).size();
                const double parte = entrada > 0 ? std::min(1.0, double(hecho) / double(entrada)) : 0.0;
                progreso(kInicioEmpaque + int((kFinEmpaque - kInicioEmpaque) * parte),
                         QStringLiteral("Comprimiendo el respaldo (") + megas(hecho) + QStringLiteral(" de ") +
                             megas(entrada) + QStringLiteral(" MB)..."));
            });
        };
    }
    const QString empaque = ComprimirRespaldo(p.archivo, carpeta, aviso);
    sondeo.reset();
    if (!empaque.isEmpty()) {
        r.falla = FallaRespaldo::Empaque;
        r.detalle = empaque;
        return r;
    }
    avance(PasoRespaldo::Limpieza);
    recogida.terminar();
    progreso(kMilesimasRespaldo, QStringLiteral("Respaldo terminado."));
    return r;
}

} // namespace v7
