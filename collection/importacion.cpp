#include "collection/importacion.h"

#include "collection/exportacion.h"
#include "core/cifrado.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/archivo_seguro.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "resources/recursos.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <zip.h>

namespace v7::acervo {

namespace {

using err::kCrLf;

// How many of psql's error lines a message shows.
constexpr int kMaxLineasError = 12;

// The rows of a query; nullptr with the SQL layer's error text.
RecordsetPtr consulta(const QString& texto, QString& error) {
    sql::Filas f = sql::filas(texto);
    error = f.error;
    return std::move(f.rs);
}

// The first field of the first row; empty when there is no row or it is NULL.
std::optional<QString> primerValor(const QString& texto, QString& error) {
    const sql::Valor v = sql::valor(texto);
    error = v.error;
    if (!v.ok()) {
        return std::nullopt;
    }
    return v.texto();
}

} // namespace

QString sentenciaBorrarTablas() {
    QString sql;
    for (const QString& t : tablasEnOrdenDeCarga()) {
        sql += QStringLiteral("DROP TABLE IF EXISTS ") + t + QLatin1Char(';');
    }
    return sql;
}

std::optional<bool> hayTablasExportacion(QString& error) {
    const auto v =
        primerValor(QStringLiteral("SELECT CASE WHEN to_regclass('analisis.zexporta_aactualizacion') IS NULL "
                                   "THEN 0 ELSE 1 END AS hay"),
                    error);
    if (!v) {
        return std::nullopt;
    }
    return v->toInt() != 0;
}

std::optional<bool> tablasExportacionCompletas(QString& error) {
    QString sql = QStringLiteral("SELECT count(*) FROM (VALUES ");
    QStringList valores;
    for (const QString& t : tablasExportacion()) {
        valores << QStringLiteral("(") + citarLiteral(t) + QLatin1Char(')');
    }
    sql += valores.join(QStringLiteral(", ")) + QStringLiteral(") AS t(nombre) WHERE to_regclass(t.nombre) IS NULL");
    const auto v = primerValor(sql, error);
    if (!v) {
        return std::nullopt;
    }
    return v->toInt() == 0;
}

namespace {

bool pareceZip(const QByteArray& datos) {
    return datos.startsWith("PK\x03\x04") || datos.startsWith("PK\x05\x06");
}

} // namespace

QString textoArchivoNecesario() {
    return QStringLiteral("Elija el archivo de exportación que generó el departamento central para esta biblioteca "
                          "(respB<biblioteca>_<aaaammdd>_<hhmm>.backup) o el archivo .zip del mismo nombre que lo "
                          "contiene.");
}

ArchivoImportacion dumpDelZip(const QByteArray& zip, const QString& ruta, qint64 limite) {
    ArchivoImportacion a;
    const QString noEs = QStringLiteral("El archivo ") + ruta +
                         QStringLiteral(" no es un .zip de exportación del acervo: debe contener un solo archivo "
                                        ".backup.") +
                         kCrLf + textoArchivoNecesario();
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* fuente = zip_source_buffer_create(zip.constData(), zip_uint64_t(zip.size()), 0, &ze);
    zip_t* z = fuente != nullptr ? zip_open_from_source(fuente, ZIP_RDONLY, &ze) : nullptr;
    if (z == nullptr) {
        if (fuente != nullptr) {
            zip_source_free(fuente);
        }
        zip_error_fini(&ze);
        a.motivo = QStringLiteral("El archivo ") + ruta + QStringLiteral(" no se puede leer como .zip.") + kCrLf +
                   textoArchivoNecesario();
        return a;
    }
    zip_error_fini(&ze);
    // The export packs one entry, the dump under its own name: nothing is written to disk from here.
    zip_int64_t elegido = -1;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* nombre = zip_get_name(z, zip_uint64_t(i), 0);
        if (nombre != nullptr && QString::fromUtf8(nombre).endsWith(QStringLiteral(".backup"), Qt::CaseInsensitive)) {
            if (elegido >= 0) {
                elegido = -2;
                break;
            }
            elegido = i;
        }
    }
    if (elegido < 0) {
        zip_discard(z);
        a.motivo = noEs;
        return a;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, zip_uint64_t(elegido), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0 &&
        qint64(st.size) > limite) {
        zip_discard(z);
        a.motivo = QStringLiteral("El archivo de exportación dentro de ") + ruta +
                   QStringLiteral(" es demasiado grande para importarlo (más de ") +
                   QString::number(limite / archivo::kMiB) + QStringLiteral(" MB).");
        return a;
    }
    zip_file_t* f = zip_fopen_index(z, zip_uint64_t(elegido), 0);
    if (f == nullptr) {
        zip_discard(z);
        a.motivo = noEs;
        return a;
    }
    QByteArray datos;
    char bloque[65536];
    bool fallo = false;
    for (;;) {
        const zip_int64_t leidos = zip_fread(f, bloque, sizeof bloque);
        if (leidos < 0) {
            fallo = true;
            break;
        }
        if (leidos == 0) {
            break;
        }
        // The size the archive states is not trusted.
        if (datos.size() + leidos > limite) {
            fallo = true;
            break;
        }
        datos.append(bloque, qsizetype(leidos));
    }
    zip_fclose(f);
    zip_discard(z);
    if (fallo) {
        a.motivo = QStringLiteral("No se pudo extraer el archivo de exportación de ") + ruta +
                   QStringLiteral(": el .zip está dañado o excede el tamaño permitido.");
        return a;
    }
    a.datos = std::move(datos);
    return a;
}

ArchivoImportacion leerArchivoImportacion(const QString& ruta) {
    ArchivoImportacion a;
    if (ruta.trimmed().isEmpty()) {
        a.motivo = QStringLiteral("No se indicó el archivo de exportación.") + kCrLf + textoArchivoNecesario();
        return a;
    }
    archivo::Lectura l = archivo::leerRegular(ruta, kLimiteArchivoImportacion);
    if (!l.ok()) {
        a.motivo = l.motivo;
        return a;
    }
    if (pareceZip(l.datos)) {
        return dumpDelZip(l.datos, ruta);
    }
    a.datos = std::move(l.datos);
    return a;
}

bool esExportacion(const QByteArray& datos) {
    static const QRegularExpression tabla(
        QStringLiteral("CREATE TABLE\\s+(\\S+\\.)?\"?zexporta_aactualizacion\"?\\s*\\("),
        QRegularExpression::CaseInsensitiveOption);
    // The dump names the stamp's table near its start; the rest is not scanned as text.
    return tabla.match(QString::fromLatin1(datos.left(16 * 1024 * 1024))).hasMatch();
}

// --- The statements of an export file ----------------------------------------------------------------------

namespace {

using Tipo = TokenSql::Tipo;

// The settings a pg_dump sets at the head of a dump (of every version the export may have used).
bool ajusteDelVolcado(const QByteArray& nombre) {
    static const QSet<QByteArray> ajustes = {
        "statement_timeout",
        "lock_timeout",
        "idle_in_transaction_session_timeout",
        "transaction_timeout",
        "client_encoding",
        "standard_conforming_strings",
        "check_function_bodies",
        "xmloption",
        "client_min_messages",
        "row_security",
        "default_tablespace",
        "default_table_access_method",
        "default_with_oids",
        "escape_string_warning",
        "default_toast_compression",
        "search_path",
    };
    return ajustes.contains(nombre.toLower());
}

// The words of the server's own column types as pg_dump writes them ("character varying(20)",
// "timestamp without time zone", "double precision").
bool palabraDeTipo(const QByteArray& palabra) {
    static const QSet<QByteArray> palabras = {
        "bigint",  "int8",      "integer",     "int",     "int4",    "smallint", "int2",      "numeric",
        "decimal", "real",      "float4",      "float8",  "float",   "double",   "precision", "boolean",
        "bool",    "text",      "character",   "varying", "varchar", "char",     "bpchar",    "date",
        "time",    "timestamp", "timestamptz", "timetz",  "with",    "without",  "zone",      "interval",
        "bytea",   "oid",       "uuid",        "json",    "jsonb",   "xml",      "money",     "inet",
        "cidr",    "macaddr",   "tsvector",    "tsquery", "bit",     "name",
    };
    return palabras.contains(palabra.toLower());
}

// A name as the server takes it: a plain one in lower case, a quoted one as it stands.
QByteArray nombreSql(const TokenSql& t) {
    return t.tipo == Tipo::Palabra ? t.texto.toLower() : t.texto;
}

// The first schema of a search path's text ("analisis, pg_catalog", "\"$user\", public", "").
QByteArray primerEsquema(const QByteArray& ruta) {
    QByteArray primero = ruta.left(ruta.indexOf(',') < 0 ? ruta.size() : ruta.indexOf(',')).trimmed();
    if (primero.size() >= 2 && primero.startsWith('"') && primero.endsWith('"')) {
        return primero.mid(1, primero.size() - 2);
    }
    return primero.toLower();
}

// Reads the tokens of one statement from start to end.
class Cursor {
public:
    explicit Cursor(const QVector<TokenSql>& t) : m_t(t) {}

    bool alFinal() const { return m_k >= m_t.size(); }
    const TokenSql* actual() const { return alFinal() ? nullptr : &m_t[m_k]; }
    // The line of the token where reading stopped (the last one at the end).
    int linea() const { return m_t.isEmpty() ? 0 : m_t[std::min<qsizetype>(m_k, m_t.size() - 1)].linea; }

    bool palabra(const char* p) {
        if (!alFinal() && m_t[m_k].tipo == Tipo::Palabra && m_t[m_k].texto.compare(p, Qt::CaseInsensitive) == 0) {
            ++m_k;
            return true;
        }
        return false;
    }
    bool simbolo(char c) {
        if (!alFinal() && m_t[m_k].tipo == Tipo::Simbolo && m_t[m_k].texto == QByteArray(1, c)) {
            ++m_k;
            return true;
        }
        return false;
    }
    const TokenSql* tomar(std::initializer_list<Tipo> tipos) {
        if (alFinal()) {
            return nullptr;
        }
        for (Tipo t : tipos) {
            if (m_t[m_k].tipo == t) {
                return &m_t[m_k++];
            }
        }
        return nullptr;
    }
    const TokenSql* nombre() { return tomar({Tipo::Palabra, Tipo::Citado}); }
    // A string constant without escapes or backslashes: what a dump's settings hold.
    const TokenSql* cadenaSimple() {
        const TokenSql* t = actual();
        if (t != nullptr && t->tipo == Tipo::Cadena && t->prefijo == 0 && !t->texto.contains('\\')) {
            ++m_k;
            return t;
        }
        return nullptr;
    }

private:
    const QVector<TokenSql>& m_t;
    qsizetype m_k = 0;
};

class RevisorVolcado {
public:
    RevisionSentencia operator()(const SentenciaScript& s) {
        Cursor c(s.tokens);
        bool ok = false;
        RevisionSentencia r;
        if (c.palabra("SET")) {
            ok = ajuste(c);
        } else if (c.palabra("SELECT")) {
            ok = rutaDeBusqueda(c);
        } else if (c.palabra("CREATE")) {
            ok = c.palabra("TABLE") && tabla(c) && columnas(c);
        } else if (c.palabra("ALTER")) {
            // The load's login owns what it makes; the file's owner means nothing on this server.
            ok = c.palabra("TABLE");
            c.palabra("ONLY");
            ok = ok && tabla(c) && c.palabra("OWNER") && c.palabra("TO") && c.nombre() != nullptr;
            r.accion = RevisionSentencia::Accion::Omitir;
        } else if (c.palabra("COPY")) {
            ok = s.abreDatos && tabla(c) && listaDeColumnas(c) && c.palabra("FROM") && c.palabra("STDIN");
        }
        if (ok && c.alFinal()) {
            return r;
        }
        r.accion = RevisionSentencia::Accion::Rechazar;
        r.que = QStringLiteral("una sentencia que no es de una exportación del acervo");
        r.linea = c.linea();
        return r;
    }

private:
    // SET name = value[, value…] of a dump's own settings.
    bool ajuste(Cursor& c) {
        const TokenSql* nombre = c.tomar({Tipo::Palabra});
        if (nombre == nullptr || !ajusteDelVolcado(nombre->texto) || !(c.simbolo('=') || c.palabra("TO"))) {
            return false;
        }
        QByteArray primero;
        bool primerValor = true;
        do {
            const TokenSql* v = c.cadenaSimple();
            if (v == nullptr) {
                v = c.tomar({Tipo::Palabra, Tipo::Citado, Tipo::Numero});
            }
            if (v == nullptr) {
                return false;
            }
            if (primerValor) {
                primero = v->tipo == Tipo::Cadena ? primerEsquema(v->texto) : nombreSql(*v);
                primerValor = false;
            }
        } while (c.simbolo(','));
        if (nombre->texto.compare("search_path", Qt::CaseInsensitive) == 0) {
            m_esquema = primero;
        }
        return true;
    }

    // SELECT pg_catalog.set_config('search_path', '…', false)
    bool rutaDeBusqueda(Cursor& c) {
        if (!(c.palabra("pg_catalog") && c.simbolo('.') && c.palabra("set_config") && c.simbolo('('))) {
            return false;
        }
        const TokenSql* nombre = c.cadenaSimple();
        if (nombre == nullptr || nombre->texto != "search_path" || !c.simbolo(',')) {
            return false;
        }
        const TokenSql* valor = c.cadenaSimple();
        if (valor == nullptr || !c.simbolo(',') || !c.palabra("false") || !c.simbolo(')')) {
            return false;
        }
        m_esquema = primerEsquema(valor->texto);
        return true;
    }

    // One of the staging tables, in schema analisis.
    bool tabla(Cursor& c) {
        const TokenSql* primero = c.nombre();
        if (primero == nullptr) {
            return false;
        }
        QByteArray esquema = m_esquema;
        QByteArray nombre = nombreSql(*primero);
        if (c.simbolo('.')) {
            const TokenSql* segundo = c.nombre();
            if (segundo == nullptr) {
                return false;
            }
            esquema = nombre;
            nombre = nombreSql(*segundo);
        }
        return esquema == "analisis" &&
               tablasExportacion().contains(QStringLiteral("analisis.") + QString::fromUtf8(nombre));
    }

    // ( name type [COLLATE name] [NOT NULL | NULL], … )
    static bool columnas(Cursor& c) {
        if (!c.simbolo('(')) {
            return false;
        }
        if (c.simbolo(')')) {
            return true;
        }
        do {
            if (c.nombre() == nullptr || !tipo(c)) {
                return false;
            }
            if (c.palabra("COLLATE")) {
                if (c.nombre() == nullptr || (c.simbolo('.') && c.nombre() == nullptr)) {
                    return false;
                }
            }
            if (c.palabra("NOT")) {
                if (!c.palabra("NULL")) {
                    return false;
                }
            } else {
                c.palabra("NULL");
            }
        } while (c.simbolo(','));
        return c.simbolo(')');
    }

    // A type of the server's own: its words, each perhaps with (n[, m]), then perhaps [] for an array.
    static bool tipo(Cursor& c) {
        bool alguna = false;
        for (;;) {
            const TokenSql* t = c.actual();
            if (t == nullptr) {
                break;
            }
            if (t->tipo == Tipo::Palabra && t->texto.compare("pg_catalog", Qt::CaseInsensitive) == 0) {
                c.nombre();
                if (!c.simbolo('.')) {
                    return false;
                }
                continue;
            }
            if (!((t->tipo == Tipo::Palabra && palabraDeTipo(t->texto)) ||
                  (t->tipo == Tipo::Citado && palabraDeTipo(t->texto)))) {
                break;
            }
            c.nombre();
            alguna = true;
            if (c.simbolo('(')) {
                if (c.tomar({Tipo::Numero}) == nullptr) {
                    return false;
                }
                if (c.simbolo(',') && c.tomar({Tipo::Numero}) == nullptr) {
                    return false;
                }
                if (!c.simbolo(')')) {
                    return false;
                }
            }
        }
        while (alguna && c.simbolo('[')) {
            c.tomar({Tipo::Numero});
            if (!c.simbolo(']')) {
                return false;
            }
        }
        return alguna;
    }

    // [( name, … )]
    static bool listaDeColumnas(Cursor& c) {
        if (!c.simbolo('(')) {
            return true;
        }
        do {
            if (c.nombre() == nullptr) {
                return false;
            }
        } while (c.simbolo(','));
        return c.simbolo(')');
    }

    QByteArray m_esquema; // the first schema of the search path, as the file sets it
};

} // namespace

RevisorSentencias revisorExportacion() {
    return RevisorVolcado();
}

ScriptAjeno prepararExportacion(const QByteArray& datos) {
    return prepararScriptAjeno(datos, revisorExportacion());
}

QString ResultadoPsql::detalle() const {
    if (!iniciado) {
        return QStringLiteral("No se pudo ejecutar psql.") + kCrLf + QStringLiteral("Detalle: ") + errorInicio;
    }
    if (ok()) {
        return QString();
    }
    QString causa;
    switch (estado) {
    case 1:
        causa = QStringLiteral("psql no pudo leer el script.");
        break;
    case 2:
        causa = QStringLiteral("psql no se pudo conectar con el servidor o perdió la conexión.");
        break;
    case 3:
        causa = QStringLiteral("El script se detuvo en una sentencia con error y no se aplicó.");
        break;
    default:
        causa = QStringLiteral("psql terminó con el código ") + QString::number(estado) + QLatin1Char('.');
        break;
    }
    const QString frase = errores.isEmpty() ? QString() : err::fraseDeErrorSql(errores.join(QLatin1Char('\n')));
    return causa + (frase.isEmpty() ? QString() : kCrLf + frase) +
           (errores.isEmpty() ? QString() : kCrLf + QStringLiteral("Detalle: ") + errores.join(kCrLf));
}

QStringList lineasErrorPsql(const QByteArray& salida) {
    const QStringList lineas = QString::fromUtf8(salida).split(QLatin1Char('\n'));
    static const QRegularExpression marcada(
        QStringLiteral("^(psql:|ERROR:|FATAL:|DETAIL:|HINT:|DETALLE:|SUGERENCIA:|pg_dump:)"));
    // Lines that quote the statement or the data it met.
    static const QRegularExpression cita(
        QStringLiteral("(^|:\\s*)(LINE|L[IÍ]NEA|CONTEXT|CONTEXTO|QUERY|STATEMENT|SENTENCIA)\\b|^\\^|^\\s+\\^"));
    QStringList errores;
    QStringList ultimas;
    for (QString l : lineas) {
        l = l.trimmed();
        if (l.isEmpty() || cita.match(l).hasMatch()) {
            continue;
        }
        if (marcada.match(l).hasMatch() && errores.size() < kMaxLineasError) {
            errores << l;
        }
        ultimas << l;
        if (ultimas.size() > 5) {
            ultimas.removeFirst();
        }
    }
    return errores.isEmpty() ? ultimas : errores;
}

ResultadoPsql ejecutarPsql(const QString& carpetaBin, const QByteArray& entrada, const QString& salida,
                           const CuentaPsql* cuenta) {
    const SessionState& s = sesion();
    const QString usuario = cuenta != nullptr ? cuenta->usuario : s.UsuarioSesion;
    process::Command c;
    c.program = paths::withSlash(carpetaBin) + QStringLiteral("psql");
    c.arguments = {QStringLiteral("-X"), QStringLiteral("-w"),
                   QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                   QStringLiteral("-h"), s.ServidorSesion,
                   QStringLiteral("-p"), QString::number(s.PuertoSesion),
                   QStringLiteral("-U"), usuario,
                   QStringLiteral("-d"), QStringLiteral("veliro7"),
                   QStringLiteral("-f"), QStringLiteral("-")};
    // The scripts are UTF-8 (a dump names its own encoding anyway).
    c.environment = {{QStringLiteral("PGPASSWORD"), cuenta != nullptr ? cuenta->clave : s.ClaveSesion},
                     {QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8")}};
    c.entrada = entrada;
    c.out = process::Sink::File;
    c.outFile = salida;
    c.err = process::Sink::Stdout;
    const process::Result r = process::run(c);

    ResultadoPsql p;
    p.iniciado = r.started;
    p.estado = r.status();
    if (!r.started) {
        p.errorInicio = c.program + QStringLiteral(": ") + r.startError;
        return p;
    }
    if (!r.ok()) {
        const archivo::Lectura l = archivo::leerRegular(salida, 4 * archivo::kMiB, archivo::SiExcede::UltimaParte);
        p.errores = lineasErrorPsql(l.datos);
    }
    return p;
}

// --- The load's own login --------------------------------------------------------------------------------

namespace {

QByteArray hmacSha256(const QByteArray& clave, const QByteArray& mensaje) {
    return QMessageAuthenticationCode::hash(mensaje, clave, QCryptographicHash::Sha256);
}

QString letrasAlAzar(int n) {
    static const char kAlfabeto[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString t;
    for (int i = 0; i < n; ++i) {
        t += QLatin1Char(kAlfabeto[QRandomGenerator::system()->bounded(int(sizeof kAlfabeto - 1))]);
    }
    return t;
}

// A statement of the load's login on the shared connection, off the windows' thread; the layer's error
// text when it fails.
QString ejecutarAparte(const QString& sql) {
    return events::esperar([&] { return sql::ejecutar(sql).error; });
}

// What the login owns in this database (or among the shared objects) besides plain staging tables.
QString sqlAjenos(const QString& rol) {
    QStringList nombres;
    for (const QString& t : tablasExportacion()) {
        nombres << citarLiteral(t.section(QLatin1Char('.'), 1));
    }
    return QStringLiteral(
               "SELECT string_agg(pg_describe_object(d.classid, d.objid, d.objsubid), ', ' ORDER BY d.classid, "
               "d.objid) FROM pg_shdepend d WHERE d.refclassid = 'pg_authid'::regclass AND d.refobjid = "
               "to_regrole(%1) AND d.deptype = 'o' AND d.dbid IN (0, (SELECT oid FROM pg_database WHERE datname = "
               "current_database())) AND NOT (d.classid = 'pg_class'::regclass AND EXISTS (SELECT 1 FROM pg_class c "
               "WHERE c.oid = d.objid AND c.relkind = 'r' AND c.relnamespace = 'analisis'::regnamespace AND "
               "c.relname IN (%2) AND NOT c.relrowsecurity AND NOT c.relforcerowsecurity AND NOT c.relispartition "
               "AND c.reloftype = 0 AND c.relacl IS NULL "
               "AND NOT EXISTS (SELECT 1 FROM pg_attrdef a WHERE a.adrelid = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conrelid = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_inherits i WHERE i.inhrelid = c.oid OR i.inhparent = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_policy p WHERE p.polrelid = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_trigger t WHERE t.tgrelid = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_rewrite w WHERE w.ev_class = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_index x WHERE x.indrelid = c.oid) "
               "AND NOT EXISTS (SELECT 1 FROM pg_statistic_ext e WHERE e.stxrelid = c.oid)))")
        .arg(citarLiteral(rol), nombres.join(QStringLiteral(", ")));
}

// Ends the login's sessions (psql has ended; anything it left behind must not outlive the login) and waits
// for them to go.
QString cerrarSesiones(const QString& rol) {
    const QString quedan = QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE usename = ") + citarLiteral(rol);
    QDeadlineTimer plazo(10000);
    for (;;) {
        const sql::Valor v = events::esperar([&] {
            (void)sql::ejecutar(
                QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = ") +
                citarLiteral(rol));
            return sql::valor(quedan);
        });
        if (!v.ok()) {
            return v.error;
        }
        if (v.texto().toLongLong() == 0) {
            return QString();
        }
        if (plazo.hasExpired()) {
            return QStringLiteral("Las sesiones de la cuenta ") + rol + QStringLiteral(" no terminaron.");
        }
        events::pause(100);
    }
}

// After the load: the login may log in no more, what it made besides plain staging tables is named and
// dropped, the tables go to the session's login and the login is dropped.
QString retirarCuenta(const QString& rol, QString& ajeno) {
    const QString r = citarIdentificador(rol);
    if (const QString e = ejecutarAparte(QStringLiteral("ALTER ROLE ") + r + QStringLiteral(" NOLOGIN"));
        !e.isEmpty()) {
        return e;
    }
    if (const QString e = cerrarSesiones(rol); !e.isEmpty()) {
        return e;
    }
    return events::esperar([&]() -> QString {
        const sql::Valor ajenos = sql::valor(sqlAjenos(rol));
        if (!ajenos.ok()) {
            return ajenos.error;
        }
        ajeno = ajenos.texto();
        db::DbError e;
        db::Transaccion tx = sql::transaccion();
        if (!tx.begin(e)) {
            return e.description;
        }
        QStringList pasos;
        if (ajeno.isEmpty()) {
            pasos << QStringLiteral("REASSIGN OWNED BY ") + r + QStringLiteral(" TO CURRENT_USER");
        }
        pasos << QStringLiteral("DROP OWNED BY ") + r << QStringLiteral("DROP ROLE ") + r;
        for (const QString& paso : pasos) {
            qint64 filas = 0;
            if (!tx.connection().execute(paso, filas, e)) {
                return e.description;
            }
        }
        return tx.commit(e) ? QString() : e.description;
    });
}

} // namespace

QString verificadorScram(const QByteArray& clave, const QByteArray& sal, int iteraciones) {
    // PBKDF2 with HMAC-SHA-256, one block of 32 bytes.
    QByteArray u = hmacSha256(clave, sal + QByteArray("\x00\x00\x00\x01", 4));
    QByteArray salada = u;
    for (int i = 1; i < iteraciones; ++i) {
        u = hmacSha256(clave, u);
        for (qsizetype k = 0; k < salada.size(); ++k) {
            salada[k] = char(salada.at(k) ^ u.at(k));
        }
    }
    const QByteArray guardada = QCryptographicHash::hash(hmacSha256(salada, "Client Key"), QCryptographicHash::Sha256);
    const QByteArray servidor = hmacSha256(salada, "Server Key");
    return QStringLiteral("SCRAM-SHA-256$%1:%2$%3:%4")
        .arg(iteraciones)
        .arg(QString::fromLatin1(sal.toBase64()), QString::fromLatin1(guardada.toBase64()),
             QString::fromLatin1(servidor.toBase64()));
}

void retirarCuentasVencidas() {
    events::esperarEnHilo([] {
        const sql::Filas vencidas =
            sql::filas(QStringLiteral("SELECT rolname FROM pg_roles WHERE rolname LIKE 'v7\\_carga\\_%' AND "
                                      "rolvaliduntil < now()"));
        if (!vencidas.ok()) {
            return;
        }
        QStringList roles;
        for (; !vencidas.rs->eof(); vencidas.rs->moveNext()) {
            roles << vencidas.rs->text(0);
        }
        for (const QString& rol : roles) {
            if (sql::ejecutar(QStringLiteral("DROP OWNED BY ") + citarIdentificador(rol)).ok()) {
                (void)sql::ejecutar(QStringLiteral("DROP ROLE ") + citarIdentificador(rol));
            }
        }
    });
}

ResultadoCarga cargarConCuentaTemporal(const QString& carpetaBin, const QByteArray& entrada, const QString& salida) {
    ResultadoCarga r;
    retirarCuentasVencidas();

    CuentaPsql cuenta{kPrefijoCuentaCarga + letrasAlAzar(16), letrasAlAzar(32)};
    QByteArray sal(16, '\0');
    for (char& b : sal) {
        b = char(QRandomGenerator::system()->bounded(256));
    }
    const QString rol = citarIdentificador(cuenta.usuario);
    // Valid for a day: a login left by a killed program cannot be used after that, and the next load drops it.
    const QString vence = QDateTime::currentDateTimeUtc().addDays(1).toString(Qt::ISODate);
    const QString crear = QStringLiteral("CREATE ROLE ") + rol +
                          QStringLiteral(" LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT NOREPLICATION "
                                         "NOBYPASSRLS CONNECTION LIMIT 1 PASSWORD ") +
                          citarLiteral(verificadorScram(cuenta.clave.toUtf8(), sal)) + QStringLiteral(" VALID UNTIL ") +
                          citarLiteral(vence);
    const QString noCreada = QStringLiteral("No se pudo preparar la cuenta temporal con la que se carga el archivo.");
    if (const QString e = ejecutarAparte(crear); !e.isEmpty()) {
        r.error = err::textoParaUsuario(noCreada, e);
        return r;
    }
    r.cuenta = cuenta.usuario;
    QString ajeno;
    for (const QString& permiso : {QStringLiteral("GRANT CONNECT ON DATABASE veliro7 TO ") + rol,
                                   QStringLiteral("GRANT USAGE, CREATE ON SCHEMA analisis TO ") + rol}) {
        if (const QString e = ejecutarAparte(permiso); !e.isEmpty()) {
            r.error = err::textoParaUsuario(noCreada, e);
            (void)retirarCuenta(cuenta.usuario, ajeno);
            return r;
        }
    }

    r.psql = ejecutarPsql(carpetaBin, entrada, salida, &cuenta);

    if (const QString e = retirarCuenta(cuenta.usuario, r.ajeno); !e.isEmpty()) {
        r.error = err::textoParaUsuario(QStringLiteral("No se pudo retirar la cuenta temporal ") + cuenta.usuario +
                                            QStringLiteral(" con la que se cargó el archivo."),
                                        e);
    }
    return r;
}

// --- Checks ------------------------------------------------------------------------------------------------

std::optional<qint64> ejemplaresDeOtraBiblioteca(QString& error) {
    const auto v = primerValor(QStringLiteral("SELECT count(no_adqui) AS ejemplares FROM analisis.zexporta_bejemplares "
                                              "WHERE idbiblioteca <> (SELECT valor::bigint FROM "
                                              "config_veliro.configuracion WHERE descripcion='BIBLIO_ACTIVA')"),
                               error);
    if (!v) {
        return std::nullopt;
    }
    return v->toLongLong();
}

std::optional<QString> versionInstalada(QString& error) {
    return primerValor(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion='ACT_ACERVO'"),
                       error);
}

std::optional<QString> versionCargada(QString& error) {
    return primerValor(QStringLiteral("SELECT version FROM analisis.zexporta_aactualizacion"), error);
}

std::optional<QDateTime> leerSello(const QString& sello) {
    const QDateTime d = QDateTime::fromString(sello.trimmed(), QStringLiteral("yyyyMMdd_HHmm"));
    if (!d.isValid()) {
        return std::nullopt;
    }
    return d;
}

QString textoFecha(const QDate& fecha) {
    return QLocale(QLocale::Spanish, QLocale::Mexico).toString(fecha, QStringLiteral("ddd d 'de' MMM 'de' yyyy"));
}

std::optional<QString> mensajeNoReciente(const QString& instalada, const QString& cargada) {
    const auto a = leerSello(instalada);
    const auto b = leerSello(cargada);
    if (!a || !b) {
        return std::nullopt;
    }
    auto momento = [](const QDateTime& d) {
        return textoFecha(d.date()) + QLatin1Char(' ') + d.toString(QStringLiteral("HH:mm")) + QStringLiteral(" hrs. ");
    };
    return QStringLiteral("La actualización que intenta instalar no es de fecha más reciente que la fecha de la "
                          "última actualización instalada.") +
           kCrLf + kCrLf + QString(11, QLatin1Char(' ')) + QStringLiteral("Fecha de la última actualización: ") +
           momento(*a) + kCrLf + QStringLiteral("Fecha de éste archivo de actualización: ") + momento(*b);
}

// --- Before the merge --------------------------------------------------------------------------------------

std::optional<QString> coleccionesFaltantes(QString& error) {
    RecordsetPtr rs = consulta(
        QStringLiteral("SELECT idcoleccion, string_agg(no_adqui, ', ') AS adqs FROM analisis.zexporta_bejemplares "
                       "WHERE idcoleccion IN ") +
            kCrLf +
            QStringLiteral("(SELECT DISTINCT nc.idcoleccion FROM analisis.zexporta_bejemplares nc LEFT JOIN "
                           "catalogos.colecciones c ON c.idcoleccion = nc.idcoleccion WHERE c.idcoleccion ISNULL) ") +
            kCrLf + QStringLiteral("GROUP BY idcoleccion ORDER BY idcoleccion"),
        error);
    if (!rs) {
        return std::nullopt;
    }
    QString lista;
    for (; !rs->eof(); rs->moveNext()) {
        lista += QStringLiteral("COLECCION: ") + rs->text(QStringLiteral("idcoleccion")) + kCrLf +
                 QStringLiteral("EJEMPLARES: [") + rs->text(QStringLiteral("adqs")) + QLatin1Char(']') + kCrLf + kCrLf;
    }
    return lista;
}

QString mensajeColecciones(const QString& lista) {
    return QStringLiteral("La actualización contiene ejemplares asociados a") + kCrLf +
           QStringLiteral("colecciones que no existen en su catálogo.") + kCrLf +
           QStringLiteral("Verifique con los responsables de procesamiento,") + kCrLf +
           QStringLiteral("la veracidad de la información.") + kCrLf + kCrLf +
           QStringLiteral("Si los  datos son  correctos, ANTES DE CONTINUAR") + kCrLf +
           QStringLiteral("agregue las colecciones faltantes.") + kCrLf + kCrLf + lista;
}

std::optional<QVector<NoProcesado>> noProcesadosIncluidos(QString& error) {
    RecordsetPtr rs = consulta(
        QStringLiteral("SELECT DISTINCT no_adqui, matesp.estado FROM analisis.zexporta_bejemplares axejem INNER JOIN "
                       "catalogos.mat_especial matesp ON axejem.no_adqui = matesp.no_adq "
                       "WHERE matesp.estado::integer >= 16 AND f_fin ISNULL ORDER BY no_adqui"),
        error);
    if (!rs) {
        return std::nullopt;
    }
    QVector<NoProcesado> items;
    for (; !rs->eof(); rs->moveNext()) {
        items.push_back({rs->text(0).trimmed(), rs->text(1).trimmed()});
    }
    return items;
}

QString mensajeNoProcesados(const QVector<NoProcesado>& items) {
    QString lista = QStringLiteral("(");
    for (const NoProcesado& i : items) {
        lista += i.noAdqui + QStringLiteral(", ");
    }
    lista.chop(2);
    lista += QLatin1Char(')');
    if (lista.size() > 40) {
        lista = lista.left(40) + QStringLiteral("...)");
    }
    return QStringLiteral("Se detectó que ") + QString::number(items.size()) + QStringLiteral(" ejemplar(es) ") +
           lista +
           QStringLiteral(" del catálogo de ejemplares no procesados, está(n) incluído(s) en la actualización.") +
           kCrLf + kCrLf +
           QStringLiteral("Desea eliminarlo(s) automáticamente del catálogo de ejemplares no procesados?");
}

QString sentenciaQuitarNoProcesado(const NoProcesado& item) {
    if (item.estado == QLatin1String("16")) {
        return QStringLiteral("UPDATE catalogos.mat_especial SET f_fin = current_date, analista_fin = 'actV7' WHERE "
                              "no_adq=") +
               citarLiteral(item.noAdqui) + QStringLiteral(" AND f_fin ISNULL");
    }
    return QStringLiteral("UPDATE catalogos.mat_especial SET estado = (estado::integer - 16)::character varying "
                          "WHERE no_adq=") +
           citarLiteral(item.noAdqui) + QStringLiteral(" AND f_fin ISNULL");
}

QString asegurarColumnasEnlace() {
    // The export's own statements, so both sides give the tag table the same columns.
    if (ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
        return QString();
    }
    return sql::ejecutar(sqlColumnasEnlace()).error;
}

// --- The merge script --------------------------------------------------------------------------------------

QString decodificarPlantilla(const QByteArray& bytes) {
    QByteArrayView datos(bytes);
    if (datos.startsWith("\xEF\xBB\xBF")) {
        datos = datos.sliced(3);
    }
    return textoUtf8OWindows1252(datos);
}

QString scriptPropio() {
    QString texto = recurso(QStringLiteral("restaura_acervo.sql"));
    texto.remove(kVacuum, Qt::CaseInsensitive);
    return texto.trimmed().isEmpty() ? QString() : texto;
}

CopiaGuardada leerCopiaGuardada() {
    const SessionState& s = sesion();
    CopiaGuardada c;
    if (s.HayArchivosCompartidos) {
        c.origen = paths::withSlash(s.RutaTrabajo.trimmed()) + QStringLiteral("plantillas/config/restaura_acervo.sra");
        // A name the kit chose on a shared folder: never through a link, never a FIFO or a device.
        const archivo::Lectura l = archivo::leerRegular(c.origen, 16 * archivo::kMiB);
        if (!l.ok()) {
            c.error = l.motivo;
            return c;
        }
        c.texto = decodificarPlantilla(l.datos);
        c.leida = true;
        return c;
    }
    c.origen = QStringLiteral("reportes.plantillas");
    QString error;
    RecordsetPtr rs =
        consulta(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'RESTAURA_ACERVO'"), error);
    if (!rs) {
        c.error = error;
        return c;
    }
    if (!rs->eof()) {
        c.texto = rs->text(0);
        c.leida = true;
    }
    return c;
}

bool mismoScript(const QString& a, const QString& b) {
    auto normal = [](QString t) {
        t.remove(QLatin1Char('\r'));
        t.remove(kVacuum, Qt::CaseInsensitive);
        return t.trimmed();
    };
    return normal(a) == normal(b);
}

QString avisoCopiaGuardada(const CopiaGuardada& copia, const QString& propio) {
    const QString sigue = QStringLiteral("Se ejecuta el script de actualización propio del programa.");
    if (copia.leida && mismoScript(copia.texto, propio)) {
        return QString();
    }
    if (copia.leida) {
        return QStringLiteral("El script de actualización del acervo guardado en ") + copia.origen +
               QStringLiteral(" (RESTAURA_ACERVO) no es el del programa: fue modificado y por seguridad no se "
                              "ejecuta.") +
               kCrLf + sigue;
    }
    if (copia.error.isEmpty()) {
        return QStringLiteral("No se encontró el script de actualización del acervo (RESTAURA_ACERVO) en ") +
               copia.origen + QLatin1Char('.') + kCrLf + sigue;
    }
    const QString queNo = QStringLiteral("No se pudo leer el script de actualización del acervo guardado en ") +
                          copia.origen + QLatin1Char('.');
    // A file's reason is already a Spanish sentence; the SQL layer's text is told as the server's.
    return (copia.origen == QLatin1String("reportes.plantillas") ? err::textoParaUsuario(queNo, copia.error)
                                                                 : queNo + kCrLf + copia.error) +
           kCrLf + sigue;
}

// --- After the merge ---------------------------------------------------------------------------------------

std::optional<EstadisticasAcervo> estadisticasAcervo(QString& error) {
    RecordsetPtr fichas = consulta(
        QStringLiteral("SELECT SUM(CASE WHEN tipoficha = 'L' THEN 1 ELSE 0 END) AS libros, SUM(CASE WHEN tipoficha = "
                       "'R' THEN 1 ELSE 0 END) AS revistas, ") +
            kCrLf +
            QStringLiteral("SUM(CASE WHEN tipoficha = 'A' THEN 1 ELSE 0 END) AS analiticas FROM analisis.fichas WHERE "
                           "ficha_no > 0"),
        error);
    if (!fichas) {
        return std::nullopt;
    }
    EstadisticasAcervo e;
    e.fichas = QStringLiteral("Libros (") + fichas->text(QStringLiteral("libros")) + QStringLiteral("). Revistas (") +
               fichas->text(QStringLiteral("revistas")) + QStringLiteral("). Analíticas (") +
               fichas->text(QStringLiteral("analiticas")) + QStringLiteral(").");
    RecordsetPtr ejemplares =
        consulta(QStringLiteral("SELECT SUM(CASE WHEN upper(no_adqui) NOT LIKE 'R%' THEN 1 ELSE 0 END) AS libros,") +
                     kCrLf + QStringLiteral("SUM(CASE WHEN upper(no_adqui) LIKE 'R%' THEN 1 ELSE 0 END) AS revistas") +
                     kCrLf + QStringLiteral("FROM analisis.ejemplares WHERE ficha_no > 0 AND NOT esmatcomp"),
                 error);
    if (!ejemplares) {
        return std::nullopt;
    }
    e.ejemplares = QStringLiteral("Libros (") + ejemplares->text(QStringLiteral("libros")) +
                   QStringLiteral("). Revistas (") + ejemplares->text(QStringLiteral("revistas")) +
                   QStringLiteral(").");
    return e;
}

QString mensajeEstadisticas(const EstadisticasAcervo& e) {
    return QStringLiteral("Como resultado de la operación de Actualización del acervo") + kCrLf +
           QStringLiteral("Se han actualizado y/o agregado: ") + kCrLf + QStringLiteral("FICHAS") + kCrLf + e.fichas +
           kCrLf + kCrLf + QStringLiteral("EJEMPLARES") + kCrLf + e.ejemplares;
}

QString sentenciaCerrarMontadas() {
    return QStringLiteral("UPDATE analisis.fichas SET estatus='CAP' WHERE estatus='MON'; ");
}

} // namespace v7::acervo
