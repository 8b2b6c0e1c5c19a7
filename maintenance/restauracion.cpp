#include "maintenance/restauracion.h"

#include "core/archivos.h"
#include "core/cifrado.h"
#include "core/config.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/listas.h"
#include "core/marca_restauracion.h"
#include "core/permisos.h"
#include "core/psql_ajeno.h"
#include "core/scripts.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/mantenimiento.h"
#include "maintenance/restauracion_roles.h"
#include "maintenance/texto_completo.h"
#include "maintenance/zona_horaria.h"
#include "platform/archiver.h"
#include "platform/archivo_seguro.h"
#include "platform/db.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThread>

#include <thread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

using err::kCrLf;
const QString kNoModificada = QStringLiteral("La base de datos no fue modificada.");
const QString kIncompleta = QStringLiteral("la base de datos quedó incompleta, restaure nuevamente");

// The load's jobs: the machine's cores, at most this many, and no more than the dump's large data blocks.
// pg_restore gives one job a table's data and then its indexes one after another (they lock the same table),
// so further jobs only pay where several large tables load side by side; each job costs a connection and a
// worker (measured: a dump of one large table loads slower by 8 jobs than by one).
constexpr int kMaxTrabajosCarga = 8;
constexpr qint64 kBloqueGrande = 8 * 1024 * 1024; // a data block of this size (compressed) or more

// Memory for the index builds of the load: the server's own setting when larger; the load's jobs share it.
constexpr qint64 kMemoriaIndicesKb = 1024 * 1024;
constexpr qint64 kMemoriaIndicesPorTrabajoKb = 256 * 1024;

// The installed engine's text lives for the session: a later probe that fails keeps it.
QString& motorInstaladoSesion() {
    static QString motor;
    return motor;
}

QString herramienta(const QString& carpetaBin, const QString& nombre) {
    return carpetaBin.isEmpty() ? nombre : paths::withSlash(carpetaBin) + nombre;
}

// A member of the extracted archive by its name in any case (the writer stores checksum.dat, older
// archives Checksum.dat); the exact name wins when both are there.
QString miembro(const QString& carpeta, const QString& nombre) {
    const QDir dir(carpeta);
    if (QFileInfo(dir.filePath(nombre)).isFile()) {
        return dir.filePath(nombre);
    }
    for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (f.compare(nombre, Qt::CaseInsensitive) == 0) {
            return dir.filePath(f);
        }
    }
    return QString();
}

QString lineasError(const QByteArray& salida, int maximo = 10) {
    QStringList lineas;
    for (const QByteArray& l : salida.split('\n')) {
        if (!l.trimmed().isEmpty()) {
            lineas << QString::fromUtf8(l).trimmed();
        }
    }
    return lineas.mid(0, maximo).join(kCrLf);
}

QByteArray contenido(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ArchivoVerificado rechazo(ArchivoVerificado v, FallaArchivo falla, const QString& detalle = QString()) {
    v.falla = falla;
    v.detalle = detalle;
    return v;
}

// A tool run directly (it is the child that dies with this program), its outputs into files.
process::Result correr(const QString& programa, const QStringList& argumentos, const QString& salida,
                       const QString& errores = QString()) {
    process::Command c;
    c.program = programa;
    c.arguments = argumentos;
    c.cLocale = true;
    c.out = salida.isEmpty() ? process::Sink::Discard : process::Sink::File;
    c.outFile = salida;
    if (errores.isEmpty()) {
        c.err = salida.isEmpty() ? process::Sink::Discard : process::Sink::Stdout;
    } else {
        c.err = process::Sink::File;
        c.errFile = errores;
    }
    return process::run(c);
}

// "Dumped by pg_dump version: 15.18 (…)" of pg_restore -l.
int mayorDelVolcado(const QByteArray& lista) {
    static const QRegularExpression re(QStringLiteral("Dumped by pg_dump version: *([0-9][^\\s]*)"));
    const auto m = re.match(QString::fromUtf8(lista));
    return m.hasMatch() ? versionMayor(m.captured(1)) : -1;
}

// The installed engine: pg_config's first line through v7.version.bat. Empty with error set when it cannot
// be told now nor was told earlier in the session.
QString motorInstalado(const QString& carpetaBin, QString& error) {
    const QString carpeta = paths::withSlash(sesion().RutaTemporal);
    const QString script = carpeta + QStringLiteral("v7.version.bat");
    const QString salida = carpeta + QStringLiteral("pg_version.txt");
    const QString escrito = CrearArchivoBat(script,
                                            citarSh(herramienta(carpetaBin, QStringLiteral("pg_config"))) +
                                                QStringLiteral(" --version > ") + citarSh(salida),
                                            QString());
    QString motor;
    if (escrito != QLatin1String("OK")) {
        error = escrito;
    } else {
        int estado = -1;
        const QString lanzado = EjecutarArchivoBat(script, &estado);
        if (!lanzado.isEmpty()) {
            error = lanzado + kCrLf +
                    QStringLiteral("No se logró lanzar el archivo .bat para guardar la versión de Postgres");
        } else {
            QFile f(salida);
            if (estado == 0 && f.open(QIODevice::ReadOnly)) {
                motor = lineaVersion(f.readAll());
            }
        }
    }
    QFile::remove(script);
    QFile::remove(salida);
    if (!motor.isEmpty()) {
        motorInstaladoSesion() = motor;
        return motor;
    }
    if (!motorInstaladoSesion().isEmpty()) {
        return motorInstaladoSesion();
    }
    if (error.isEmpty()) {
        error = QStringLiteral("pg_config no informó la versión del motor de datos");
    }
    return QString();
}

// Every line of a table: "schema.table#count".
const QRegularExpression& lineaTabla() {
    static const QRegularExpression re(
        QStringLiteral("^([A-Za-z_][A-Za-z0-9_$]*)\\.([A-Za-z_][A-Za-z0-9_$]*)#(\\d+)$"));
    return re;
}

// --- The dump's structure (pg_dump's custom format) ---

constexpr int kBloqueDatos = 1;   // a table's data
constexpr int kBloqueObjetos = 3; // the large objects
constexpr int kPosicionConocida = 2;

// Reads the integers, texts and offsets of a custom-format dump as pg_restore does; any read past the end
// or a value out of reason sets roto.
class LectorVolcado {
public:
    LectorVolcado(const uchar* datos, qint64 tamano) : m_p(datos), m_n(tamano) {}

    bool roto = false;
    qint64 pos = 0;
    int tamanoEntero = 4, tamanoDesplazamiento = 8;

    int byte() {
        if (pos >= m_n) {
            roto = true;
            return 0;
        }
        return m_p[pos++];
    }
    qint64 entero() {
        const int signo = byte();
        quint64 v = 0;
        for (int b = 0; b < tamanoEntero; ++b) {
            v |= quint64(byte()) << (8 * b);
        }
        if (v > quint64(std::numeric_limits<qint64>::max())) {
            roto = true;
            return 0;
        }
        return signo != 0 ? -qint64(v) : qint64(v);
    }
    // false for a null text.
    bool texto(QByteArray* valor = nullptr) {
        const qint64 l = entero();
        if (l < 0 || roto) {
            return false;
        }
        if (l > m_n - pos) {
            roto = true;
            return false;
        }
        if (valor != nullptr) {
            *valor = QByteArray(reinterpret_cast<const char*>(m_p + pos), int(l));
        }
        pos += l;
        return true;
    }
    qint64 desplazamiento(int& estado) {
        estado = byte();
        quint64 o = 0;
        for (int b = 0; b < tamanoDesplazamiento; ++b) {
            o |= quint64(byte()) << (8 * b);
        }
        return qint64(o);
    }
    bool saltar(qint64 k) {
        if (k < 0 || k > m_n - pos) {
            roto = true;
            return false;
        }
        pos += k;
        return true;
    }
    // The chunks of one piece of data, up to the zero length that ends them.
    bool saltarTrozos() {
        for (;;) {
            const qint64 l = entero();
            if (roto || l < 0) {
                roto = true;
                return false;
            }
            if (l == 0) {
                return true;
            }
            if (!saltar(l)) {
                return false;
            }
        }
    }
    bool alFinal() const { return pos == m_n; }

private:
    const uchar* m_p;
    qint64 m_n;
};

// The SQL statements of one entry's text (one a line, as pg_restore prints privileges and policies).
QStringList sentenciasDe(const QStringList& lineas) {
    QStringList sentencias;
    QString actual;
    for (const QString& l : lineas) {
        if (l.startsWith(QLatin1String("--")) || l.trimmed().isEmpty() || l.startsWith(QLatin1Char('\\'))) {
            continue;
        }
        actual += (actual.isEmpty() ? QString() : QStringLiteral(" ")) + l.trimmed();
        if (actual.endsWith(QLatin1Char(';'))) {
            sentencias << actual;
            actual.clear();
        }
    }
    if (!actual.isEmpty()) {
        sentencias << actual;
    }
    return sentencias;
}

bool nombraRoles(const QString& tipo) {
    return tipo == QLatin1String("ACL") || tipo == QLatin1String("DEFAULT ACL") || tipo == QLatin1String("POLICY");
}

// The objects of the old tsearch2 add-on that an engine-8 dump brings in schema public; the full-text
// upgrade makes their replacements.
const QSet<QString>& nombresTsearch2() {
    static const QSet<QString> n = [] {
        QSet<QString> s;
        for (const char* x : {"pg_ts_cfg",
                              "pg_ts_cfgmap",
                              "pg_ts_dict",
                              "pg_ts_parser",
                              "tsvector",
                              "tsquery",
                              "gtsvector",
                              "gtsq",
                              "statinfo",
                              "tokentype",
                              "tokenout",
                              "tsdebug",
                              "lexize",
                              "set_curdict",
                              "set_curprs",
                              "set_curcfg",
                              "show_curcfg",
                              "dex_init",
                              "dex_lexize",
                              "snb_en_init",
                              "snb_lexize",
                              "snb_ru_init",
                              "snb_ru_init_koi8",
                              "snb_ru_init_utf8",
                              "spell_init",
                              "spell_lexize",
                              "syn_init",
                              "syn_lexize",
                              "thesaurus_init",
                              "thesaurus_lexize",
                              "token_type",
                              "parse",
                              "prsd_start",
                              "prsd_getlexeme",
                              "prsd_end",
                              "prsd_lextype",
                              "prsd_headline",
                              "to_tsvector",
                              "to_tsquery",
                              "plainto_tsquery",
                              "setweight",
                              "strip",
                              "stat",
                              "tsearch2",
                              "rank",
                              "rank_cd",
                              "headline",
                              "get_covers",
                              "_get_parser_from_curcfg",
                              "ts_debug",
                              "numnode",
                              "querytree",
                              "tsq_mcontains",
                              "tsq_mcontained",
                              "rewrite",
                              "rewrite_accum",
                              "rewrite_finish",
                              "reset_tsearch",
                              "concat",
                              "exectsq",
                              "rexectsq",
                              "length",
                              "gin_extract_tsvector",
                              "gin_extract_tsquery",
                              "gin_ts_consistent",
                              "gist_tsvector_ops",
                              "gist_tp_tsquery_ops",
                              "gin_tsvector_ops",
                              "tsvector_ops",
                              "tsquery_ops"}) {
            s.insert(QString::fromLatin1(x));
        }
        return s;
    }();
    return n;
}

// The object's own name in an entry's name: "FUNCTION lexize(text)" -> "lexize".
QString nombreBase(const DefinicionVolcado& d) {
    QString n = d.nombre;
    if (d.tipo == QLatin1String("COMMENT") || d.tipo == QLatin1String("ACL")) {
        static const QRegularExpression prefijo(QStringLiteral("^(?:[A-Z]+ )+"));
        n.remove(prefijo);
    }
    n = n.section(QLatin1Char('('), 0, 0).trimmed();
    n = n.section(QLatin1Char(' '), 0, 0);
    return n;
}

// Why an entry is left out of the load, or empty when it is loaded.
QString motivoOmision(const DefinicionVolcado& d, bool motorAntiguo) {
    static const QSet<QString> manejadores = {QStringLiteral("plpgsql_call_handler()"),
                                              QStringLiteral("plpgsql_validator(oid)"),
                                              QStringLiteral("plpgsql_inline_handler(internal)")};
    const bool sistema = d.esquema == QLatin1String("public") || d.esquema == QLatin1String("pg_catalog") ||
                         d.esquema == QLatin1String("-");
    if ((d.tipo == QLatin1String("PROCEDURAL LANGUAGE") || d.tipo == QLatin1String("EXTENSION")) &&
        d.nombre == QLatin1String("plpgsql")) {
        return QStringLiteral("el lenguaje plpgsql ya existe en el servidor");
    }
    if (d.tipo == QLatin1String("COMMENT") &&
        (d.nombre == QLatin1String("EXTENSION plpgsql") || d.nombre == QLatin1String("PROCEDURAL LANGUAGE plpgsql") ||
         d.nombre == QLatin1String("LANGUAGE plpgsql"))) {
        return QStringLiteral("el lenguaje plpgsql ya existe en el servidor");
    }
    if (d.tipo == QLatin1String("FUNCTION") && sistema && manejadores.contains(d.nombre)) {
        return QStringLiteral("el lenguaje plpgsql ya existe en el servidor");
    }
    if ((d.tipo == QLatin1String("SCHEMA") && d.nombre == QLatin1String("public")) ||
        (d.tipo == QLatin1String("COMMENT") && d.nombre == QLatin1String("SCHEMA public"))) {
        return QStringLiteral("el esquema public ya existe en el servidor");
    }
    if (motorAntiguo && d.esquema == QLatin1String("public") && nombresTsearch2().contains(nombreBase(d))) {
        return QStringLiteral("objeto de tsearch2 que la actualización de búsqueda de texto reemplaza");
    }
    return QString();
}

// An entry's object as the closing message names it: "TABLE catalogos.usuarios".
QString objetoDe(const DefinicionVolcado& d) {
    const bool enEsquema = !d.esquema.isEmpty() && d.esquema != QLatin1String("-");
    if (d.tipo == QLatin1String("ACL") || d.tipo == QLatin1String("DEFAULT ACL")) {
        const int espacio = d.nombre.indexOf(QLatin1Char(' '));
        if (enEsquema && espacio > 0) {
            return d.nombre.left(espacio) + QLatin1Char(' ') + d.esquema + QLatin1Char('.') + d.nombre.mid(espacio + 1);
        }
        return d.nombre;
    }
    return d.tipo + QLatin1Char(' ') + (enEsquema ? d.esquema + QLatin1Char('.') : QString()) + d.nombre;
}

// --- The lock of a restore ---

// One restore at a time in a work folder: held for the whole run. A run that finds it free may remove what
// a killed earlier run left there.
class BloqueoRestauracion {
public:
    explicit BloqueoRestauracion(const QString& carpeta) {
        const QByteArray ruta = QFile::encodeName(carpeta + QStringLiteral("v7.restauracion.lock"));
        m_fd = ::open(ruta.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_error = archivo::motivoDeError(QFile::decodeName(ruta), errno);
            return;
        }
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            m_error = QStringLiteral("Otra restauración de la base de datos está en curso en este equipo; espere a "
                                     "que termine.");
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~BloqueoRestauracion() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    BloqueoRestauracion(const BloqueoRestauracion&) = delete;
    BloqueoRestauracion& operator=(const BloqueoRestauracion&) = delete;
    bool tomado() const { return m_fd >= 0; }
    const QString& error() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// Tools that a killed earlier run left working on its extracted archive (the workers of a parallel load
// outlive their leader until their current item is done): stopped before the folder is swept.
void terminarHerramientasAbandonadas(const QString& carpeta) {
    const QByteArray prefijo = QFile::encodeName(carpeta + QLatin1Char('/'));
    QVector<pid_t> detenidos;
    const QStringList procesos = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& p : procesos) {
        bool ok = false;
        const pid_t pid = p.toInt(&ok);
        if (!ok || pid == ::getpid()) {
            continue;
        }
        QFile f(QStringLiteral("/proc/") + p + QStringLiteral("/cmdline"));
        if (!f.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QByteArray& argumento : f.read(64 * 1024).split('\0')) {
            if (argumento.startsWith(prefijo)) {
                ::kill(pid, SIGKILL);
                detenidos << pid;
                break;
            }
        }
    }
    QElapsedTimer reloj;
    reloj.start();
    while (!detenidos.isEmpty() && reloj.elapsed() < 2000) {
        QFile estado(QStringLiteral("/proc/") + QString::number(detenidos.last()) + QStringLiteral("/stat"));
        if (!estado.open(QIODevice::ReadOnly) || estado.readAll().contains(") Z ")) {
            detenidos.removeLast();
        } else {
            QThread::msleep(20);
        }
    }
}

// --- Other sessions and the drops ---

struct SesionAjena {
    qint64 pid = 0;
    QString descripcion;
};

QString estadoEnEspanol(const QString& estado) {
    if (estado == QLatin1String("idle in transaction")) {
        return QStringLiteral("inactiva dentro de una transacción abierta");
    }
    if (estado == QLatin1String("idle in transaction (aborted)")) {
        return QStringLiteral("inactiva dentro de una transacción fallida");
    }
    if (estado == QLatin1String("active")) {
        return QStringLiteral("ejecutando una consulta");
    }
    if (estado == QLatin1String("idle")) {
        return QStringLiteral("inactiva");
    }
    return estado;
}

// The client sessions of veliro7 other than this program's; soloConBloqueos: only those holding a lock on a
// relation.
QVector<SesionAjena> sesionesAjenas(bool soloConBloqueos) {
    QVector<SesionAjena> sesiones;
    // This program's own connections (the shared one, the console's probe, any other it holds) are not
    // other clients: they are known by their server session, never by their login.
    const QStringList nuestras = db::sesionesPropias();
    const QString propias = nuestras.isEmpty()
                                ? QString()
                                : QStringLiteral(" AND ") + db::expresionSesion(QStringLiteral("a")) +
                                      QStringLiteral(" NOT IN (") + listaLiterales(nuestras) + QLatin1Char(')');
    const auto rs =
        sql::filas(QStringLiteral("SELECT a.pid, coalesce(a.usename::text, ''), coalesce(a.application_name, ''), "
                                  "coalesce(host(a.client_addr), ''), coalesce(a.state, ''), "
                                  "coalesce(to_char(coalesce(a.xact_start, a.backend_start), 'HH24:MI:SS'), '') "
                                  "FROM pg_stat_activity a WHERE a.datname = 'veliro7' AND a.pid <> pg_backend_pid() "
                                  "AND a.backend_type = 'client backend'") +
                   propias +
                   (soloConBloqueos ? QStringLiteral(" AND EXISTS (SELECT 1 FROM pg_locks l WHERE l.pid = a.pid AND "
                                                     "l.granted AND l.locktype = 'relation')")
                                    : QString()) +
                   QStringLiteral(" ORDER BY a.pid"))
            .rs;
    for (; rs && !rs->eof(); rs->moveNext()) {
        SesionAjena s;
        s.pid = rs->text(0).toLongLong();
        QString d = QStringLiteral("sesión ") + rs->text(0) + QStringLiteral(" del usuario ") +
                    (rs->text(1).isEmpty() ? QStringLiteral("(desconocido)") : rs->text(1));
        if (!rs->text(2).isEmpty()) {
            d += QStringLiteral(", programa ") + rs->text(2);
        }
        d += QStringLiteral(", desde ") +
             (rs->text(3).isEmpty() ? QStringLiteral("este equipo") : QStringLiteral("el equipo ") + rs->text(3));
        if (!rs->text(4).isEmpty()) {
            d += QStringLiteral(", ") + estadoEnEspanol(rs->text(4));
            if (rs->text(4).startsWith(QLatin1String("idle in transaction")) && !rs->text(5).isEmpty()) {
                d += QStringLiteral(" desde las ") + rs->text(5);
            }
        }
        s.descripcion = d;
        sesiones.push_back(s);
    }
    return sesiones;
}

// Ends the sessions and waits a few seconds for them to be gone.
void terminarSesiones(const QVector<SesionAjena>& sesiones) {
    QStringList pids;
    for (const SesionAjena& s : sesiones) {
        pids << QString::number(s.pid);
    }
    (void)sql::filas(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                                    "'veliro7' AND pid IN (") +
                     pids.join(QLatin1Char(',')) + QLatin1Char(')'));
    QElapsedTimer reloj;
    reloj.start();
    while (reloj.elapsed() < 5000) {
        const sql::Valor quedan = sql::valor(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid IN (") +
                                             pids.join(QLatin1Char(',')) + QLatin1Char(')'));
        if (!quedan.ok() || !quedan.hayFila || quedan.texto() == QLatin1String("0")) {
            return;
        }
        QThread::msleep(50);
    }
}

enum class Eliminacion { Hecha, SinCambios, Incierta };

struct ResultadoEliminacion {
    Eliminacion estado = Eliminacion::SinCambios;
    QString mensaje; // for SinCambios and Incierta
};

// Every schema (public made again as it was) and every large object, in one transaction that waits at most
// plazoMs for another session's lock: all go or none. The server's mark of the restore is written first in
// that same transaction, so it stands exactly when the drops do.
ResultadoEliminacion eliminarContenido(int plazoMs, const MarcaRestauracion& marca) {
    ResultadoEliminacion r;
    auto con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        r.mensaje = QStringLiteral("No se pudo establecer conexión con el servidor");
        return r;
    }
    // Raw statements of the transaction: a lost connection must not be reopened under it (the drops would go on
    // outside it), and the server's SQLSTATE tells a lock that did not come in time.
    db::Transaccion t(con);
    db::DbError e;
    qint64 n = 0;
    auto ejecutar = [&](const QString& sentencia) { return t.connection().execute(sentencia, n, e); };
    bool ok =
        t.begin(e) &&
        ejecutar(QStringLiteral("SET LOCAL lock_timeout = '") + QString::number(plazoMs) + QStringLiteral("ms'")) &&
        ejecutar(QStringLiteral("SET LOCAL statement_timeout = 0"));
    if (ok) {
        const QString noMarcada = marcarRestauracionServidor(t.connection(), marca, &e);
        if (!noMarcada.isEmpty() && !e.isLostConnection()) {
            t.rollback();
            r.mensaje = noMarcada;
            return r;
        }
        ok = noMarcada.isEmpty();
    }
    // Owner and grants of schema public, to make it again as it was.
    QString propietario = QStringLiteral("pg_database_owner");
    QStringList concesiones;
    QStringList esquemas;
    QString otroQuePublic; // a schema whose presence afterwards tells whether the drops were committed
    if (ok) {
        auto rs = t.connection().query(
            QStringLiteral("SELECT pg_get_userbyid(nspowner) FROM pg_namespace WHERE nspname = 'public'"), e);
        ok = rs != nullptr;
        if (ok && !rs->eof()) {
            propietario = rs->text(0);
            auto g = t.connection().query(
                QStringLiteral("SELECT CASE WHEN a.grantee = 0 THEN '' ELSE pg_get_userbyid(a.grantee) END, "
                               "a.privilege_type, a.is_grantable FROM pg_namespace n, aclexplode(n.nspacl) a "
                               "WHERE n.nspname = 'public' AND a.grantee <> n.nspowner"),
                e);
            ok = g != nullptr;
            for (; ok && !g->eof(); g->moveNext()) {
                const QString a = g->text(0).isEmpty() ? QStringLiteral("PUBLIC") : citarIdentificador(g->text(0));
                concesiones << QStringLiteral("GRANT ") + g->text(1) + QStringLiteral(" ON SCHEMA public TO ") + a +
                                   (textoABooleano(g->text(2)) ? QStringLiteral(" WITH GRANT OPTION") : QString());
            }
        } else if (ok) {
            concesiones << QStringLiteral("GRANT USAGE ON SCHEMA public TO PUBLIC");
        }
    }
    if (ok) {
        auto rs = t.connection().query(QStringLiteral("SELECT nspname::text FROM pg_namespace WHERE nspname !~ '^pg_' "
                                                      "AND nspname <> 'information_schema' ORDER BY nspname"),
                                       e);
        ok = rs != nullptr;
        for (; ok && !rs->eof(); rs->moveNext()) {
            esquemas << citarIdentificador(rs->text(0));
            if (rs->text(0) != QLatin1String("public")) {
                otroQuePublic = rs->text(0);
            }
        }
    }
    if (ok && !esquemas.isEmpty()) {
        ok =
            ejecutar(QStringLiteral("DROP SCHEMA ") + esquemas.join(QStringLiteral(", ")) + QStringLiteral(" CASCADE"));
    }
    if (ok) {
        // Large objects belong to no schema: they go with the rest, or the load would meet the old ones.
        ok = t.connection().query(QStringLiteral("SELECT count(lo_unlink(oid)) FROM pg_largeobject_metadata"), e) !=
             nullptr;
    }
    if (ok) {
        ok = ejecutar(QStringLiteral("CREATE SCHEMA public AUTHORIZATION ") + citarIdentificador(propietario));
        for (int i = 0; ok && i < concesiones.size(); ++i) {
            ok = ejecutar(concesiones[i]);
        }
    }
    if (!ok) {
        const bool perdida = e.isLostConnection();
        t.rollback();
        if (perdida) {
            // The transaction never committed: the server threw it away with the connection.
            r.mensaje = QStringLiteral("Se perdió la conexión con el servidor antes de eliminar los esquemas.");
        } else if (e.sqlState == QLatin1String("55P03")) {
            QStringList quienes;
            for (const SesionAjena& s : sesionesAjenas(true)) {
                quienes << QStringLiteral("   - ") + s.descripcion;
            }
            r.mensaje =
                QStringLiteral("No se eliminó ningún esquema: otra sesión ocupa la base de datos y no la liberó "
                               "en ") +
                QString::number(plazoMs / 1000) + QStringLiteral(" segundos.") +
                (quienes.isEmpty() ? QString() : kCrLf + quienes.join(kCrLf)) + kCrLf +
                QStringLiteral("Cierre esas sesiones e intente nuevamente.");
        } else {
            r.mensaje = err::textoParaUsuario(QStringLiteral("No se eliminaron los esquemas de la base de datos."),
                                              e.description);
        }
        return r;
    }
    if (!t.commit(e)) {
        if (e.isLostConnection()) {
            // The commit's answer was lost: a server that is back tells whether it took place.
            QString error;
            if (!otroQuePublic.isEmpty() && ConexionServer(sesion().CadenaConexion, error)) {
                if (sql::valor(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ") +
                               citarLiteral(otroQuePublic))
                        .hayFila) {
                    r.mensaje = QStringLiteral("Se perdió la conexión con el servidor antes de eliminar los esquemas.");
                    return r;
                }
            }
            r.estado = Eliminacion::Incierta;
            r.mensaje = QStringLiteral("Se perdió la conexión con el servidor mientras se eliminaban los esquemas: ") +
                        kIncompleta + QLatin1Char('.');
        } else {
            r.mensaje = err::textoParaUsuario(QStringLiteral("No se eliminaron los esquemas de la base de datos."),
                                              e.description);
        }
        return r;
    }
    r.estado = Eliminacion::Hecha;
    return r;
}

// Whether the server is gone for good: the connection does not answer and cannot be opened again.
bool servidorPerdido() {
    if (conexionPrincipal().isOpen() && sql::valor(QStringLiteral("SELECT 1")).ok()) {
        return false;
    }
    QString error;
    return !ConexionServer(sesion().CadenaConexion, error);
}

// A roles file in the text encoding it was written in: UTF-8, else Windows-1252 taken byte for byte.
struct TextoRoles {
    QString texto;
    bool utf8 = true;
};
TextoRoles decodificarRoles(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString t = utf8.decode(bytes);
    if (!utf8.hasError()) {
        return {t, true};
    }
    return {QString::fromLatin1(bytes), false};
}

// The schemas of the restored database (every one but the server's own).
QStringList esquemasDeLaBase() {
    QStringList esquemas;
    const auto rs = sql::filas(QStringLiteral("SELECT nspname::text FROM pg_namespace WHERE nspname !~ '^pg_' AND "
                                              "nspname <> 'information_schema' ORDER BY nspname"))
                        .rs;
    for (; rs && !rs->eof(); rs->moveNext()) {
        esquemas << rs->text(0);
    }
    return esquemas;
}

} // namespace

QString errorGeneralRestauracion(qint64 numero, const QString& descripcion, int bloque) {
    return err::ocurrio(err::kOcurrioErrorNoMin, numero,
                        {descripcion, QString(),
                         QStringLiteral("Bloque=") + QString::number(bloque) + QStringLiteral("[Rutina] BtnMontar")});
}

QString rutaLogRestauracion(const QDate& fecha) {
    return paths::programFolder() + QStringLiteral("LogRestauracion_") + fecha.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".txt");
}

QString rutaLogUsuariosRestaurados(const QDate& fecha) {
    return paths::programFolder() + QStringLiteral("LogUsuarioRestaurados_") +
           fecha.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

QString limpiarRestauracionAbandonada(const QString& trabajo) {
    if (trabajo.isEmpty()) {
        return QString();
    }
    const QString carpetaTrabajo = paths::withSlash(trabajo);
    const QString carpeta = carpetaTrabajo + kCarpetaRestauracion;
    struct stat st {};
    if (::lstat(QFile::encodeName(carpeta).constData(), &st) != 0) {
        return QString();
    }
    const BloqueoRestauracion bloqueo(carpetaTrabajo);
    if (!bloqueo.tomado()) {
        return QString(); // a restore runs there now
    }
    terminarHerramientasAbandonadas(carpeta);
    int error = 0;
    const bool borrada = paths::borrarSinSeguirEnlaces(carpeta, &error);
    const QString ahora = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    anexarLog(rutaLogRestauracion(QDate::currentDate()),
              QStringLiteral("=== ") + ahora + QStringLiteral(" al iniciar V7Tools ") +
                  (borrada ? QStringLiteral("se eliminó ")
                           : QStringLiteral("no se pudo eliminar (") + QString::fromLocal8Bit(std::strerror(error)) +
                                 QStringLiteral(") ")) +
                  QStringLiteral("la carpeta ") + carpeta +
                  QStringLiteral(", el respaldo extraído por una restauración que no terminó\n"));
    return borrada ? carpeta : QString();
}

std::optional<ChecksumRespaldo> leerChecksum(const QByteArray& contenido) {
    static const QRegularExpression hex(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
    QStringList crudas;
    for (const QString& l : QString::fromLatin1(contenido).split(QRegularExpression(QStringLiteral("\\r?\\n")))) {
        const QString t = l.trimmed();
        if (t.isEmpty()) {
            continue;
        }
        if (!hex.match(t).hasMatch()) {
            return std::nullopt;
        }
        crudas << t;
    }
    if (crudas.isEmpty()) {
        return std::nullopt;
    }
    ChecksumRespaldo c;
    c.claveA = !DescifrarCadena(crudas[0], false).contains(QLatin1String("catalogos"));
    bool primera = true;
    for (const QString& cruda : crudas) {
        const QString linea = DescifrarCadena(cruda, c.claveA);
        if (linea.contains(QLatin1Char('#'))) {
            const auto m = lineaTabla().match(linea);
            if (!m.hasMatch()) {
                return std::nullopt;
            }
            bool ok = false;
            const qint64 n = m.captured(3).toLongLong(&ok);
            if (!ok) {
                return std::nullopt;
            }
            c.tablas.push_back({m.captured(1) + QLatin1Char('.') + m.captured(2), n});
        } else if (primera) {
            return std::nullopt; // the first line is always a table line
        } else if (c.fecha.isEmpty()) {
            c.fecha = linea;
        } else {
            c.motor = linea;
        }
        primera = false;
    }
    if (c.motor.isEmpty()) {
        c.motor = QStringLiteral("POSTGRESQL 8");
    }
    return c;
}

EstructuraVolcado examinarVolcado(const QString& ruta) {
    EstructuraVolcado r;
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) {
        r.motivo = f.errorString();
        return r;
    }
    const qint64 tamano = f.size();
    const uchar* p = tamano > 0 ? f.map(0, tamano) : nullptr;
    if (p == nullptr || tamano < 11 || ::memcmp(p, "PGDMP", 5) != 0) {
        r.motivo = QStringLiteral("no es un volcado en el formato propio de pg_dump");
        return r;
    }
    const int mayor = p[5], menor = p[6];
    LectorVolcado l(p, tamano);
    l.tamanoEntero = p[8];
    l.tamanoDesplazamiento = p[9];
    // Versions 1.10 (PostgreSQL 8.4) to 1.15; the custom format (1) only.
    if (mayor != 1 || menor < 10 || menor > 15 || p[10] != 1 || l.tamanoEntero < 1 || l.tamanoEntero > 8 ||
        l.tamanoDesplazamiento < 1 || l.tamanoDesplazamiento > 8) {
        r.motivo = QStringLiteral("versión del formato no reconocida");
        return r;
    }
    l.pos = 11;
    if (menor >= 15) {
        l.byte(); // compression algorithm
    } else {
        l.entero(); // compression level
    }
    for (int i = 0; i < 7; ++i) {
        l.entero(); // the dump's date and time
    }
    l.texto(); // database
    l.texto(); // server version
    l.texto(); // pg_dump version
    struct ConDatos {
        qint64 id, desplazamiento;
        int estado;
    };
    QVector<ConDatos> conDatos;
    const qint64 entradas = l.entero();
    for (qint64 i = 0; i < entradas && !l.roto; ++i) {
        const qint64 id = l.entero();
        const qint64 tieneDatos = l.entero();
        for (int k = 0; k < 4; ++k) {
            l.texto(); // table oid, oid, tag, kind
        }
        if (menor >= 11) {
            l.entero(); // section
        }
        for (int k = 0; k < 5; ++k) {
            l.texto(); // definition, drop, copy statements, schema, tablespace
        }
        if (menor >= 14) {
            l.texto(); // table access method
        }
        l.texto(); // owner
        l.texto(); // "with oids"
        while (l.texto() && !l.roto) {
            // dependencies, up to a null text
        }
        int estado = 0;
        const qint64 d = l.desplazamiento(estado);
        if (estado < 1 || estado > 3) {
            l.roto = true;
        }
        if (tieneDatos != 0) {
            conDatos.push_back({id, d, estado});
        }
    }
    if (l.roto) {
        r.motivo = QStringLiteral("el índice del volcado está dañado");
        return r;
    }
    r.reconocida = true;
    r.conDesplazamientos =
        std::all_of(conDatos.begin(), conDatos.end(), [](const ConDatos& c) { return c.estado == kPosicionConocida; });
    if (!r.conDesplazamientos) {
        r.motivo = QStringLiteral("el volcado no registra dónde está cada bloque de datos");
        return r;
    }
    // The data blocks follow the table of contents up to the end of the file: each one whole.
    QHash<qint64, qint64> bloques; // start -> entry id
    while (!l.alFinal()) {
        const qint64 inicio = l.pos;
        const int tipo = l.byte();
        const qint64 id = l.entero();
        if (l.roto) {
            break;
        }
        if (tipo == kBloqueDatos) {
            l.saltarTrozos();
        } else if (tipo == kBloqueObjetos) {
            for (;;) {
                const qint64 oid = l.entero();
                if (l.roto || oid == 0 || !l.saltarTrozos()) {
                    break;
                }
            }
        } else {
            l.roto = true;
        }
        if (l.roto) {
            break;
        }
        bloques.insert(inicio, id);
        r.tamanosBloques << l.pos - inicio;
    }
    if (l.roto) {
        r.motivo =
            QStringLiteral("el volcado está cortado o dañado (") + QString::number(tamano) + QStringLiteral(" bytes)");
        return r;
    }
    for (const ConDatos& c : conDatos) {
        if (bloques.value(c.desplazamiento, -1) != c.id) {
            r.motivo = QStringLiteral("falta el bloque de datos de la entrada ") + QString::number(c.id);
            return r;
        }
    }
    r.completa = true;
    return r;
}

int trabajosDeCarga(const EstructuraVolcado& estructura) {
    if (!estructura.reconocida || !estructura.conDesplazamientos || !estructura.completa) {
        return 1;
    }
    const int grandes = int(std::count_if(estructura.tamanosBloques.begin(), estructura.tamanosBloques.end(),
                                          [](qint64 t) { return t >= kBloqueGrande; }));
    return qBound(1, qMin(QThread::idealThreadCount(), grandes), kMaxTrabajosCarga);
}

QVector<DefinicionVolcado> leerDefiniciones(const QString& textoPgRestore) {
    static const QRegularExpression entrada(QStringLiteral("^-- TOC entry (\\d+) "));
    static const QRegularExpression nombre(
        QStringLiteral("^-- Name: (.*); Type: ([^;]*); Schema: ([^;]*); Owner: (.*)$"));
    QVector<DefinicionVolcado> defs;
    QStringList lineas;
    static const QRegularExpression propiedad(QStringLiteral("^ALTER [A-Z ]+ .* OWNER TO .+;$"));
    auto cerrar = [&] {
        if (!defs.isEmpty()) {
            const QStringList sentencias = sentenciasDe(lineas);
            if (nombraRoles(defs.last().tipo)) {
                defs.last().sentencias = sentencias;
            }
            for (const QString& s : sentencias) {
                if (propiedad.match(s).hasMatch()) {
                    defs.last().propiedad << s;
                }
            }
        }
        lineas.clear();
    };
    for (const QString& l : textoPgRestore.split(QLatin1Char('\n'))) {
        if (const auto m = entrada.match(l); m.hasMatch()) {
            cerrar();
            DefinicionVolcado d;
            d.id = m.captured(1).toInt();
            defs.push_back(d);
            continue;
        }
        if (defs.isEmpty()) {
            continue;
        }
        if (const auto m = nombre.match(l); m.hasMatch() && defs.last().tipo.isEmpty()) {
            defs.last().nombre = m.captured(1);
            defs.last().tipo = m.captured(2);
            defs.last().esquema = m.captured(3);
            defs.last().propietario = m.captured(4);
            continue;
        }
        lineas << l;
    }
    cerrar();
    return defs;
}

ArchivoVerificado verificarArchivo(const QString& archivo, const QString& carpeta, const QString& carpetaBin,
                                   const std::function<void()>& avanceMotor) {
    ArchivoVerificado v;
    v.carpeta = carpeta;
    // What an earlier run left here (one killed before its clean-up) goes first.
    QDir dir(carpeta);
    if ((dir.exists() && !dir.removeRecursively()) || !QDir().mkpath(carpeta)) {
        return rechazo(v, FallaArchivo::CarpetaTrabajo, carpeta);
    }
    QFile::setPermissions(carpeta, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString notas = paths::withSlash(carpeta) + QStringLiteral(".verificacion/");
    QDir().mkpath(notas);
    const QString psql = herramienta(carpetaBin, QStringLiteral("psql"));
    const QString pgRestore = herramienta(carpetaBin, QStringLiteral("pg_restore"));

    // The extraction checks every member's CRC (a damaged archive fails here); the installed tools are asked
    // about themselves meanwhile. The answers are judged below in the order the checks have always had.
    process::Result extraccion;
    QString errorMotor, motor, psqlNoRestringible;
    const QString salidaExtraccion = notas + QStringLiteral("extraccion.txt");
    events::esperarEnHilo([&] {
        std::thread herramientas([&] {
            motor = motorInstalado(carpetaBin, errorMotor);
            psqlNoRestringible = psqlRestringible(psql);
        });
        extraccion = correr(archiver::sieteZa(),
                            {QStringLiteral("e"), archivo, QStringLiteral("-o") + carpeta, QStringLiteral("-y")},
                            salidaExtraccion);
        herramientas.join();
    });
    {
        const QByteArray texto = contenido(salidaExtraccion);
        if (!extraccion.ok() || !texto.contains("Everything is Ok")) {
            if (texto.contains("Can not open output file") || texto.contains("No space left") ||
                texto.contains("Write error")) {
                return rechazo(v, FallaArchivo::Extraccion, lineasError(texto, 5));
            }
            return rechazo(v, FallaArchivo::PruebaFallida,
                           archiver::significadoSalida7za(extraccion.started ? extraccion.status() : -1));
        }
    }
    v.volcado = miembro(carpeta, kMiembroVolcado);
    if (v.volcado.isEmpty()) {
        return rechazo(v, FallaArchivo::FaltaMiembro, kMiembroVolcado);
    }
    const QString checksum = miembro(carpeta, kMiembroChecksum);
    if (checksum.isEmpty()) {
        return rechazo(v, FallaArchivo::FaltaMiembro, kMiembroChecksum);
    }
    v.roles = miembro(carpeta, kMiembroRoles);
    {
        QFile f(checksum);
        const auto c = f.open(QIODevice::ReadOnly) ? leerChecksum(f.readAll()) : std::nullopt;
        if (!c) {
            return rechazo(v, FallaArchivo::ChecksumInvalido);
        }
        v.checksum = *c;
    }
    if (!v.roles.isEmpty()) {
        // The roles file runs through psql: not one meta-command of it may run.
        const archivo::Lectura l = archivo::leerRegular(v.roles, 256 * archivo::kMiB);
        if (!l.ok()) {
            return rechazo(v, FallaArchivo::RolesNoValidos, l.motivo);
        }
        // Older pg_dumpall wrote a \connect to the maintenance database first: the restore never runs it (only
        // the role statements it filters out of the file do), so it is not held against the archive.
        QByteArray sinConexion = l.datos;
        static const QRegularExpression conexion(QStringLiteral("^\\\\connect( [^\\n]*)?$"),
                                                 QRegularExpression::MultilineOption);
        sinConexion = QString::fromLatin1(sinConexion).replace(conexion, QString()).toLatin1();
        const ScriptAjeno s = prepararScriptAjeno(sinConexion);
        if (!s.ok()) {
            return rechazo(v, FallaArchivo::RolesNoValidos, s.motivo);
        }
        if (!psqlNoRestringible.isEmpty()) {
            return rechazo(v, FallaArchivo::PsqlSinRestriccion, psqlNoRestringible);
        }
    }

    if (avanceMotor) {
        avanceMotor();
    }
    v.motorInstalado = motor;
    v.mayorInstalado = versionMayor(v.motorInstalado);
    if (v.mayorInstalado < 0) {
        return rechazo(v, FallaArchivo::MotorDesconocido, errorMotor);
    }
    v.mayorRespaldo = versionMayor(v.checksum.motor);
    if (v.mayorRespaldo > v.mayorInstalado) {
        return rechazo(v, FallaArchivo::MotorPosterior);
    }

    // At once: pg_restore lists the dump (its header and table of contents) and prints its entries without
    // data (their owners, and the roles their privileges name); the dump's own structure says whether every
    // data block is whole where its entry says it is, so that a dump cut short is refused without reading it
    // all. A dump that does not record its blocks' places is read to its end by pg_restore instead (and loaded
    // by one job).
    const QString lista = notas + QStringLiteral("lista.txt");
    const QString erroresLista = notas + QStringLiteral("lista.err.txt");
    const QString definiciones = notas + QStringLiteral("definiciones.sql");
    const QString erroresDefiniciones = notas + QStringLiteral("definiciones.err.txt");
    process::Result listado, definido;
    EstructuraVolcado estructura;
    events::esperarEnHilo([&] {
        std::thread examen([&] { estructura = examinarVolcado(v.volcado); });
        std::thread ddl([&] {
            definido = correr(pgRestore,
                              {QStringLiteral("-v"), QStringLiteral("--section=pre-data"),
                               QStringLiteral("--section=post-data"), QStringLiteral("-f"), definiciones, v.volcado},
                              QString(), erroresDefiniciones);
        });
        listado = correr(pgRestore, {QStringLiteral("-l"), v.volcado}, lista, erroresLista);
        examen.join();
        ddl.join();
    });
    if (!listado.ok()) {
        const QByteArray e = contenido(erroresLista);
        return rechazo(v,
                       e.contains("unsupported version") ? FallaArchivo::MotorPosterior : FallaArchivo::VolcadoIlegible,
                       lineasError(e));
    }
    v.listaVolcado = contenido(lista);
    if (mayorDelVolcado(v.listaVolcado) > v.mayorInstalado) {
        return rechazo(v, FallaArchivo::MotorPosterior);
    }
    if (estructura.reconocida && estructura.conDesplazamientos) {
        if (!estructura.completa) {
            return rechazo(v, FallaArchivo::VolcadoIncompleto, estructura.motivo);
        }
        v.trabajos = trabajosDeCarga(estructura);
    } else {
        const QString errores = notas + QStringLiteral("lectura.err.txt");
        const process::Result r = events::esperar([&] {
            return correr(pgRestore, {QStringLiteral("-f"), QStringLiteral("/dev/null"), v.volcado}, QString(),
                          errores);
        });
        if (!r.ok()) {
            return rechazo(v, FallaArchivo::VolcadoIncompleto, lineasError(contenido(errores)));
        }
    }
    if (!definido.ok()) {
        return rechazo(v, FallaArchivo::VolcadoIlegible, lineasError(contenido(erroresDefiniciones)));
    }
    v.definiciones = leerDefiniciones(QString::fromUtf8(contenido(definiciones)));
    for (const DefinicionVolcado& d : v.definiciones) {
        if (!d.propietario.isEmpty()) {
            v.rolesNombrados.insert(d.propietario);
        }
        for (const QString& s : d.sentencias) {
            for (const QString& rol : rolesDeSentencia(s)) {
                v.rolesNombrados.insert(rol);
            }
        }
    }
    return v;
}

QString mensajeArchivoRechazado(const ArchivoVerificado& v) {
    QString t;
    switch (v.falla) {
    case FallaArchivo::Ninguna:
        return QString();
    case FallaArchivo::CarpetaTrabajo:
        t = QStringLiteral("No se pudo preparar la carpeta de trabajo ") + v.detalle;
        break;
    case FallaArchivo::PruebaFallida:
        t = QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad:") + kCrLf + v.detalle;
        break;
    case FallaArchivo::Extraccion:
        t = QStringLiteral("No se logró descompactar el archivo del respaldo:") + kCrLf + v.detalle;
        break;
    case FallaArchivo::FaltaMiembro:
        t = QStringLiteral("El archivo del respaldo no contiene el archivo ") + v.detalle +
            QStringLiteral(", no es un respaldo de VELIRO7.");
        break;
    case FallaArchivo::ChecksumInvalido:
        t = QStringLiteral("El archivo ") + kMiembroChecksum +
            QStringLiteral(" del respaldo no es válido, no es un respaldo de VELIRO7.");
        break;
    case FallaArchivo::RolesNoValidos:
        t = QStringLiteral("El archivo ") + kMiembroRoles +
            QStringLiteral(" del respaldo no se puede usar, no se ejecutó nada de él:") + kCrLf + v.detalle;
        break;
    case FallaArchivo::PsqlSinRestriccion:
        t = v.detalle;
        break;
    case FallaArchivo::MotorDesconocido:
        t = QStringLiteral("No se logró conocer la versión instalada del motor de datos PostgreSQL:") + kCrLf +
            v.detalle;
        break;
    case FallaArchivo::MotorPosterior:
        t = QStringLiteral("No se puede montar el respaldo debido a que la versión instalada de") + kCrLf +
            QStringLiteral("postgres es anterior a la que contiene el respaldo");
        break;
    case FallaArchivo::VolcadoIlegible:
    case FallaArchivo::VolcadoIncompleto:
        t = QStringLiteral("El archivo ") + kMiembroVolcado +
            QStringLiteral(" del respaldo está dañado o incompleto, no se puede montar:") + kCrLf + v.detalle;
        break;
    }
    return t + kCrLf + kCrLf + kNoModificada;
}

ListaCarga prepararListaCarga(const ArchivoVerificado& v, const QSet<QString>& rolesExistentes) {
    ListaCarga c;
    QHash<int, const DefinicionVolcado*> porId;
    for (const DefinicionVolcado& d : v.definiciones) {
        porId.insert(d.id, &d);
    }
    const bool motorAntiguo = v.mayorRespaldo >= 0 && v.mayorRespaldo <= 8;
    QSet<QString> faltantes;
    static const QRegularExpression idEntrada(QStringLiteral("^(\\d+); "));
    static const QRegularExpression datosTsearch2(QStringLiteral("^\\d+; \\d+ \\d+ TABLE DATA public (\\S+) "));
    for (const QByteArray& crudo : v.listaVolcado.split('\n')) {
        const QString linea = QString::fromUtf8(crudo);
        const auto m = idEntrada.match(linea);
        if (!m.hasMatch()) {
            c.lista += crudo + '\n';
            continue;
        }
        QString motivo;
        const DefinicionVolcado* d = porId.value(m.captured(1).toInt(), nullptr);
        if (d != nullptr) {
            motivo = motivoOmision(*d, motorAntiguo);
            // The objects' own entries set their owners (ALTER ... OWNER TO); privileges and comments do not.
            static const QSet<QString> sinDueno = {QStringLiteral("ACL"), QStringLiteral("DEFAULT ACL"),
                                                   QStringLiteral("COMMENT")};
            if (motivo.isEmpty() && !d->propietario.isEmpty() && !sinDueno.contains(d->tipo) &&
                !rolesExistentes.contains(d->propietario)) {
                faltantes.insert(d->propietario);
            }
            if (motivo.isEmpty() && nombraRoles(d->tipo)) {
                for (const QString& s : d->sentencias) {
                    for (const QString& rol : rolesDeSentencia(s)) {
                        if (!rolesExistentes.contains(rol)) {
                            motivo = QStringLiteral("nombra el rol ") + rol + QStringLiteral(", que no existe");
                            QStringList& objetos = c.concesionesSinRol[rol];
                            if (!objetos.contains(objetoDe(*d))) {
                                objetos << objetoDe(*d);
                            }
                        }
                    }
                }
                if (!motivo.isEmpty() && d->tipo != QLatin1String("POLICY")) {
                    c.diferidas.push_back(*d);
                    motivo.clear();
                    c.lista += ';' + crudo + '\n';
                    continue;
                }
            }
        } else if (motorAntiguo) {
            const auto t = datosTsearch2.match(linea);
            if (t.hasMatch() && nombresTsearch2().contains(t.captured(1))) {
                motivo = QStringLiteral("objeto de tsearch2 que la actualización de búsqueda de texto reemplaza");
            }
        }
        if (motivo.isEmpty()) {
            c.lista += crudo + '\n';
        } else {
            c.lista += ';' + crudo + '\n';
            c.omitidas << linea.trimmed() + QStringLiteral("  (") + motivo + QLatin1Char(')');
            c.idsOmitidos.insert(m.captured(1).toInt());
        }
    }
    c.propietariosFaltantes = QStringList(faltantes.begin(), faltantes.end());
    c.propietariosFaltantes.sort();
    return c;
}

namespace {

// What the steps of one run share.
struct Corrida {
    const InterfazRestauracion& ui;
    SessionState& s;
    process::Restos& restos;
    QString trabajo; // the work folder, ending in "/"
    QString carpeta; // the extracted archive
    QString bin;     // the tools' folder
    QString log;     // the restore's own log
    int progreso = 0;

    void paso(int valor, const QString& estado = QString()) {
        if (valor >= 0) {
            progreso = valor;
        }
        if (ui.avance) {
            ui.avance(valor, estado);
        }
    }
    void aviso(const Fallo& f) const {
        if (ui.aviso) {
            ui.aviso(f);
        }
    }
};

// A step that ends the restore: its message, or the server lost (then the message says what was under way).
struct Parada {
    QString texto;
    Gravedad gravedad = Gravedad::Error;
    bool sinServidor = false;
};
using PosibleParada = std::optional<Parada>;

Parada perdidaAl(const QString& queSeHacia) {
    return {queSeHacia, Gravedad::Error, true};
}

// A failure of a query: the server gone, or the general error box of the restore.
Parada fallaDeConsulta(const QString& queSeHacia, const QString& error, int progreso) {
    return servidorPerdido() ? perdidaAl(queSeHacia)
                             : Parada{errorGeneralRestauracion(db::kProviderErrorNumber, error, progreso)};
}

// Other sessions would hold the drops up, or see the database half gone: they are named, and ended only when
// the administrator says so.
PosibleParada atenderOtrasSesiones(Corrida& c) {
    const InterfazRestauracion& ui = c.ui;
    const QVector<SesionAjena> otras = events::esperar([] { return sesionesAjenas(false); });
    if (otras.isEmpty()) {
        return std::nullopt;
    }
    QStringList lineas;
    for (const SesionAjena& o : otras) {
        lineas << QStringLiteral("   - ") + o.descripcion;
    }
    const QString pregunta =
        QStringLiteral("Hay otras sesiones conectadas a la base de datos de VELIRO7:") + kCrLf + lineas.join(kCrLf) +
        kCrLf + kCrLf +
        QStringLiteral("Para restaurar el respaldo es necesario terminarlas; lo que no hayan guardado se perderá.") +
        kCrLf + QStringLiteral("¿ Desea terminar estas sesiones y continuar con la restauración ?");
    c.paso(-1, QStringLiteral("Hay otras sesiones conectadas a la base de datos; se espera su respuesta (todavía no "
                              "se ha modificado nada)..."));
    if (!ui.terminarSesiones || !ui.terminarSesiones(pregunta)) {
        return Parada{QStringLiteral("La restauración se canceló: hay otras sesiones conectadas a la base de datos.") +
                          kCrLf + kCrLf + kNoModificada,
                      Gravedad::Informacion};
    }
    c.paso(-1, QStringLiteral("Terminando las otras sesiones conectadas a la base de datos..."));
    events::esperarEnHilo([&] { terminarSesiones(otras); });
    return std::nullopt;
}

// The staff logins go (each in a transaction of its own); other applications' roles and the session's own
// login stay as they are. protegidos gets the roles no step may touch.
PosibleParada eliminarStaff(Corrida& c, QSet<QString>& protegidos, QStringList& fallas) {
    QString error;
    protegidos = rolesProtegidos(error);
    if (protegidos.isEmpty()) {
        return fallaDeConsulta(QStringLiteral("al eliminar los usuarios"), error, c.progreso);
    }
    bool ok = false;
    const QStringList staff = rolesStaff(protegidos, ok, error);
    if (!ok) {
        return fallaDeConsulta(QStringLiteral("al eliminar los usuarios"), error, c.progreso);
    }
    const QString logRoles = rutaLogUsuariosRestaurados(QDate::currentDate());
    const EliminacionRoles e = events::esperar([&] { return eliminarRolesStaff(staff, logRoles); });
    fallas += e.fallas;
    if (e.dependencias) {
        c.aviso(fallo(QStringLiteral("No se eliminaron algunos usuarios debido a que tienen dependencias de otras "
                                     "bases de datos,para mayor información consultar el archivo: ") +
                          kCrLf + kCrLf + logRoles,
                      Gravedad::Aviso));
    }
    return std::nullopt;
}

// The archive's roles file, reduced to what the server lacks (filtrarRoles), run by psql under a fresh
// restrict key (not one meta-command of the file can run) in one transaction that stops at the first error:
// a run stopped on the way, or a statement that fails, leaves none of its roles behind, never one half made
// (a login without LOGIN or without its group, which a later restore would keep as it is). incompletos gets
// the archive's staff logins that exist afterwards without the login or group the archive gives them.
PosibleParada crearRolesDelArchivo(Corrida& c, const ArchivoVerificado& v, const QSet<QString>& protegidos,
                                   QStringList& fallas, QStringList& incompletos) {
    c.paso(-1, QStringLiteral("Asignando permisos a los roles..."));
    bool ok = false;
    QString error;
    const QSet<QString> existentes = rolesExistentes(ok, error);
    if (!ok) {
        return fallaDeConsulta(QStringLiteral("al crear los usuarios"), error, c.progreso);
    }
    const archivo::Lectura l = archivo::leerRegular(v.roles, 256 * archivo::kMiB);
    const TextoRoles roles = decodificarRoles(l.datos);
    RolesFiltrados detalle;
    const QString filtrado = filtrarRoles(roles.texto, protegidos, existentes, v.rolesNombrados, &detalle);
    const ScriptAjeno guion = prepararScriptAjeno(roles.utf8 ? filtrado.toUtf8() : filtrado.toLatin1());
    if (!l.ok() || !guion.ok()) {
        return Parada{QStringLiteral("No se logró preparar el archivo de usuarios del respaldo: ") +
                      (l.ok() ? guion.motivo : l.motivo) + kCrLf +
                      QStringLiteral("Se recomienda restaurar nuevamente la base de datos")};
    }
    anexarLog(c.log, QStringLiteral("--- usuarios creados del respaldo: ") +
                         detalle.creados.join(QStringLiteral(", ")) +
                         QStringLiteral("\n--- usuarios del respaldo que ya existían (no se modificaron): ") +
                         detalle.omitidos.join(QStringLiteral(", ")) + QLatin1Char('\n'));
    const QString script = c.trabajo + QStringLiteral("v7.roles.bat");
    const QString salida = c.trabajo + QStringLiteral("v7.roles.txt");
    c.restos.agregar(script);
    c.restos.agregar(salida);
    const QString escrito = CrearArchivoBat(
        script,
        citarSh(herramienta(c.bin, QStringLiteral("psql"))) +
            QStringLiteral(" -X -q -1 -v ON_ERROR_STOP=1 -d veliro7 -f - -h ") + citarSh(c.s.ServidorIP) +
            QStringLiteral(" -p ") + QString::number(c.s.PuertoBD) + QStringLiteral(" -U ") + citarSh(c.s.UsuarioBD) +
            QStringLiteral(" > ") + citarSh(salida) + QStringLiteral(" 2>&1"),
        QString());
    const QString noLanzado = QStringLiteral("No se logró lanzar el archivo .BAT para restaurar los usuarios");
    if (escrito != QLatin1String("OK")) {
        return Parada{escrito + kCrLf + noLanzado};
    }
    const ResultadoScript corrido = ejecutarScript(script, entornoClave(c.s.ClaveBD), guion.entrada);
    if (!corrido.iniciado) {
        return Parada{QString::number(corrido.error.numero) + QLatin1Char(' ') + corrido.error.descripcion + kCrLf +
                      noLanzado};
    }
    const QByteArray salidaRoles = contenido(salida);
    anexarLog(c.log, QStringLiteral("--- usuarios (psql, estado ") + QString::number(corrido.estado) +
                         QStringLiteral(")\n") + QString::fromUtf8(salidaRoles));
    if (corrido.estado != 0 || salidaRoles.contains("ERROR:") || salidaRoles.contains("FATAL:")) {
        if (servidorPerdido()) {
            return perdidaAl(QStringLiteral("al crear los usuarios"));
        }
        fallas << QStringLiteral("Usuarios del respaldo: la creación se detuvo en el primer error y no se creó "
                                 "ninguno: ") +
                      db::redactStatement(lineasError(salidaRoles, 5));
    }
    const QVector<StaffEsperado> staff = staffDelArchivo(roles.texto);
    incompletos = events::esperar([&] { return staffIncompleto(staff, ok, error); });
    if (!ok) {
        fallas << QStringLiteral("Usuarios del respaldo: no se pudo comprobar los usuarios analistas: ") + error;
    }
    return std::nullopt;
}

// The load by pg_restore, over the work list of prepararListaCarga, judged by its status: what it still
// meets is a real error. plan gets the privileges left for after the load.
PosibleParada montar(Corrida& c, const ArchivoVerificado& v, ListaCarga& plan) {
    bool ok = false;
    QString error;
    const QSet<QString> existentes = rolesExistentes(ok, error);
    if (!ok) {
        return fallaDeConsulta(QStringLiteral("antes de montar el respaldo"), error, c.progreso);
    }
    plan = prepararListaCarga(v, existentes);
    QString anotado;
    for (const QString& o : plan.omitidas) {
        anotado += QStringLiteral("--- omitido: ") + o + QLatin1Char('\n');
    }
    for (const DefinicionVolcado& d : plan.diferidas) {
        anotado += QStringLiteral("--- permisos aplicados después de la carga, sin los roles que no existen: ") +
                   d.tipo + QLatin1Char(' ') + d.nombre + QLatin1Char('\n');
    }
    if (!plan.propietariosFaltantes.isEmpty()) {
        anotado += QStringLiteral("--- propietarios que no existen (los objetos quedan a nombre de ") + c.s.UsuarioBD +
                   QStringLiteral("): ") + plan.propietariosFaltantes.join(QStringLiteral(", ")) + QLatin1Char('\n');
    }
    anexarLog(c.log, anotado);
    const QString otraVez = QStringLiteral("Se recomienda restaurar nuevamente la base de datos");
    const QString rutaLista = c.carpeta + QStringLiteral("/base.lista");
    QFile f(rutaLista);
    if (!f.open(QIODevice::WriteOnly) || f.write(plan.lista) != plan.lista.size()) {
        return Parada{QStringLiteral("No se logró preparar la lista de carga del respaldo: ") + f.errorString() +
                      kCrLf + otraVez};
    }
    f.close();
    QString opciones;
    if (!plan.propietariosFaltantes.isEmpty()) {
        opciones += QStringLiteral(" -O");
    }
    const int trabajos = v.trabajos;
    if (trabajos > 1) {
        opciones += QStringLiteral(" -j ") + QString::number(trabajos);
    }
    anexarLog(c.log, QStringLiteral("--- carga: pg_restore con ") + QString::number(trabajos) +
                         (trabajos == 1 ? QStringLiteral(" trabajo\n") : QStringLiteral(" trabajos\n")));
    // The load's sessions: index builds sort in memory where the server's setting would spill to disk, and a
    // commit does not wait for its flush. That is safe here: a load cut short leaves the mark anyway, and the
    // restore's own statements after it commit normally, which flushes every commit of the load before them.
    QMap<QString, QString> entorno = entornoClave(c.s.ClaveBD);
    {
        const qint64 servidor =
            sql::valor(QStringLiteral("SELECT setting::bigint FROM pg_settings WHERE name = 'maintenance_work_mem'"))
                .texto()
                .toLongLong();
        const qint64 memoria = qMax(servidor, qMin(kMemoriaIndicesPorTrabajoKb, kMemoriaIndicesKb / trabajos));
        entorno.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c maintenance_work_mem=") +
                                                        QString::number(memoria) +
                                                        QStringLiteral("kB -c synchronous_commit=off"));
    }
    const QString script = c.trabajo + QStringLiteral("v7.Load.bat");
    const QString errores = c.trabajo + QStringLiteral("v7.Load.txt");
    c.restos.agregar(script);
    c.restos.agregar(errores);
    const QString escrito = CrearArchivoBat(
        script,
        citarSh(herramienta(c.bin, QStringLiteral("pg_restore"))) + QStringLiteral(" -h ") + citarSh(c.s.ServidorIP) +
            QStringLiteral(" -p ") + QString::number(c.s.PuertoBD) + QStringLiteral(" -U ") + citarSh(c.s.UsuarioBD) +
            QStringLiteral(" -d veliro7 -v") + opciones + QStringLiteral(" -L ") + citarSh(rutaLista) +
            QLatin1Char(' ') + citarSh(v.volcado) + QStringLiteral(" 2> ") + citarSh(errores),
        QString());
    if (escrito != QLatin1String("OK")) {
        return Parada{escrito + kCrLf + otraVez};
    }
    int estado = -1;
    const QString lanzado = EjecutarArchivoBat(script, &estado, entorno);
    if (!lanzado.isEmpty()) {
        return Parada{lanzado + kCrLf + QStringLiteral("No se logró lanzar el archivo .BAT para restaurar la base")};
    }
    if (estado != 0) {
        const QStringList lineas = lineasDestacadasEn(errores, 1000);
        anexarLog(c.log, QStringLiteral("--- carga (pg_restore, estado ") + QString::number(estado) +
                             QStringLiteral(")\n") + lineas.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        if (servidorPerdido()) {
            return perdidaAl(QStringLiteral("al montar el respaldo"));
        }
        return Parada{QStringLiteral("No se logró montar el respaldo, pg_restore terminó con el código ") +
                      QString::number(estado) + QStringLiteral(":") + kCrLf + lineas.mid(0, 10).join(kCrLf) + kCrLf +
                      kCrLf + QStringLiteral("Los detalles están en el archivo: ") + c.log + kCrLf + otraVez};
    }
    return std::nullopt;
}

// The dump's privileges that named roles the server lacks, without those roles. They run as the session:
// a SET SESSION AUTHORIZATION of the dump would outlast a statement that failed after it.
QStringList aplicarPrivilegiosDiferidos(const QVector<DefinicionVolcado>& diferidas) {
    QStringList fallas;
    bool ok = false;
    QString error;
    const QSet<QString> existentes = rolesExistentes(ok, error);
    for (const DefinicionVolcado& d : diferidas) {
        for (const QString& sentencia : d.sentencias) {
            if (sentencia.startsWith(QLatin1String("SET SESSION AUTHORIZATION")) ||
                sentencia.startsWith(QLatin1String("RESET SESSION AUTHORIZATION"))) {
                continue;
            }
            const QStringList roles = rolesDeSentencia(sentencia);
            if (!std::all_of(roles.begin(), roles.end(),
                             [&](const QString& rol) { return existentes.contains(rol); })) {
                continue;
            }
            const sql::Hecho hecho = sql::ejecutar(sentencia);
            if (!hecho.ok()) {
                fallas << d.tipo + QLatin1Char(' ') + d.nombre + QStringLiteral(": ") +
                              err::detalleDelServidor(hecho.error);
            }
        }
    }
    return fallas;
}

// The counts checksum.dat recorded, table by table: a stop at the first that differs.
PosibleParada compararConteos(const ChecksumRespaldo& checksum) {
    for (const ConteoControl& c : checksum.tablas) {
        const QString consulta =
            QStringLiteral("SELECT count(*) AS NoReg FROM ") +
            citarIdentificador(c.tabla.section(QLatin1Char('.'), 0, 0), c.tabla.section(QLatin1Char('.'), 1));
        QString error;
        const std::optional<qint64> encontrados = events::esperar([&]() -> std::optional<qint64> {
            const sql::Valor v = sql::valor(consulta);
            error = v.error;
            if (!v.ok() || !v.hayFila) {
                return std::nullopt;
            }
            return v.texto().toLongLong();
        });
        if (!encontrados) {
            if (servidorPerdido()) {
                return perdidaAl(QStringLiteral("al comprobar la integridad"));
            }
            return Parada{
                QStringLiteral("Error al recuperar los registros, es recomendable eliminar la base de datos y "
                               "restaurarla nuevamente") +
                kCrLf + error};
        }
        if (*encontrados != c.registros) {
            return Parada{QStringLiteral("Al parecer la restauración no se realizó correctamente ya que el respaldo "
                                         "contenía ") +
                          QString::number(c.registros) + QStringLiteral(" registros en la tabla ") + c.tabla +
                          QStringLiteral(" mientras que en la base de datos solo hay ") +
                          QString::number(*encontrados) + QStringLiteral(" registros.") + kCrLf +
                          QStringLiteral("Se recomienda eliminar la base de datos y restaurarla nuevamente")};
        }
    }
    return std::nullopt;
}

// After a load that could not set owners (pg_restore -O, because some owner is missing): the objects of the
// owners that exist go back to them; those of the missing owners stay the session login's. The failures'
// texts.
QStringList devolverPropietarios(const ArchivoVerificado& v, const ListaCarga& plan) {
    bool ok = false;
    QString error;
    const QSet<QString> existentes = rolesExistentes(ok, error);
    if (!ok) {
        return {QStringLiteral("no se pudo leer los roles del servidor: ") + error};
    }
    const QString login = sesion().UsuarioBD.trimmed();
    QStringList fallas;
    int mas = 0;
    for (const DefinicionVolcado& d : v.definiciones) {
        if (plan.idsOmitidos.contains(d.id) || d.propietario == login || !existentes.contains(d.propietario)) {
            continue;
        }
        for (const QString& sentencia : d.propiedad) {
            const sql::Hecho hecho = sql::ejecutar(sentencia);
            if (hecho.ok()) {
                continue;
            }
            if (fallas.size() < 10) {
                fallas << objetoDe(d) + QStringLiteral(" (") + d.propietario + QStringLiteral("): ") +
                              err::detalleDelServidor(hecho.error);
            } else {
                ++mas;
            }
        }
    }
    if (mas > 0) {
        fallas << QStringLiteral("y ") + QString::number(mas) + QStringLiteral(" objetos más");
    }
    return fallas;
}

// What a restore that ran to its end did differently from the archive, for its closing message: the owners
// and the grantees the server lacks, and the archive's staff logins that exist without their login or group.
QStringList notasDeRoles(const ListaCarga& plan, const QStringList& staffIncompletos, const QString& login) {
    constexpr int kObjetosPorRol = 5;
    QStringList notas;
    if (!plan.propietariosFaltantes.isEmpty()) {
        notas << QStringLiteral("Los objetos de estos propietarios, que no existen en este servidor, quedaron a "
                                "nombre de ") +
                     login + QStringLiteral(": ") + plan.propietariosFaltantes.join(QStringLiteral(", ")) +
                     QLatin1Char('.');
    }
    if (!plan.concesionesSinRol.isEmpty()) {
        QString t = QStringLiteral("Se omitieron los permisos que el respaldo daba a estos roles, que no existen en "
                                   "este servidor:");
        for (auto it = plan.concesionesSinRol.cbegin(); it != plan.concesionesSinRol.cend(); ++it) {
            t += kCrLf + QStringLiteral("   - ") + it.key() + QStringLiteral(": ") +
                 it.value().mid(0, kObjetosPorRol).join(QStringLiteral(", "));
            if (it.value().size() > kObjetosPorRol) {
                t += QStringLiteral(" y ") + QString::number(it.value().size() - kObjetosPorRol) +
                     QStringLiteral(" más");
            }
        }
        notas << t;
    }
    if (!staffIncompletos.isEmpty()) {
        notas << QStringLiteral("Estos usuarios analistas del respaldo existen en este servidor sin el inicio de "
                                "sesión o el grupo que el respaldo les da, y se dejaron como estaban:") +
                     kCrLf + QStringLiteral("   - ") + staffIncompletos.join(kCrLf + QStringLiteral("   - "));
    }
    return notas;
}

QString zonaDesconocida(const QString& z) {
    return z.isEmpty() ? QStringLiteral("no se eligió la zona horaria")
                       : QStringLiteral("la zona horaria ") + z + QStringLiteral(" no existe");
}

const QString kZonaNoActualizada =
    QStringLiteral("No se logro actualizar la zona horaria de la base de datos debido a lo siguiente: ");

} // namespace

ResultadoRestauracion restaurarRespaldo(const QString& archivo, const InterfazRestauracion& ui) {
    // The status probe keeps off the shared connection while the restore uses it from its threads.
    events::OperacionLarga larga;
    ResultadoRestauracion r;
    SessionState& s = sesion();
    const QString trabajo = paths::withSlash(s.RutaTemporal);
    // One restore at a time in this work folder; the lock outlives the removal of what the run leaves.
    const BloqueoRestauracion bloqueo(trabajo);
    process::Restos restos;
    Corrida c{ui, s, restos, trabajo, trabajo + kCarpetaRestauracion, QString(), QString()};
    auto detener = [&](const Parada& p) {
        r.ok = false;
        r.mensaje.gravedad = p.gravedad;
        r.mensaje.texto = p.sinServidor ? QStringLiteral("Se perdió la conexión con el servidor (") + p.texto +
                                              QStringLiteral("): ") + kIncompleta + QLatin1Char('.')
                                        : p.texto;
        if (!r.fallas.isEmpty()) {
            r.mensaje.texto += kCrLf + kCrLf + QStringLiteral("Además, estos pasos terminaron con errores:") + kCrLf +
                               r.fallas.join(kCrLf);
        }
        return r;
    };
    // Refused or cancelled before anything changed.
    auto rechazar = [&](const QString& texto, Gravedad gravedad = Gravedad::Error) {
        r.rechazado = true;
        return detener(Parada{texto, gravedad});
    };

    c.paso(0, QStringLiteral("Verificando estado del servidor..."));
    if (!bloqueo.tomado()) {
        return rechazar(bloqueo.error() + kCrLf + kCrLf + kNoModificada);
    }
    // Under the lock, what a killed earlier run left goes: its tools now, its extracted archive below.
    terminarHerramientasAbandonadas(c.carpeta);
    // The extracted archive (the roles' password hashes among it) and every script go on every way out.
    restos.agregar(c.carpeta);
    // The shared connection must answer (a server restarted meanwhile, or a session ended by another restore,
    // leaves it open but dead): it is opened again when it does not.
    if (!VerificarConexion().isEmpty() || servidorPerdido()) {
        return rechazar(QStringLiteral("No se pudo establecer conexión con el servidor"));
    }
    // A login that may not mark the server restores nothing: it is told so before the archive is opened and
    // before any other session is asked about.
    if (const QString sinDerecho = events::esperar([] { return probarMarcaRestauracionServidor(); });
        !sinDerecho.isEmpty()) {
        return rechazar(sinDerecho + kCrLf + kCrLf + kNoModificada);
    }

    c.paso(1, QStringLiteral("Descompactando el archivo del respaldo..."));
    c.bin = carpetaHerramientas();
    const ArchivoVerificado v = verificarArchivo(archivo, c.carpeta, c.bin, [&] {
        c.paso(2, QStringLiteral("Verificando la versión instalada del motor de datos PostgreSQL..."));
    });
    if (!v.ok()) {
        return rechazar(mensajeArchivoRechazado(v));
    }
    c.log = rutaLogRestauracion(QDate::currentDate());
    anexarLog(c.log, QStringLiteral("=== ") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral(" restauración de ") + archivo + QStringLiteral(" (respaldo: ") +
                         v.checksum.motor + QStringLiteral("; instalado: ") + v.motorInstalado + QStringLiteral(")\n"));

    // Nothing is dropped while the question about other sessions waits: the status says so.
    c.paso(-1, QStringLiteral("Buscando otras sesiones conectadas a la base de datos..."));
    if (events::esperar([] { return servidorPerdido(); })) {
        return rechazar(QStringLiteral("No se pudo establecer conexión con el servidor") + kCrLf + kCrLf +
                        kNoModificada);
    }
    if (const PosibleParada p = atenderOtrasSesiones(c)) {
        return rechazar(p->texto, p->gravedad);
    }

    // From here on the database changes: both marks say so until the restore has run to its end. The file
    // mark first; the server's is written in the drops' own transaction (a file mark whose restore left no
    // mark on the server does not count: that run changed nothing). Only a restore that ran to its end
    // removes them, the file mark once the server's is gone.
    const MarcaRestauracion marca = nuevaMarcaRestauracion(archivo, s.UsuarioBD);
    {
        const QString noMarcada = marcarRestauracion(marca);
        if (!noMarcada.isEmpty()) {
            return rechazar(QStringLiteral("No se pudo registrar el inicio de la restauración: ") + noMarcada + kCrLf +
                            kCrLf + kNoModificada);
        }
    }
    auto quitarMarcas = [&]() -> QStringList {
        auto borrar = [] { return borrarMarcaRestauracionServidor(conexionPrincipal()); };
        QString servidor = events::esperar(borrar);
        if (!servidor.isEmpty() && !events::esperar([] { return servidorPerdido(); })) {
            servidor = events::esperar(borrar); // on the connection opened again
        }
        if (!servidor.isEmpty()) {
            return {servidor};
        }
        const QString enArchivo = borrarMarcaRestauracion();
        return enArchivo.isEmpty() ? QStringList() : QStringList{enArchivo};
    };
    c.paso(3, QStringLiteral("Eliminando esquemas de la base de datos..."));
    {
        const ResultadoEliminacion e =
            events::esperar([&] { return eliminarContenido(kPlazoBloqueoEliminacionMs, marca); });
        if (e.estado == Eliminacion::SinCambios) {
            // The transaction took the server's mark with it.
            (void)borrarMarcaRestauracion();
            anexarLog(c.log, QStringLiteral("--- nada se eliminó: ") + e.mensaje + QLatin1Char('\n'));
            return rechazar(e.mensaje + kCrLf + kCrLf + kNoModificada);
        }
        if (e.estado == Eliminacion::Incierta) {
            return detener(Parada{e.mensaje});
        }
    }

    // Roles before the load: the dump's owners and grantees must find them.
    QSet<QString> protegidos;
    if (const PosibleParada p = eliminarStaff(c, protegidos, r.fallas)) {
        return detener(*p);
    }
    c.paso(-1, QStringLiteral("Creando roles de usuarios..."));
    r.fallas += crearGrupos();
    QStringList staffIncompletos;
    if (!v.roles.isEmpty()) {
        if (const PosibleParada p = crearRolesDelArchivo(c, v, protegidos, r.fallas, staffIncompletos)) {
            return detener(*p);
        }
    }

    c.paso(4, QStringLiteral("Montando el respaldo, este proceso puede tardar varios minutos, por favor espere..."));
    ListaCarga plan;
    if (const PosibleParada p = montar(c, v, plan)) {
        return detener(*p);
    }

    // The steps after the load: their failures are gathered; once the server is gone the rest cannot run.
    bool sinServidor = false;
    QStringList noHechos;
    auto anotar = [&](const QString& queDel, const QStringList& fallas) {
        for (const QString& f : fallas) {
            r.fallas << queDel + QStringLiteral(": ") + f;
        }
        if (!fallas.isEmpty() && !sinServidor && servidorPerdido()) {
            sinServidor = true;
        }
    };
    auto pendiente = [&](const QString& queDel) {
        if (sinServidor) {
            noHechos << queDel;
        }
        return !sinServidor;
    };
    // A load that could not set owners (some owner is missing) gives the owners that exist their objects back.
    const QString pasoPropietarios = QStringLiteral("Propietarios del respaldo");
    if (!plan.propietariosFaltantes.isEmpty() && pendiente(pasoPropietarios)) {
        anotar(pasoPropietarios, events::esperar([&] { return devolverPropietarios(v, plan); }));
    }
    const QString pasoPermisos = QStringLiteral("Permisos del respaldo");
    if (!plan.diferidas.isEmpty() && pendiente(pasoPermisos)) {
        anotar(pasoPermisos, events::esperar([&] { return aplicarPrivilegiosDiferidos(plan.diferidas); }));
    }

    // Full-text search and the time zone, on an engine of 9 or later.
    bool zonaAplicada = false;
    QString zona;
    const QString pasoZona = QStringLiteral("Zona horaria");
    const QString pasoTexto = QStringLiteral("Búsqueda de texto");
    if (v.mayorInstalado >= 9 && pendiente(pasoTexto)) {
        QStringList fallasTexto;
        const Resultado<> t =
            v.mayorRespaldo <= 8
                ? actualizarTextoCompleto([&](int valor, const QString& estado) { c.paso(valor, estado); },
                                          [&](const Fallo& f) { fallasTexto << f.texto; })
                : asegurarDiccionarioEspanol();
        if (!t.ok()) {
            return detener(servidorPerdido() ? perdidaAl(QStringLiteral("al actualizar la búsqueda de texto"))
                                             : Parada{t.fallo().texto, t.fallo().gravedad});
        }
        anotar(pasoTexto, fallasTexto);
        if (pendiente(pasoZona)) {
            zona = ui.elegirZona ? ui.elegirZona() : QString();
            QString error;
            if (!zonaConocida(zona)) {
                error = zonaDesconocida(zona);
            } else {
                // A zone that could not be stored is still applied; the next restore asks again.
                QString noGuardada;
                (void)guardarZona(zona, noGuardada);
                zonaAplicada = aplicarZona(zona, error);
            }
            if (!zonaAplicada) {
                anotar(pasoZona, {kZonaNoActualizada + error});
            }
        }
    }
    if (sinServidor) {
        return detener(perdidaAl(QStringLiteral("después de montar el respaldo")));
    }

    c.paso(8, QStringLiteral("Comprobando integridad de la base de datos..."));
    if (const PosibleParada p = compararConteos(v.checksum)) {
        return detener(*p);
    }
    {
        QString fecha = v.checksum.fecha;
        QString ahora = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString noAgregada =
            QStringLiteral("No se agrego la fecha de creacion de respaldo al apartado de configuración");
        QStringList fallas;
        if (!GuardarConfiguracion(fecha, QStringLiteral("FECHARESPALDO"))) {
            fallas << noAgregada;
        }
        if (!GuardarConfiguracion(ahora, QStringLiteral("FECHARESTAURACION"))) {
            fallas << noAgregada;
        }
        anotar(QStringLiteral("Fechas del respaldo"), fallas);
    }

    c.paso(9, QStringLiteral("Configurando variables de sistema..."));
    s.BaseDatosValida = true;
    r.integridad = true;
    if (pendiente(pasoZona)) {
        // The zone chosen in this restore is the one stored; otherwise the stored one, else asked for.
        if (!zonaAplicada) {
            zona = leerZonaGuardada();
            if (zona.isEmpty() && ui.elegirZona) {
                zona = ui.elegirZona();
                QString error;
                if (zonaConocida(zona) && !guardarZona(zona, error) && !error.isEmpty()) {
                    anotar(pasoZona, {error});
                }
            }
        }
        bool conectado = VerificarConexion().isEmpty();
        if (!conectado) {
            ConectarODBC(conectado);
        }
        if (!conectado) {
            return detener(Parada{QStringLiteral("Se perdió la conexión a la base de datos, intentelo nuevamente...")});
        }
        // A zone applied above stands; only one settled here is applied now.
        if (!zonaAplicada) {
            QString error;
            if (!zonaConocida(zona)) {
                anotar(pasoZona, {kZonaNoActualizada + zonaDesconocida(zona)});
            } else if (!aplicarZona(zona, error)) {
                return detener(servidorPerdido()
                                   ? perdidaAl(QStringLiteral("al aplicar la zona horaria"))
                                   : Parada{errorGeneralRestauracion(db::kProviderErrorNumber, error, c.progreso)});
            }
        }
    }

    const QString pasoSecuencias = QStringLiteral("Secuencias");
    if (pendiente(pasoSecuencias)) {
        c.paso(-1, QStringLiteral("Actualizando secuencias de sistema..."));
        anotar(pasoSecuencias, events::esperar([] { return ActualizarSecuenciasVELIRO(); }));
    }

    c.paso(-1, QStringLiteral("Asignando permisos a los usuarios..."));
    // The groups were made before the load.
    c.paso(-1, QStringLiteral("Creando roles de usuarios..."));
    const QString pasoAnalistas = QStringLiteral("Usuarios analistas");
    if (v.roles.isEmpty() && pendiente(pasoAnalistas)) {
        const ResultadoLogins logins = events::esperar([&] { return crearLoginsStaff(v.checksum.claveA); });
        if (!logins.ok) {
            return detener(servidorPerdido() ? perdidaAl(QStringLiteral("al crear los usuarios analistas"))
                                             : Parada{logins.mensajeFatal});
        }
        r.noIncorporados = logins.noIncorporados;
        anotar(pasoAnalistas, logins.fallas);
        if (!sinServidor) {
            // The staff rows' logins that were there already: named when they lack their login or group (those
            // that could not be made are named as not incorporated).
            bool ok = false;
            QString error;
            const QStringList incompletos = events::esperar([&] {
                QVector<StaffEsperado> staff = staffDeAnalistas(v.checksum.claveA, ok, error);
                staff.removeIf([&](const StaffEsperado& e) { return logins.noIncorporados.contains(e.rol); });
                return ok ? staffIncompleto(staff, ok, error) : QStringList();
            });
            if (!ok) {
                anotar(pasoAnalistas, {QStringLiteral("no se pudo comprobar los usuarios analistas: ") + error});
            }
            staffIncompletos = incompletos;
        }
    }
    const QString pasoGrupos = QStringLiteral("Permisos de los grupos");
    if (pendiente(pasoGrupos)) {
        c.paso(-1, QStringLiteral("Asignando permisos a tablas y esquemas del sistema..."));
        // Without the archive's roles the dump's grants to the groups may be missing: every schema gets them.
        const QStringList esquemas = v.roles.isEmpty() ? esquemasDeLaBase() : kEsquemasSistema;
        anotar(pasoGrupos, events::esperar([&] { return asignarPermisosRestauracion(esquemas); }));
    }

    c.paso(10, QStringLiteral("Proceso finalizado"));
    if (sinServidor) {
        QString t = QStringLiteral("Se perdió la conexión con el servidor durante la restauración: ") + kIncompleta +
                    QLatin1Char('.');
        if (!r.fallas.isEmpty()) {
            t += kCrLf + kCrLf + QStringLiteral("Pasos que terminaron con errores:") + kCrLf + r.fallas.join(kCrLf);
        }
        if (!noHechos.isEmpty()) {
            t += kCrLf + kCrLf + QStringLiteral("Pasos que no se realizaron:") + kCrLf + noHechos.join(kCrLf);
        }
        r.ok = false;
        r.mensaje = fallo(t);
        return r;
    }
    // Every step ran: the database is whole again, and both marks go.
    for (const QString& marca : quitarMarcas()) {
        r.fallas << QStringLiteral("Marca de restauración: ") + marca;
    }
    if (!r.noIncorporados.isEmpty()) {
        const sql::Hecho borrados = sql::ejecutar(
            QStringLiteral("delete from catalogos.analistas where usuario not in (select usename from pg_user)"));
        if (!borrados.ok()) {
            r.fallas << pasoAnalistas + QStringLiteral(": ") + err::detalleDelServidor(borrados.error);
        }
    }
    // Owners and grantees the server lacks, staff logins left as they were: told in the closing message (the
    // restore itself is complete).
    const QStringList notas = notasDeRoles(plan, staffIncompletos, s.UsuarioBD.trimmed());
    QString textoNotas;
    if (!notas.isEmpty()) {
        textoNotas = kCrLf + kCrLf + notas.join(kCrLf + kCrLf);
        anexarLog(c.log, QStringLiteral("--- ") +
                             notas.join(QStringLiteral("\n--- ")).replace(kCrLf, QStringLiteral("\n")) +
                             QLatin1Char('\n'));
    }
    if (!r.fallas.isEmpty()) {
        r.ok = false;
        r.mensaje.gravedad = Gravedad::Aviso;
        r.mensaje.texto = QStringLiteral("La restauración terminó con errores en los siguientes pasos:") + kCrLf +
                          r.fallas.join(kCrLf) + kCrLf + kCrLf + QStringLiteral("Los detalles están en el archivo: ") +
                          c.log + kCrLf + QStringLiteral("Se recomienda restaurar nuevamente la base de datos.");
        if (!r.noIncorporados.isEmpty()) {
            r.mensaje.texto +=
                kCrLf + kCrLf +
                QStringLiteral("Los siguientes usuarios analistas no fueron incorporados debido a duplicidad en "
                               "su información:") +
                kCrLf + r.noIncorporados.join(kCrLf);
        }
        r.mensaje.texto += textoNotas;
        anexarLog(c.log,
                  QStringLiteral("--- terminó con errores:\n") + r.fallas.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        return r;
    }
    r.ok = true;
    r.mensaje.gravedad = notas.isEmpty() ? Gravedad::Informacion : Gravedad::Aviso;
    if (!r.noIncorporados.isEmpty()) {
        r.mensaje.texto = QStringLiteral("La información ha sido restaurada correctamente, sin embargo, los") + kCrLf +
                          QStringLiteral("siguientes usuarios analistas no fueron incorporados debido a ") + kCrLf +
                          QStringLiteral("duplicidad en su información:") + kCrLf + r.noIncorporados.join(kCrLf) +
                          textoNotas;
        return r;
    }
    (void)VerificarArchivosCompartidos();
    r.mensaje.texto = QStringLiteral("La base de datos ha sido restaurada correctamente") + textoNotas;
    if (!notas.isEmpty()) {
        r.mensaje.texto += kCrLf + kCrLf + QStringLiteral("Los detalles están en el archivo: ") + c.log;
    }
    return r;
}

} // namespace v7
