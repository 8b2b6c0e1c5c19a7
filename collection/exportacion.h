// The statements that copy one library's collection into the staging tables of schema analisis, and
// the names those tables and the export file carry. The staging tables are what the dump file holds
// and what the import loads and merges, so their names and contents are fixed here, once.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace v7::acervo {

// The thirteen staging tables (schema-qualified) in the order the dump names them.
const QStringList& tablasExportacion();
// The same tables in the order the import drops them before loading a dump.
const QStringList& tablasEnOrdenDeCarga();

// The record that the import hangs dropped but loaned or reserved items under.
inline constexpr int kFichaMarcador = -1234;

// What one run selects.
struct Seleccion {
    int nBib = 0;
    QString sFecha1; // "yyyy/MM/dd 00:00:01"
    QString sFecha2; // "yyyy/MM/dd 23:59:59"
    bool veliro6 = false;
};

// The selection of a run: the date window for the current format (the previous generation's file
// takes everything up to today and only material types below 15).
Seleccion seleccion(int nBib, const QDate& desde, const QDate& hasta, bool veliro6, const QDate& hoy);
QString filtroMaterial(bool veliro6);

// The libraries the export window offers: id and name, by id.
QString sqlListaBibliotecas();

// The run's stamp, "yyyyMMdd_HHmm".
QString versionActual(const QDateTime& momento);

QString sqlEstampa(const QString& version);
// [01]
QString sqlFichas(const Seleccion& s);
// Analytic records of the library that the record step did not stage already.
QString sqlAnaliticas(int nBib);
// The marker record's idficha: above every staged record and every live one, so that no step that
// joins the live tables on idficha can take another record's rows for the marker's. NULL when
// nothing was staged.
QString sqlIdfichaMarcador();
// The marker insert (left out when idficha is empty) and the library of every staged record.
QString sqlMarcador(const QString& idficha, int nBib);
// [02]
QString sqlEjemplares(const Seleccion& s);
// [03]
QString sqlEjemplaresDpi(int nBib);
// [04] The link columns of the live tag table.
QString sqlColumnasEnlace();
// [05] Links of the library's live tag rows to authorities and references.
QString sqlEnlazarEtiquetas(int nBib);
// [06], [07] and its library update, [07a], [07b], [08], [09], [010], [011], [012]
QString sqlEtiquetas();
QString sqlIndizado();
QString sqlIndizadoBiblioteca(int nBib);
QString sqlEnvios();
QString sqlRecepciones();
QString sqlAutoridades();
QString sqlReferencias();
QString sqlHoldings();
QString sqlEscuelas();
QString sqlBibliotecas();

// The previous generation's file keys records by ficha_no: the items take their record's number,
// then records sharing a number are renumbered.
QString sqlFichaNoEnEjemplares();
QString sqlListaRenumerar();
QString sqlMaximoFichaNo();
QString sqlRenumerar(qint64 nuevo, const QString& idficha);

// The previous generation's file reads the staged items and records of the library, and each
// record's tags with their references resolved (without the link columns when the live tag table has
// none yet: the references then resolve from their own text).
QString sqlEjemplaresV6(int nBib);
QString sqlFichasV6(int nBib);
QString sqlEtiquetasV6(qint64 idficha, bool conEnlaces);

// The export file: folder + "respB" + the library id in at least two digits + "_" + stamp + ".backup".
QString archivoExportacion(const QString& carpeta, int nBib, const QString& version);
// The packed file: only the final ".backup" becomes ".zip" (the folder may hold ".backup" too).
QString archivoEmpacado(const QString& archivoBackup);

// The label of a staging table's count line in the run's log; empty for tables without one.
QString etiquetaConteo(const QString& tabla);

} // namespace v7::acervo
