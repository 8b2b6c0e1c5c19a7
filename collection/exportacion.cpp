#include "collection/exportacion.h"

#include "core/errores.h"
#include "platform/paths.h"

namespace v7::acervo {

namespace {

using err::kCrLf;

QString n(qint64 v) {
    return QString::number(v);
}

QString ventana(const QString& columna, const Seleccion& s) {
    return columna + QStringLiteral(" BETWEEN '") + s.sFecha1 + QStringLiteral("'::timestamp without time zone AND '") +
           s.sFecha2 + QStringLiteral("'::timestamp without time zone");
}

const QString kEstatusVigente =
    QStringLiteral("((f.estatus<>'NEW'::bpchar AND f.estatus<>'PEN'::bpchar) OR f.estatus IS NULL)");

} // namespace

const QStringList& tablasExportacion() {
    static const QStringList t = {
        QStringLiteral("analisis.zexporta_aactualizacion"), QStringLiteral("analisis.zexporta_aafichas"),
        QStringLiteral("analisis.zexporta_aaholdings"),     QStringLiteral("analisis.zexporta_abibliotecas"),
        QStringLiteral("analisis.zexporta_aescuelas"),      QStringLiteral("analisis.zexporta_bejemplares"),
        QStringLiteral("analisis.zexporta_bejemplaresdpi"), QStringLiteral("analisis.zexporta_betiquetasmarc"),
        QStringLiteral("analisis.zexporta_cenviosdpi"),     QStringLiteral("analisis.zexporta_crecepcionesdpi"),
        QStringLiteral("analisis.zexporta_bindizado"),      QStringLiteral("analisis.zexporta_dautoridades"),
        QStringLiteral("analisis.zexporta_dreferencias"),
    };
    return t;
}

const QStringList& tablasEnOrdenDeCarga() {
    // The names' own order: the prefixes were chosen so that it loads referred tables first.
    static const QStringList t = [] {
        QStringList l = tablasExportacion();
        l.sort();
        return l;
    }();
    return t;
}

Seleccion seleccion(int nBib, const QDate& desde, const QDate& hasta, bool veliro6, const QDate& hoy) {
    Seleccion s;
    s.nBib = nBib;
    s.veliro6 = veliro6;
    const QString formato = QStringLiteral("yyyy/MM/dd");
    if (!veliro6) {
        // From one second after midnight: an item entered at 00:00:00 on the first day is outside.
        s.sFecha1 = desde.toString(formato) + QStringLiteral(" 00:00:01");
        s.sFecha2 = hasta.toString(formato) + QStringLiteral(" 23:59:59");
    } else {
        s.sFecha1 = QStringLiteral("1900/01/01 00:00:01");
        s.sFecha2 = hoy.toString(formato) + QStringLiteral(" 23:59:59");
    }
    return s;
}

QString filtroMaterial(bool veliro6) {
    return veliro6 ? QStringLiteral(" AND (f.idtipomaterial<15) ") : QString();
}

QString sqlListaBibliotecas() {
    return QStringLiteral("SELECT idbiblioteca,nombre FROM catalogos.bibliotecas ORDER BY idbiblioteca");
}

QString versionActual(const QDateTime& momento) {
    return momento.toString(QStringLiteral("yyyyMMdd_HHmm"));
}

QString sqlEstampa(const QString& version) {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_aactualizacion; CREATE TABLE "
                          "analisis.zexporta_aactualizacion (version varchar(13)); INSERT INTO "
                          "analisis.zexporta_aactualizacion (version) VALUES('") +
           version + QStringLiteral("');");
}

QString sqlFichas(const Seleccion& s) {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_aafichas; CREATE TABLE analisis.zexporta_aafichas AS "
                          "SELECT distinct f.* FROM analisis.fichas f INNER JOIN analisis.ejemplares e ON "
                          "f.idficha=e.idficha WHERE ") +
           kEstatusVigente + QStringLiteral(" AND ((") + ventana(QStringLiteral("e.fechaingreso"), s) +
           QStringLiteral(") OR (") + ventana(QStringLiteral("f.fechacaptura"), s) +
           QStringLiteral(")) AND (e.idbiblioteca=") + n(s.nBib) + filtroMaterial(s.veliro6) + QStringLiteral(");");
}

QString sqlAnaliticas(int nBib) {
    // A record staged twice would stage its tags and index words twice and break the import's merge.
    return QStringLiteral("INSERT INTO analisis.zexporta_aafichas SELECT distinct f.* FROM analisis.fichas f WHERE "
                          "tipoficha = 'A' AND f.idbiblioteca = ") +
           n(nBib) +
           QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM analisis.zexporta_aafichas z WHERE z.idficha = f.idficha)");
}

QString sqlIdfichaMarcador() {
    return QStringLiteral("SELECT CASE WHEN z.maximo IS NULL THEN NULL ELSE GREATEST(z.maximo, (SELECT MAX(idficha) "
                          "FROM analisis.fichas)) + 1 END AS ficha_np FROM (SELECT MAX(idficha) AS maximo FROM "
                          "analisis.zexporta_aafichas) z");
}

QString sqlMarcador(const QString& idficha, int nBib) {
    QString sql;
    if (!idficha.isEmpty()) {
        sql = QStringLiteral("INSERT INTO analisis.zexporta_aafichas (idficha, ficha_no, idbiblioteca, idtipomaterial, "
                             "tipoficha, estatus, titulo, autor, clasificacion, editorial, registroactivo) VALUES (") +
              idficha + QStringLiteral(", ") + n(kFichaMarcador) + QStringLiteral(", ") + n(nBib) +
              QStringLiteral(", 1, 'L', 'CAP','---', '---', '---', '---', TRUE);");
    }
    return sql + QStringLiteral("UPDATE analisis.zexporta_aafichas SET idbiblioteca=") + n(nBib);
}

QString sqlEjemplares(const Seleccion& s) {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_bejemplares; CREATE TABLE "
                          "analisis.zexporta_bejemplares AS SELECT e.* FROM analisis.ejemplares e INNER JOIN "
                          "analisis.fichas f ON f.idficha=e.idficha WHERE e.accesible < 16 AND ") +
           ventana(QStringLiteral("e.fechaingreso"), s) + QStringLiteral(" AND ") + kEstatusVigente +
           QStringLiteral(" AND (e.idbiblioteca=") + n(s.nBib) + QStringLiteral(") ") + filtroMaterial(s.veliro6) +
           QStringLiteral(" ORDER BY e.idficha;");
}

QString sqlEjemplaresDpi(int nBib) {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_bejemplaresdpi; CREATE TABLE "
                          "analisis.zexporta_bejemplaresdpi AS SELECT e.* FROM analisis.ejemplaresdetallesdpi e INNER "
                          "JOIN analisis.zexporta_bejemplares ex ON e.numadqui = ex.no_adqui  AND e.idbiblioteca = ") +
           n(nBib) + QStringLiteral(" ORDER BY e.idficha;");
}

QString sqlColumnasEnlace() {
    return QStringLiteral("ALTER TABLE analisis.etiquetasmarc ADD COLUMN idlink integer DEFAULT NULL;"
                          "ALTER TABLE analisis.etiquetasmarc ADD COLUMN tabla character(2) DEFAULT NULL;");
}

QString sqlEnlazarEtiquetas(int nBib) {
    return QStringLiteral("UPDATE analisis.etiquetasmarc m SET tabla=analisis.gettableautoridad(m.contenido), "
                          "idlink=analisis.getidautoridad(m.contenido)::integer  FROM analisis.etiquetasmarc a INNER "
                          "JOIN analisis.fichas f ON f.idficha=a.idficha  WHERE (m.idregistro=a.idregistro) and "
                          "(f.idbiblioteca=") +
           n(nBib) +
           QStringLiteral(") and (m.idlink is null) and (m.numetiqueta<100 or (m.numetiqueta>260 and "
                          "m.numetiqueta<400) or (m.numetiqueta>499 and m.numetiqueta<600) ) ");
}

QString sqlEtiquetas() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_betiquetasmarc; CREATE TABLE "
                          "analisis.zexporta_betiquetasmarc AS SELECT e.* FROM analisis.etiquetasmarc e INNER JOIN "
                          "analisis.zexporta_aafichas f ON f.idficha=e.idficha  ORDER BY e.idficha;");
}

QString sqlIndizado() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_bindizado; CREATE TABLE analisis.zexporta_bindizado "
                          "AS SELECT ind.* FROM indizados.palabras ind INNER JOIN analisis.zexporta_aafichas f ON "
                          "f.idficha=ind.idficha  ORDER BY ind.idficha;");
}

QString sqlIndizadoBiblioteca(int nBib) {
    return QStringLiteral("UPDATE analisis.zexporta_bindizado SET idbiblioteca=") + n(nBib);
}

QString sqlEnvios() {
    return QStringLiteral(
        "DROP TABLE IF EXISTS analisis.zexporta_cenviosdpi; CREATE TABLE analisis.zexporta_cenviosdpi "
        "AS SELECT DISTINCT env.* FROM analisis.enviosdpi env INNER JOIN "
        "analisis.zexporta_bejemplaresdpi z ON env.idenviodpi = z.idenviodpi;");
}

QString sqlRecepciones() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_crecepcionesdpi; CREATE TABLE "
                          "analisis.zexporta_crecepcionesdpi AS SELECT DISTINCT rec.* FROM analisis.recepcionesdpi rec "
                          "INNER JOIN analisis.zexporta_bejemplaresdpi z ON rec.idrecepciondpi = z.idrecepciondpi;");
}

QString sqlAutoridades() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_dautoridades; CREATE TABLE "
                          "analisis.zexporta_dautoridades AS SELECT DISTINCT a.* FROM catalogos.autoridades a INNER "
                          "JOIN analisis.zexporta_betiquetasmarc m ON m.idlink = a.idautoridad ORDER BY "
                          "a.idautoridad;");
}

QString sqlReferencias() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_dreferencias; CREATE TABLE "
                          "analisis.zexporta_dreferencias AS SELECT DISTINCT a.* FROM catalogos.referencias a INNER "
                          "JOIN analisis.zexporta_betiquetasmarc m ON m.idlink = a.idreferencia ORDER BY "
                          "a.idreferencia;");
}

QString sqlHoldings() {
    return QStringLiteral(
        "DROP TABLE IF EXISTS analisis.zexporta_aaholdings; CREATE TABLE analisis.zexporta_aaholdings "
        "AS SELECT h.* FROM analisis.holdings h INNER JOIN analisis.zexporta_aafichas f ON "
        "f.idficha=h.idficha ORDER BY f.idficha;");
}

QString sqlEscuelas() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_aescuelas; CREATE TABLE analisis.zexporta_aescuelas "
                          "AS SELECT DISTINCT es.* FROM catalogos.escuelas es INNER JOIN analisis.zexporta_bejemplares "
                          "e ON e.idescuela=es.idescuela;");
}

QString sqlBibliotecas() {
    return QStringLiteral("DROP TABLE IF EXISTS analisis.zexporta_abibliotecas; CREATE TABLE "
                          "analisis.zexporta_abibliotecas AS SELECT DISTINCT b.* FROM catalogos.bibliotecas b INNER "
                          "JOIN (SELECT DISTINCT idbiblioteca FROM analisis.zexporta_aescuelas UNION SELECT DISTINCT "
                          "idbiblioteca FROM analisis.zexporta_bejemplares) AS xbib ON b.idbiblioteca = "
                          "xbib.idbiblioteca;");
}

QString sqlFichaNoEnEjemplares() {
    return QStringLiteral("update analisis.zexporta_bejemplares e set ficha_no = (select f.ficha_no FROM "
                          "analisis.zexporta_aafichas f where f.idficha = e.idficha)");
}

QString sqlListaRenumerar() {
    return QStringLiteral("select * from analisis.zexporta_bejemplares where ficha_no > 0 order by ficha_no ");
}

QString sqlMaximoFichaNo() {
    return QStringLiteral("SELECT MAX(ficha_no) FROM analisis.zexporta_aafichas");
}

QString sqlRenumerar(qint64 nuevo, const QString& idficha) {
    return QStringLiteral("UPDATE analisis.zexporta_aafichas SET ficha_no = ") + n(nuevo) +
           QStringLiteral(" WHERE idficha = ") + idficha + QStringLiteral(";") + kCrLf +
           QStringLiteral("UPDATE analisis.zexporta_bejemplares SET ficha_no = ") + n(nuevo) +
           QStringLiteral(" WHERE idficha = ") + idficha + QStringLiteral(";");
}

QString sqlEjemplaresV6(int nBib) {
    return QStringLiteral("SELECT b.ficha_no,b.no_adqui,b.idbiblioteca,b.fechaingreso,b.idbiblioteca,b.volumen,"
                          "b.ejemplar,b.tomo,b.accesible,b.idescuela,b.analista FROM analisis.zexporta_bejemplares b "
                          "INNER JOIN analisis.zexporta_aafichas a ON a.idficha=b.idficha  WHERE b.idbiblioteca=") +
           n(nBib) + QStringLiteral(" AND a.idtipomaterial NOT IN (15,16) AND a.ficha_no>0  ORDER BY b.ficha_no ");
}

QString sqlFichasV6(int nBib) {
    return QStringLiteral(" SELECT DISTINCT a.idficha,a.ficha_no,a.fechacaptura,a.idtipomaterial,a.isbn,a.titulo,"
                          "a.autor,a.clasificacion,a.estatus FROM analisis.zexporta_aafichas a INNER JOIN "
                          "analisis.zexporta_bejemplares b ON a.idficha=b.idficha  WHERE b.idbiblioteca=") +
           n(nBib) + QStringLiteral(" AND a.idtipomaterial NOT IN (15,16) AND b.ficha_no>0  ORDER BY a.ficha_no ");
}

QString sqlEtiquetasV6(qint64 idficha, bool conEnlaces) {
    const QString enlace = conEnlaces ? QStringLiteral("m.idlink,m.tabla") : QStringLiteral("NULL,NULL");
    return QStringLiteral("SELECT m.numetiqueta,m.subcampo,m.jerarquia, m.posicion,m.contenido, "
                          "analisis.referenciacatalogos2(m.contenido,") +
           enlace + QStringLiteral(") as data FROM analisis.etiquetasmarc m WHERE m.idficha=") + n(idficha) +
           QStringLiteral(" ORDER BY 1,2,3,4");
}

QString archivoExportacion(const QString& carpeta, int nBib, const QString& version) {
    return paths::withSlash(carpeta) + QStringLiteral("respB") + n(nBib).rightJustified(2, QLatin1Char('0')) +
           QLatin1Char('_') + version + QStringLiteral(".backup");
}

QString archivoEmpacado(const QString& archivoBackup) {
    const QString sufijo = QStringLiteral(".backup");
    if (!archivoBackup.endsWith(sufijo)) {
        return archivoBackup + QStringLiteral(".zip");
    }
    return archivoBackup.left(archivoBackup.size() - sufijo.size()) + QStringLiteral(".zip");
}

QString etiquetaConteo(const QString& tabla) {
    if (tabla == QLatin1String("analisis.zexporta_aafichas")) {
        return QStringLiteral("Fichas: ");
    }
    if (tabla == QLatin1String("analisis.zexporta_bejemplares")) {
        return QStringLiteral("Ejemplares: ");
    }
    if (tabla == QLatin1String("analisis.zexporta_betiquetasmarc")) {
        return QStringLiteral("Ref. Etiquetas MARC: ");
    }
    if (tabla == QLatin1String("analisis.zexporta_dautoridades")) {
        return QStringLiteral("Entradas autoridades: ");
    }
    if (tabla == QLatin1String("analisis.zexporta_dreferencias")) {
        return QStringLiteral("Ref. autoridades: ");
    }
    return QString();
}

} // namespace v7::acervo
