// What the connected-sessions window reads: one session per client address, and the server's log
// file of the day.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

namespace v7 {

// Client sessions only (the server's own processes have no address and would take that row), the
// newest one of each address.
inline const QString kConsultaSesiones =
    QStringLiteral("SELECT DISTINCT ON (client_addr) datname, usename, client_addr, client_port, backend_start "
                   "FROM pg_stat_activity WHERE backend_type = 'client backend' ORDER BY client_addr, "
                   "backend_start DESC");

struct SesionConectada {
    QString base, usuario, inicio, host, puerto; // empty where the server gives NULL
};

// The sessions through the shared connection; false with the SQL layer's error text when the query
// could not run.
[[nodiscard]] bool sesionesConectadas(QVector<SesionConectada>* sesiones, QString* error);

// One of the server's settings as the server reports it to this login: empty when it may not be read
// (settings such as the server's files are for superusers only; pg_settings leaves them out without
// an error, which SHOW would write into the server's log).
QString ajusteServidor(const QString& nombre);

// Where the server writes its log files: log_directory (under data_directory when relative) as the
// server tells, else the installation's data/pg_log/. Ends in "/". colector is false when the server
// says that it writes no log files.
QString carpetaBitacora(bool* colector = nullptr);

// The day's log file in carpeta ("postgresql-yyyy-mm-dd_*.log"): the greatest name, which is the one
// the server started last. Empty when there is none.
QString archivoBitacoraDelDia(const QString& carpeta, const QDate& dia);

// The file's lines as UTF-8 text (a CR at a line's end dropped); false when it cannot be read.
[[nodiscard]] bool leerBitacora(const QString& ruta, QStringList* lineas);

} // namespace v7
