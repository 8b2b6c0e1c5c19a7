// Thin database access over unixODBC: a connection and fully fetched, read-only result sets.
#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>

namespace v7::db {

// One failure of the driver or the driver manager.
struct DbError {
    QString sqlState;    // five characters, empty when none was reported
    qint64 number = 0;   // error number as shown to users (negative, as the provider reports it)
    QString description; // driver text, passwords redacted

    bool isSet() const { return !description.isEmpty() || !sqlState.isEmpty(); }
    // Class 08 (connection exceptions) and 57P01..57P03 (server shutting down / cannot connect now).
    bool isLostConnection() const;
};

// The generic provider error number, the one callers used to see for every ODBC failure.
inline constexpr qint64 kProviderErrorNumber = -2147467259;

// Column type of a result field, reduced to what callers test.
enum class FieldType {
    Text,
    Integer32,
    Integer64,
    SmallInt,
    Numeric,
    Double,
    Boolean,
    Date,
    Time,
    Timestamp,
    Binary,
    Other
};

struct Column {
    QString name;
    FieldType type = FieldType::Text;
};

// A value bound to one "?" of a prepared statement: its text, or NULL, and the SQL type the server
// is told (Text and Other leave the type to the server, which takes it from the target column).
struct Parametro {
    FieldType tipo = FieldType::Text;
    std::optional<QString> valor;
};

// A result set held in memory: every row fetched at once, re-readable, with an optional
// equality filter on one column.
class Recordset {
public:
    Recordset(QVector<Column> columns, QVector<QVector<std::optional<QString>>> rows);

    bool isOpen() const { return m_open; }
    void close();

    bool eof() const;
    bool bof() const { return m_pos < 0; }
    void moveFirst();
    void moveNext();
    int recordCount() const; // rows visible under the current filter

    int fieldCount() const { return m_columns.size(); }
    const Column& column(int index) const { return m_columns.at(index); }
    int columnIndex(const QString& name) const; // case-insensitive; -1 when absent

    // Current row's field; null when the field is NULL, when there is no current row or no such field.
    std::optional<QString> value(int index) const;
    std::optional<QString> value(const QString& name) const;
    bool isNull(const QString& name) const { return !value(name).has_value(); }
    // The field as text, empty for NULL.
    QString text(const QString& name) const { return value(name).value_or(QString()); }
    QString text(int index) const { return value(index).value_or(QString()); }

    // Keep only rows whose column equals value (text comparison); moves to the first such row.
    void setFilter(const QString& columnName, const QString& value);
    void clearFilter();

private:
    void rebuildView();

    bool m_open = true;
    QVector<Column> m_columns;
    QVector<QVector<std::optional<QString>>> m_rows;
    QVector<int> m_view; // indexes into m_rows
    int m_pos = 0;
    int m_filterColumn = -1;
    QString m_filterValue;
};

// An ODBC connection. Statements run through SQLExecDirect; a "BEGIN;" holds across calls.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(const QString& s) { m_connectionString = s; }
    const QString& connectionString() const { return m_connectionString; }
    void setTimeoutSeconds(int seconds) { m_timeoutSeconds = seconds; }

    bool isOpen() const { return m_dbc != nullptr; }
    [[nodiscard]] bool open(DbError& error);
    void close();

    // Whether a transaction block is open here (also an aborted one), as the server last reported it:
    // after every statement that can open or end a block the server is asked.
    bool inTransaction() const { return m_inTransaction; }

    // Runs a statement; rowsAffected gets the driver's count (0 when it reports no data).
    [[nodiscard]] bool execute(const QString& sql, qint64& rowsAffected, DbError& error);
    // The same for one statement with "?" markers (not a transaction command), prepared and run with
    // one value bound to each marker in order: values reach the server as they are, never as part of
    // the statement text.
    [[nodiscard]] bool execute(const QString& sql, const QVector<Parametro>& params, qint64& rowsAffected,
                               DbError& error);

    // Explicit transaction control. commit() fails (and rolls back) when the block had aborted or one
    // of its statements failed since it began (or since a ROLLBACK TO SAVEPOINT): a block is
    // confirmed whole or not at all.
    [[nodiscard]] bool begin(DbError& error);
    [[nodiscard]] bool commit(DbError& error);
    bool rollback(DbError& error);
    // Runs a query and fetches all of its rows; nullptr on failure.
    [[nodiscard]] std::unique_ptr<Recordset> query(const QString& sql, DbError& error);

private:
    enum class TxState { None, Open, Aborted, Unknown };
    bool runStatement(const QString& sql, qint64& rowsAffected, DbError& error);
    std::unique_ptr<Recordset> runQuery(const QString& sql, DbError& error);
    // Keeps the block state and its failure mark after any statement or query.
    void anotarResultado(const QString& sql, bool ok, const DbError& error);
    TxState probeTransaction();
    void refreshTransactionState();

    void* m_env = nullptr;
    void* m_dbc = nullptr;
    QString m_connectionString;
    int m_timeoutSeconds = 0;
    bool m_inTransaction = false;
    bool m_statementFailed = false; // a statement failed inside the open block
};

// A transaction for one scope: begun by begin(), ended by commit(); still open when the object goes
// away (an early return, an exception), it is rolled back. Holds the connection it began on, so a
// reconnection elsewhere that replaces a shared connection cannot leave it dangling.
class Transaccion {
public:
    explicit Transaccion(std::shared_ptr<Connection> connection) : m_con(std::move(connection)) {}
    ~Transaccion();
    Transaccion(const Transaccion&) = delete;
    Transaccion& operator=(const Transaccion&) = delete;

    [[nodiscard]] bool begin(DbError& error);
    [[nodiscard]] bool commit(DbError& error);
    void rollback();
    bool active() const { return m_active; }
    Connection& connection() const { return *m_con; }

private:
    std::shared_ptr<Connection> m_con;
    bool m_active = false;
};

// The server sessions of this program's open connections (the shared one, the console's probe, any
// other), each as "<backend pid>@<backend start in UTC, to the microsecond>": the pair names one session
// even after its pid is reused. A restore that asks to end the other sessions of the database never counts
// these among them. Written by every open(), removed by close().
QStringList sesionesPropias();

// The same text of a session of pg_stat_activity aliased a, for comparing with sesionesPropias().
QString expresionSesion(const QString& alias);

// Replaces the value of every PWD= entry of a connection string (braced or bare) by <redacted>.
QString redactPassword(const QString& text);

// A statement text as error messages may echo it: the literal after every PASSWORD keyword (CREATE
// or ALTER ROLE … PASSWORD '…') and every PGPASSWORD= value becomes <redacted>.
QString redactStatement(const QString& sql);

// Braces a value for a connection string: {value} with every "}" doubled.
QString braceValue(const QString& value);

} // namespace v7::db
