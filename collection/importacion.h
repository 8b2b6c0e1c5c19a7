// The import of a collection export on a library's own server: loading the dump into the staging
// tables with psql, the checks made on what was loaded, the merge script and its run, and the counts
// shown afterwards. Windows call these between their questions; nothing here shows a box.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace v7::acervo {

// Every staging table dropped, in one text: "DROP TABLE IF EXISTS analisis.zexporta_…;" thirteen times.
QString sentenciaBorrarTablas();

// Whether the staging tables are still there (the merge script drops them when it commits). nullopt
// when the catalogue could not be read.
std::optional<bool> hayTablasExportacion(QString& error);

// One run of psql on database veliro7 with the session's login, its password only in psql's
// environment and stopping at the first failing statement.
struct ResultadoPsql {
    bool iniciado = false;
    QString errorInicio; // why it did not start
    int estado = -1;     // exit status: 0 ok, 1 file, 2 connection, 3 script error
    QStringList errores; // psql's error lines
    bool ok() const { return iniciado && estado == 0; }
    // The failure for a message box: what the exit status means, then psql's lines (empty when ok).
    QString detalle() const;
};

// Runs the script file with the psql of carpetaBin; its output and error lines go to the file salida.
ResultadoPsql ejecutarPsql(const QString& carpetaBin, const QString& script, const QString& salida);

// psql's error lines in its output (at most a screenful); the last lines when none is marked.
QStringList lineasErrorPsql(const QByteArray& salida);

// --- The checks of the loaded file --------------------------------------------------------------------

// Items of the file that belong to a library other than BIBLIO_ACTIVA's (0 without that row).
std::optional<qint64> ejemplaresDeOtraBiblioteca(QString& error);
// ACT_ACERVO (empty without the row) and the file's own stamp (empty when it has none).
std::optional<QString> versionInstalada(QString& error);
std::optional<QString> versionCargada(QString& error);

// A stamp "yyyymmdd_hhmm" as a moment; nullopt when it is not one.
std::optional<QDateTime> leerSello(const QString& sello);
// The date of a moment as messages show it: Spanish weekday and month names, "ddd d 'de' MMM 'de' yyyy".
QString textoFecha(const QDate& fecha);
// The refusal of a file that is not newer than the installed update; nullopt when a stamp cannot be read.
std::optional<QString> mensajeNoReciente(const QString& instalada, const QString& cargada);

// --- Before the merge ----------------------------------------------------------------------------------

// "COLECCION: " … "EJEMPLARES: [" … "]" for each collection of the file that this server lacks;
// empty when none is missing.
std::optional<QString> coleccionesFaltantes(QString& error);
QString mensajeColecciones(const QString& lista);

// Open unprocessed-item entries (state 16 and above) of items that the file brings.
struct NoProcesado {
    QString noAdqui;
    QString estado;
};
std::optional<QVector<NoProcesado>> noProcesadosIncluidos(QString& error);
QString mensajeNoProcesados(const QVector<NoProcesado>& items);
// The statement that takes one entry out of the unprocessed items: state 16 is closed, a higher
// state loses its 16 and stays open.
QString sentenciaQuitarNoProcesado(const NoProcesado& item);

// The tag table of a server never exported from lacks the link columns that the staged tag rows
// carry, and the merge copies rows by position: they are added as the export adds them. Empty on
// success, else the reason.
QString asegurarColumnasEnlace();

// --- The merge script ----------------------------------------------------------------------------------

inline const QString kVacuum = QStringLiteral("VACUUM FULL ANALYZE;");

// A template file's text: UTF-8 when it is valid UTF-8, else Windows-1252 (files saved on Windows).
QString decodificarPlantilla(const QByteArray& bytes);

struct PlantillaAcervo {
    QString texto;  // without its closing vacuum
    QString origen; // the file or the table it came from
    QString error;  // why there is none
    bool ok() const { return error.isEmpty(); }
};
// From the shared work-files folder when one is configured, else from reportes.plantillas.
PlantillaAcervo leerPlantillaAcervo();

// Writes the run copy of the script (UTF-8); empty on success, else the reason.
QString escribirCopiaEjecucion(const QString& ruta, const QString& texto);

// --- After the merge -----------------------------------------------------------------------------------

struct EstadisticasAcervo {
    QString fichas;     // "Libros (n). Revistas (n). Analíticas (n)."
    QString ejemplares; // "Libros (n). Revistas (n)."
};
// Records and items of the merged collection (the unprocessed-items record and accompanying material
// left out); nullopt with the SQL layer's error text when they could not be counted.
std::optional<EstadisticasAcervo> estadisticasAcervo(QString& error);
QString mensajeEstadisticas(const EstadisticasAcervo& e);

} // namespace v7::acervo
