#include "platform/db.h"

#include <QRegularExpression>

#include <map>
#include <mutex>

#include <sql.h>
#include <sqlext.h>

#include <vector>

namespace v7::db {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC is expected to use 16-bit SQLWCHAR");

std::vector<SQLWCHAR> toWide(const QString& s) {
    std::vector<SQLWCHAR> out(s.size() + 1, 0);
    for (qsizetype i = 0; i < s.size(); ++i) {
        out[i] = static_cast<SQLWCHAR>(s.at(i).unicode());
    }
    return out;
}

// Raw UTF-16 units: a U+FEFF or U+FFFE inside a value (or at a chunk boundary) is data, not a byte-order mark.
QString fromWide(const SQLWCHAR* p, qsizetype len) {
    return QString(reinterpret_cast<const QChar*>(p), len);
}

bool succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Collects every diagnostic record of a handle into one error.
DbError diagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const QString& fallback) {
    DbError e;
    e.number = kProviderErrorNumber;
    QStringList messages;
    bool lost = false;
    for (SQLSMALLINT i = 1; handle != nullptr; ++i) {
        SQLWCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLWCHAR msg[2048] = {0};
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, msg, SQLSMALLINT(std::size(msg)), &len);
        if (!succeeded(rc)) {
            break;
        }
        QString st = fromWide(state, 5);
        if (e.sqlState.isEmpty()) {
            e.sqlState = st;
        }
        DbError probe;
        probe.sqlState = st;
        lost = lost || probe.isLostConnection();
        QString text = fromWide(msg, qMin<qsizetype>(len, qsizetype(std::size(msg)) - 1)).trimmed();
        if (!text.isEmpty() && !messages.contains(text)) {
            messages << text;
        }
    }
    if (messages.isEmpty()) {
        messages << fallback;
    }
    if (lost && !DbError{e.sqlState, 0, {}}.isLostConnection()) {
        // Keep the trigger visible: a later record said the connection is gone.
        e.sqlState = QStringLiteral("08S01");
    }
    e.description = redactPassword(messages.join(QStringLiteral("; ")));
    return e;
}

FieldType mapType(SQLSMALLINT t) {
    switch (t) {
    case SQL_INTEGER:
        return FieldType::Integer32;
    case SQL_BIGINT:
        return FieldType::Integer64;
    case SQL_SMALLINT:
    case SQL_TINYINT:
        return FieldType::SmallInt;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return FieldType::Numeric;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
        return FieldType::Double;
    case SQL_BIT:
        return FieldType::Boolean;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return FieldType::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return FieldType::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return FieldType::Timestamp;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return FieldType::Binary;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return FieldType::Text;
    default:
        return FieldType::Other;
    }
}

// Reads one field of the current row as text, in chunks; nullopt for NULL.
bool readField(SQLHSTMT stmt, SQLUSMALLINT col, std::optional<QString>& out, DbError& error) {
    QString acc;
    SQLWCHAR buf[4096];
    for (;;) {
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof(buf), &ind);
        if (rc == SQL_NO_DATA) {
            break;
        }
        if (!succeeded(rc)) {
            error = diagnostics(SQL_HANDLE_STMT, stmt, QStringLiteral("No se pudo leer el campo"));
            return false;
        }
        if (ind == SQL_NULL_DATA) {
            out.reset();
            return true;
        }
        const qsizetype capacity = qsizetype(std::size(buf)) - 1;
        qsizetype chars = (ind == SQL_NO_TOTAL || ind / qsizetype(sizeof(SQLWCHAR)) > capacity)
                              ? capacity
                              : qsizetype(ind / qsizetype(sizeof(SQLWCHAR)));
        acc += fromWide(buf, chars);
        if (rc == SQL_SUCCESS) {
            break;
        }
    }
    out = acc;
    return true;
}

// The sessions of the open connections, by connection (opened and closed on several threads).
std::mutex g_sesionesMutex;
std::map<const void*, QString> g_sesiones;

} // namespace

QString expresionSesion(const QString& alias) {
    return alias + QStringLiteral(".pid::text || '@' || to_char(") + alias +
           QStringLiteral(".backend_start AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.US')");
}

QStringList sesionesPropias() {
    std::lock_guard<std::mutex> lock(g_sesionesMutex);
    QStringList s;
    for (const auto& [conexion, sesion] : g_sesiones) {
        s << sesion;
    }
    return s;
}

bool DbError::isLostConnection() const {
    if (sqlState.startsWith(QLatin1String("08"))) {
        return true;
    }
    return sqlState == QLatin1String("57P01") || sqlState == QLatin1String("57P02") ||
           sqlState == QLatin1String("57P03");
}

// ---------------------------------------------------------------- Recordset

Recordset::Recordset(QVector<Column> columns, QVector<QVector<std::optional<QString>>> rows)
    : m_columns(std::move(columns)), m_rows(std::move(rows)) {
    rebuildView();
}

void Recordset::close() {
    m_open = false;
    m_rows.clear();
    m_view.clear();
    m_pos = 0;
}

bool Recordset::eof() const {
    return m_pos < 0 || m_pos >= m_view.size();
}

void Recordset::moveFirst() {
    m_pos = 0;
}

void Recordset::moveNext() {
    if (m_pos < m_view.size()) {
        ++m_pos;
    }
}

int Recordset::recordCount() const {
    return int(m_view.size());
}

int Recordset::columnIndex(const QString& name) const {
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

std::optional<QString> Recordset::value(int index) const {
    if (eof() || index < 0 || index >= m_columns.size()) {
        return std::nullopt;
    }
    return m_rows[m_view[m_pos]][index];
}

std::optional<QString> Recordset::value(const QString& name) const {
    return value(columnIndex(name));
}

void Recordset::setFilter(const QString& columnName, const QString& value) {
    m_filterColumn = columnIndex(columnName);
    m_filterValue = value;
    if (m_filterColumn < 0) {
        m_filterColumn = -2; // unknown column: nothing matches
    }
    rebuildView();
}

void Recordset::clearFilter() {
    m_filterColumn = -1;
    rebuildView();
}

void Recordset::rebuildView() {
    m_view.clear();
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_filterColumn == -1 || (m_filterColumn >= 0 && m_rows[i][m_filterColumn].has_value() &&
                                     *m_rows[i][m_filterColumn] == m_filterValue)) {
            m_view.push_back(i);
        }
    }
    m_pos = 0;
}

// ---------------------------------------------------------------- Connection

Connection::Connection() = default;

Connection::~Connection() {
    close();
}

bool Connection::open(DbError& error) {
    close();
    SQLHENV env = nullptr;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        error = DbError{QString(), kProviderErrorNumber, QStringLiteral("No se pudo iniciar el administrador ODBC")};
        return false;
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = nullptr;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        error = diagnostics(SQL_HANDLE_ENV, env, QStringLiteral("No se pudo crear la conexión ODBC"));
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    if (m_timeoutSeconds > 0) {
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(m_timeoutSeconds)), 0);
    }
    auto wide = toWide(m_connectionString);
    SQLWCHAR outBuf[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, wide.data(), SQL_NTS, outBuf, SQLSMALLINT(std::size(outBuf)),
                                     &outLen, SQL_DRIVER_NOPROMPT);
    if (!succeeded(rc)) {
        error = diagnostics(SQL_HANDLE_DBC, dbc, QStringLiteral("No se pudo abrir la conexión"));
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return false;
    }
    m_env = env;
    m_dbc = dbc;
    // Which server session this is, so that the program can tell its own sessions from other clients'.
    DbError ignorado;
    if (auto rs = runQuery(QStringLiteral("SELECT ") + expresionSesion(QStringLiteral("a")) +
                               QStringLiteral(" FROM pg_stat_activity a WHERE a.pid = pg_backend_pid()"),
                           ignorado);
        rs && !rs->eof()) {
        std::lock_guard<std::mutex> lock(g_sesionesMutex);
        g_sesiones[this] = rs->text(0);
    }
    return true;
}

void Connection::close() {
    {
        std::lock_guard<std::mutex> lock(g_sesionesMutex);
        g_sesiones.erase(this);
    }
    m_inTransaction = false;
    if (m_dbc != nullptr) {
        SQLDisconnect(static_cast<SQLHDBC>(m_dbc));
        SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(m_dbc));
        m_dbc = nullptr;
    }
    if (m_env != nullptr) {
        SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(m_env));
        m_env = nullptr;
    }
}

namespace {

struct Statement {
    SQLHSTMT h = nullptr;
    ~Statement() {
        if (h != nullptr) {
            SQLFreeHandle(SQL_HANDLE_STMT, h);
        }
    }
};

bool allocStatement(void* dbc, Statement& st, DbError& error) {
    if (dbc == nullptr) {
        error = DbError{QStringLiteral("08003"), kProviderErrorNumber,
                        QStringLiteral("La operación no está permitida si el objeto está cerrado.")};
        return false;
    }
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(dbc), &st.h))) {
        error =
            diagnostics(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc), QStringLiteral("No se pudo preparar la sentencia"));
        st.h = nullptr;
        return false;
    }
    return true;
}

// Executes directly; SQL_NO_DATA (a statement that touched no row) counts as success.
bool execDirect(Statement& st, const QString& sql, bool& noData, DbError& error) {
    auto wide = toWide(sql);
    SQLRETURN rc = SQLExecDirectW(st.h, wide.data(), SQL_NTS);
    noData = rc == SQL_NO_DATA;
    if (!succeeded(rc) && !noData) {
        error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("Error al ejecutar la sentencia"));
        return false;
    }
    return true;
}

} // namespace

namespace {

// Whether a statement can open or end a transaction block, judged by its first word. The state it
// leaves is then asked of the server: a failed BEGIN, a COMMIT of an aborted block or a
// ROLLBACK TO SAVEPOINT each leave a state the word alone does not tell.
// What a statement does to the transaction block, judged by its leading words. Plain character tests:
// this runs on worker threads too, also while the program is ending.
enum class Efecto { Ninguno, Abre, Cierra, Consultar };

Efecto efectoEnTransaccion(const QString& sql) {
    QStringList palabras;
    qsizetype i = 0;
    while (palabras.size() < 3) {
        while (i < sql.size() && !sql.at(i).isLetter()) {
            if (sql.at(i) == QLatin1Char(';')) {
                break;
            }
            ++i;
        }
        qsizetype j = i;
        while (j < sql.size() && sql.at(j).isLetter()) {
            ++j;
        }
        if (j == i) {
            break;
        }
        palabras << sql.mid(i, j - i).toUpper();
        i = j;
    }
    const QString w = palabras.value(0);
    const QString resto = palabras.mid(1).join(QLatin1Char(' '));
    if (w == QLatin1String("BEGIN") || w == QLatin1String("START")) {
        return Efecto::Abre;
    }
    if (w == QLatin1String("COMMIT") || w == QLatin1String("ROLLBACK") || w == QLatin1String("END") ||
        w == QLatin1String("ABORT")) {
        // ROLLBACK TO SAVEPOINT and … AND CHAIN leave a block open: the server is asked.
        return resto.startsWith(QLatin1String("TO")) || sql.contains(QLatin1String("CHAIN"), Qt::CaseInsensitive)
                   ? Efecto::Consultar
                   : Efecto::Cierra;
    }
    return w == QLatin1String("PREPARE") ? Efecto::Consultar : Efecto::Ninguno;
}

} // namespace

bool Connection::runStatement(const QString& sql, qint64& rowsAffected, DbError& error) {
    Statement st;
    if (!allocStatement(m_dbc, st, error)) {
        return false;
    }
    bool noData = false;
    if (!execDirect(st, sql, noData, error)) {
        return false;
    }
    rowsAffected = 0;
    if (!noData) {
        SQLLEN count = 0;
        if (succeeded(SQLRowCount(st.h, &count)) && count > 0) {
            rowsAffected = count;
        }
        for (;;) {
            SQLRETURN more = SQLMoreResults(st.h);
            if (more == SQL_NO_DATA) {
                break;
            }
            if (!succeeded(more)) {
                error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("Error al ejecutar la sentencia"));
                return false;
            }
            if (succeeded(SQLRowCount(st.h, &count)) && count > 0) {
                rowsAffected = count;
            }
        }
    }
    return true;
}

Connection::TxState Connection::probeTransaction() {
    if (m_dbc == nullptr) {
        return TxState::None;
    }
    // SAVEPOINT is refused outside a block (25P01) and inside an aborted one (25P02); inside a live
    // block it succeeds and is released again at once.
    qint64 n = 0;
    DbError e;
    if (runStatement(QStringLiteral("SAVEPOINT v7_estado_transaccion"), n, e)) {
        (void)runStatement(QStringLiteral("RELEASE SAVEPOINT v7_estado_transaccion"), n, e);
        return TxState::Open;
    }
    if (e.sqlState == QLatin1String("25P02")) {
        return TxState::Aborted;
    }
    if (e.sqlState == QLatin1String("25P01")) {
        return TxState::None;
    }
    return TxState::Unknown;
}

void Connection::refreshTransactionState() {
    switch (probeTransaction()) {
    case TxState::Open:
    case TxState::Aborted:
        m_inTransaction = true;
        break;
    case TxState::None:
        m_inTransaction = false;
        break;
    case TxState::Unknown:
        break; // the last known state stands
    }
}

void Connection::anotarResultado(const QString& sql, bool ok, const DbError& error) {
    // On a lost connection the last state stays: callers ask whether a transaction died with it.
    if (!ok && error.isLostConnection()) {
        return;
    }
    const Efecto efecto = efectoEnTransaccion(sql);
    if (efecto == Efecto::Ninguno) {
        // psqlODBC rolls back only the failed statement and keeps the block usable; commit() must still
        // not confirm a block that lost part of its work.
        if (!ok && m_inTransaction) {
            m_statementFailed = true;
        }
        return;
    }
    if (ok && efecto == Efecto::Abre) {
        m_inTransaction = true; // a BEGIN inside a block leaves it open as well
    } else if (ok && efecto == Efecto::Cierra) {
        m_inTransaction = false;
    } else {
        refreshTransactionState(); // a failed control statement, or one whose words cannot tell
    }
    // A new block, the end of one or a return to a savepoint starts again from a clean state.
    if (ok || !m_inTransaction) {
        m_statementFailed = false;
    }
}

bool Connection::execute(const QString& sql, qint64& rowsAffected, DbError& error) {
    const bool ok = runStatement(sql, rowsAffected, error);
    anotarResultado(sql, ok, error);
    return ok;
}

namespace {

// The SQL type a bound value is declared with. Text and kinds without a counterpart go as untyped
// text, which the server converts to the target column's type.
SQLSMALLINT boundSqlType(FieldType t) {
    switch (t) {
    case FieldType::Integer32:
        return SQL_INTEGER;
    case FieldType::Integer64:
        return SQL_BIGINT;
    case FieldType::SmallInt:
        return SQL_SMALLINT;
    case FieldType::Numeric:
        return SQL_NUMERIC;
    case FieldType::Double:
        return SQL_DOUBLE;
    case FieldType::Date:
        return SQL_TYPE_DATE;
    default:
        return SQL_WVARCHAR;
    }
}

} // namespace

bool Connection::execute(const QString& sql, const QVector<Parametro>& params, qint64& rowsAffected, DbError& error) {
    const auto run = [&] {
        Statement st;
        if (!allocStatement(m_dbc, st, error)) {
            return false;
        }
        auto wide = toWide(sql);
        if (!succeeded(SQLPrepareW(st.h, wide.data(), SQL_NTS))) {
            error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("No se pudo preparar la sentencia"));
            return false;
        }
        // The driver reads the buffers at SQLExecute: they live until then.
        std::vector<std::vector<SQLWCHAR>> buffers(size_t(params.size()));
        std::vector<SQLLEN> lengths(size_t(params.size()));
        for (qsizetype i = 0; i < params.size(); ++i) {
            const Parametro& p = params[i];
            const QString text = p.valor.value_or(QString());
            auto& buffer = buffers[size_t(i)];
            buffer = toWide(text);
            lengths[size_t(i)] = p.valor ? SQLLEN(text.size() * qsizetype(sizeof(SQLWCHAR))) : SQLLEN(SQL_NULL_DATA);
            const SQLRETURN rc =
                SQLBindParameter(st.h, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, boundSqlType(p.tipo),
                                 SQLULEN(qMax<qsizetype>(1, text.size())), 0, buffer.data(),
                                 SQLLEN(buffer.size() * sizeof(SQLWCHAR)), &lengths[size_t(i)]);
            if (!succeeded(rc)) {
                error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("No se pudo asociar el valor"));
                return false;
            }
        }
        const SQLRETURN rc = SQLExecute(st.h);
        rowsAffected = 0;
        if (rc == SQL_NO_DATA) {
            return true;
        }
        if (!succeeded(rc)) {
            error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("Error al ejecutar la sentencia"));
            return false;
        }
        SQLLEN count = 0;
        if (succeeded(SQLRowCount(st.h, &count)) && count > 0) {
            rowsAffected = count;
        }
        return true;
    };
    const bool ok = run();
    anotarResultado(sql, ok, error);
    return ok;
}

bool Connection::begin(DbError& error) {
    qint64 n = 0;
    if (!execute(QStringLiteral("BEGIN;"), n, error)) {
        return false;
    }
    if (!m_inTransaction) {
        error = DbError{QString(), kProviderErrorNumber, QStringLiteral("No se pudo iniciar la transacción.")};
        return false;
    }
    return true;
}

bool Connection::commit(DbError& error) {
    qint64 n = 0;
    // A block in which a statement failed lost that statement's work (or the server aborted it, and would
    // answer a COMMIT with a silent rollback): it is not confirmed.
    if (m_statementFailed) {
        (void)execute(QStringLiteral("ROLLBACK;"), n, error);
        error = DbError{QStringLiteral("25P02"), kProviderErrorNumber,
                        QStringLiteral("La transacción falló y se deshizo; no se confirmó ningún cambio.")};
        return false;
    }
    return execute(QStringLiteral("COMMIT;"), n, error);
}

bool Connection::rollback(DbError& error) {
    qint64 n = 0;
    return execute(QStringLiteral("ROLLBACK;"), n, error);
}

std::unique_ptr<Recordset> Connection::query(const QString& sql, DbError& error) {
    auto rs = runQuery(sql, error);
    anotarResultado(sql, rs != nullptr, error);
    return rs;
}

std::unique_ptr<Recordset> Connection::runQuery(const QString& sql, DbError& error) {
    Statement st;
    if (!allocStatement(m_dbc, st, error)) {
        return nullptr;
    }
    bool noData = false;
    if (!execDirect(st, sql, noData, error)) {
        return nullptr;
    }
    QVector<Column> columns;
    QVector<QVector<std::optional<QString>>> rows;
    SQLSMALLINT ncols = 0;
    if (!noData) {
        SQLNumResultCols(st.h, &ncols);
    }
    for (SQLSMALLINT c = 1; c <= ncols; ++c) {
        SQLWCHAR name[256] = {0};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(st.h, SQLUSMALLINT(c), name, SQLSMALLINT(std::size(name)), &nameLen, &type, &size, &digits,
                        &nullable);
        columns.push_back(Column{fromWide(name, qMin<qsizetype>(nameLen, 255)), mapType(type)});
    }
    if (ncols > 0) {
        for (;;) {
            SQLRETURN rc = SQLFetch(st.h);
            if (rc == SQL_NO_DATA) {
                break;
            }
            if (!succeeded(rc)) {
                error = diagnostics(SQL_HANDLE_STMT, st.h, QStringLiteral("Error al leer los registros"));
                return nullptr;
            }
            QVector<std::optional<QString>> row(ncols);
            for (SQLSMALLINT c = 1; c <= ncols; ++c) {
                if (!readField(st.h, SQLUSMALLINT(c), row[c - 1], error)) {
                    return nullptr;
                }
            }
            rows.push_back(std::move(row));
        }
    }
    return std::make_unique<Recordset>(std::move(columns), std::move(rows));
}

QString redactPassword(const QString& text) {
    // PWD={...} with "}}" as an escaped brace, or PWD=bare up to ";" or the end. Never destroyed: worker
    // threads (the status probe) may still report an error while the program ends.
    static const auto* braced = new QRegularExpression(QStringLiteral(R"((PWD\s*=\s*)\{(?:[^}]|\}\})*\}?)"),
                                                       QRegularExpression::CaseInsensitiveOption);
    static const auto* bare = new QRegularExpression(QStringLiteral(R"((PWD\s*=\s*)(?!\{|<redacted>)[^;\r\n]*)"),
                                                     QRegularExpression::CaseInsensitiveOption);
    QString out = text;
    out.replace(*braced, QStringLiteral("\\1<redacted>"));
    out.replace(*bare, QStringLiteral("\\1<redacted>"));
    return out;
}

Transaccion::~Transaccion() {
    rollback();
}

bool Transaccion::begin(DbError& error) {
    m_active = m_con->begin(error);
    // A BEGIN that failed on a live connection may still have opened a block on the server.
    if (!m_active && m_con->inTransaction()) {
        m_active = true;
        rollback();
    }
    return m_active;
}

bool Transaccion::commit(DbError& error) {
    if (!m_active) {
        error = DbError{QString(), kProviderErrorNumber, QStringLiteral("No hay una transacción abierta.")};
        return false;
    }
    const bool ok = m_con->commit(error);
    m_active = m_con->inTransaction();
    if (!ok && m_active) {
        rollback();
    }
    return ok;
}

void Transaccion::rollback() {
    if (!m_active) {
        return;
    }
    m_active = false;
    if (m_con->isOpen() && m_con->inTransaction()) {
        DbError ignored;
        (void)m_con->rollback(ignored);
    }
}

QString redactStatement(const QString& sql) {
    // Never destroyed, as above.
    static const auto* literal = new QRegularExpression(
        QStringLiteral(R"((\bPASSWORD\s+)(?:[Ee]?'(?:[^']|'')*'?|\$\$.*?\$\$))"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const auto* env = new QRegularExpression(QStringLiteral(R"((PGPASSWORD\s*=\s*)('(?:[^']|'\\'')*'|[^\s;]*))"),
                                                    QRegularExpression::CaseInsensitiveOption);
    QString out = sql;
    out.replace(*literal, QStringLiteral("\\1'<redacted>'"));
    out.replace(*env, QStringLiteral("\\1<redacted>"));
    return out;
}

QString braceValue(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

} // namespace v7::db
