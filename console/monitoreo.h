// What the connected-sessions window and the console's banner read: one session per client address, the
// last session on the database, and the server's log file of the day.
#pragma once

#include "platform/archivo_seguro.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

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

// The newest session on the database, for the console's banner.
struct UltimaSesion {
    bool hay = false; // the query gave a row
    std::optional<QString> usuario;
    std::optional<QString> direccion;
    std::optional<QString> inicio; // backend_start as the server wrote it
};
// False with the SQL layer's error text when the query could not run.
[[nodiscard]] bool leerUltimaSesion(UltimaSesion* sesion, QString* error);
// The banner: "El último usuario que inicio sesión fue " and, when there was a row, who, from where and when
// (the date with the locale's month name).
QString textoUltimaSesion(const UltimaSesion& sesion, const QLocale& locale = QLocale());

// One of the server's settings as the server reports it to this login: empty when it may not be read
// (settings such as the server's files are for superusers only; pg_settings leaves them out without
// an error, which SHOW would write into the server's log).
QString ajusteServidor(const QString& nombre);

// The server's data folder: data_directory as the server tells, else the installation's data.
QString carpetaDatosServidor();
// The OS user that owns the server's data folder: the one the server runs as, and the only one whose log
// and rules files the kit reads or writes. nullopt with the Spanish reason when the folder cannot be
// reached (it is missing, or a link in a folder that another user can change).
std::optional<uid_t> duenoDelServidor(QString* motivo);

// Where the server writes its log files: log_directory (under data_directory when relative) as the
// server tells, else the installation's data/pg_log/. Ends in "/". colector is false when the server
// says that it writes no log files. A database superuser may set log_directory to any folder: the folder
// is read only when it is a real folder of the server's owner or of root, and a file in it only when it is
// the server's owner's.
QString carpetaBitacora(bool* colector = nullptr);

// The day's log file among nombres ("postgresql-yyyy-mm-dd_*.log"): the greatest name, which is the one
// the server started last. Empty when there is none.
QString archivoBitacoraDelDia(const QStringList& nombres, const QDate& dia);

// How much of a log file is read: its end, when it is larger.
inline constexpr qint64 kLimiteBitacora = 32 * archivo::kMiB;
// How much of one line is shown; a longer line is cut and says how much is left out.
inline constexpr int kMaxCaracteresLinea = 4000;

// What the log tab shows. Its lines are kept as the bytes read and made into text only when they are shown,
// so a log of hundreds of thousands of lines costs little more than its size.
struct Bitacora {
    enum class Estado {
        Leida,      // the lines are there to show
        SinArchivo, // no log file of the day
        Rechazada,  // the folder or the file is a link, another user's or no regular file: not read (motivo)
        NoLeida,    // it could not be read (motivo says why)
    };
    Estado estado = Estado::SinArchivo;
    QString archivo;
    QString motivo;
    // When only the end of a large file was read, the line that says so (shown before the others).
    QString aviso;
    QByteArray datos;        // what was read, from the start of its first whole line
    QVector<qint32> inicios; // where each line starts in datos

    int lineas() const { return int(inicios.size()); }
    // Line i as lineaVisible() shows it (UTF-8; a CR at its end dropped).
    QString linea(int i) const;
};

// A line of a log as it may be shown: control characters, direction overrides and isolates written as
// \xNN or \uNNNN (so no line can hide or reorder what it says), a tab as blanks, and at most
// kMaxCaracteresLinea characters.
QString lineaVisible(QStringView linea);

// Reads the log file nombre of carpeta: never through a link, never a FIFO or device, only a file of dueno,
// at most its last kLimiteBitacora bytes.
Bitacora leerBitacora(const archivo::Carpeta& carpeta, const QString& nombre, uid_t dueno);

// The log of the day: its folder as the server tells (statements on the shared connection), the day's
// last file there, and its lines.
Bitacora bitacoraDelDia(const QDate& dia);

} // namespace v7
