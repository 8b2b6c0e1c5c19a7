// What the import's test programs share: a central database of the test cluster, built from the export
// tests' catalogue, that exports library 2 with the export's own routines; the library's database with its
// merge script; what the library's catalogue holds; and the fixture that drives the import window.
#pragma once

#include "collection/exportacion.h"
#include "collection/frmRestaurarAcervo.h"
#include "collection/importacion.h"
#include "collection/sql_asincrono.h"
#include "collection/volcado.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "resources/recursos.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDate>
#include <QFileInfo>
#include <QPushButton>

#include <gtest/gtest.h>

namespace v7::test {

// The export reads database veliro7 alone, and so does the import: the central server's database
// waits as kCentral while the library's is veliro7, and the two trade names for an export.
inline const QString kCentral = QStringLiteral("central_acervo");
inline const QString kBiblioteca = QStringLiteral("biblioteca_acervo");
inline const QString kSello = QStringLiteral("20240315_0930");
inline const QString kSelloNuevo = QStringLiteral("20240402_1745");

inline PgCluster& cluster() {
    return PgCluster::instance();
}

inline QString leerTexto(const QString& path) {
    return QString::fromUtf8(leer(path));
}

inline QString fixture(const char* name) {
    return leerTexto(QStringLiteral(V7_SOURCE_DIR "/tests/collection/") + QString::fromLatin1(name));
}

// Rows of a query, one per line (psql's unaligned output).
inline QString filas(const QString& sql, const QString& database = QStringLiteral("veliro7")) {
    QString out;
    EXPECT_TRUE(cluster().psql(sql, &out, database)) << sql.toStdString();
    return out.trimmed();
}

// The central server: the two schema files and the catalogue the export tests use.
inline void crearCentral() {
    ASSERT_TRUE(cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE);\nDROP DATABASE IF EXISTS %2 "
                                              "WITH (FORCE);\nCREATE DATABASE %1;")
                                   .arg(kCentral, kBiblioteca),
                               nullptr, QStringLiteral("postgres")));
    ASSERT_TRUE(cluster().psql(leerTexto(baseSchemaPath()) + QLatin1Char('\n') + leerTexto(librarySchemaPath()) +
                                   QLatin1Char('\n') + fixture("fixture_acervo.sql"),
                               nullptr, kCentral));
}

// While it lives, veliro7 is the central server's database and the library's waits as kBiblioteca.
// Nobody may be connected to a database that is renamed: the session's connection is closed first
// and opened again on the new veliro7.
class CentralComoVeliro7 {
public:
    CentralComoVeliro7() { m_ok = intercambiar(kCentral, kBiblioteca); }
    ~CentralComoVeliro7() {
        if (m_ok) {
            EXPECT_TRUE(intercambiar(kBiblioteca, kCentral));
        }
    }
    bool ok() const { return m_ok; }

private:
    // veliro7 becomes `guardar`, `traer` becomes veliro7.
    static bool intercambiar(const QString& traer, const QString& guardar) {
        conexionPrincipal().close();
        const bool renombradas = cluster().psql(
            QStringLiteral("SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname IN "
                           "('veliro7', '%1') AND pid <> pg_backend_pid();\n"
                           "ALTER DATABASE veliro7 RENAME TO %2;\nALTER DATABASE %1 RENAME TO veliro7;")
                .arg(traer, guardar),
            nullptr, QStringLiteral("postgres"));
        QString error;
        const bool conectada = ConexionServer(sesion().CadenaConexion, error);
        EXPECT_TRUE(conectada) << error.toStdString();
        return renombradas && conectada;
    }
    bool m_ok = false;
};

// Library `biblioteca`'s export file, written by the export on the central server: its own statements,
// in the order its window runs them for this format, stage the library's whole collection under the
// stamp given (not the clock's, so that a test can tell an older file from a newer one); pg_dump
// writes the file and it is packed into its .zip. The dump is then taken out of the archive, as the
// library's staff do, and its path returned; the .zip stays beside it.
inline QString exportar(const QString& carpeta, const QString& sello, int biblioteca = 2) {
    const QString archivo = acervo::archivoExportacion(carpeta, biblioteca, sello);
    CentralComoVeliro7 central;
    if (!central.ok()) {
        ADD_FAILURE() << "the central database could not become veliro7";
        return archivo;
    }
    const acervo::Seleccion sel =
        acervo::seleccion(biblioteca, QDate(1900, 1, 1), QDate(2100, 12, 31), false, QDate::currentDate());
    auto correr = [](const QString& sql) {
        const ResultadoAsincrono r = ejecutarAsincrono(sesion().CadenaConexion, sql);
        EXPECT_TRUE(r.ok) << sql.toStdString() << "\n" << r.errores.toStdString();
    };
    correr(acervo::sqlEstampa(sello));
    correr(acervo::sqlFichas(sel));
    correr(acervo::sqlAnaliticas(biblioteca));
    int total = 0;
    QString error;
    const RecordsetPtr marcador = ExecuteSQLrs(acervo::sqlIdfichaMarcador(), total, error);
    EXPECT_TRUE(marcador && !marcador->eof() && !marcador->isNull(QStringLiteral("ficha_np"))) << error.toStdString();
    correr(acervo::sqlMarcador(marcador && !marcador->eof() ? marcador->text(QStringLiteral("ficha_np")) : QString(),
                               biblioteca));
    correr(acervo::sqlEjemplares(sel));
    correr(acervo::sqlEjemplaresDpi(biblioteca));
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
        correr(acervo::sqlColumnasEnlace());
    }
    for (const QString& sql : {acervo::sqlEnlazarEtiquetas(biblioteca), acervo::sqlEtiquetas(), acervo::sqlIndizado(),
                               acervo::sqlIndizadoBiblioteca(biblioteca), acervo::sqlEnvios(), acervo::sqlRecepciones(),
                               acervo::sqlAutoridades(), acervo::sqlReferencias(), acervo::sqlHoldings(),
                               acervo::sqlEscuelas(), acervo::sqlBibliotecas()}) {
        correr(sql);
    }

    const SessionState& s = sesion();
    const acervo::ResultadoVolcado volcado = acervo::volcarExportacion(
        {ObtenerRutaBinPostgres(), s.ServidorSesion, s.PuertoSesion, s.UsuarioSesion, s.ClaveSesion, archivo});
    EXPECT_TRUE(volcado.ok()) << volcado.detalle.toStdString();
    EXPECT_TRUE(volcado.empacado);
    EXPECT_EQ(volcado.archivo, acervo::archivoEmpacado(archivo));
    escribir(archivo, miembro(volcado.archivo, QFileInfo(archivo).fileName()));
    return archivo;
}

// What the library's catalogue holds, table by table: the parts a refused or failed import must leave
// alone and a repeated one must change only where the file changed.
struct Catalogo {
    QString bibliotecas, fichas, ejemplares, noProcesados, etiquetas, palabras, detalles, autoridades, prestamos,
        matEspecial;

    static Catalogo leer() {
        Catalogo c;
        c.bibliotecas = filas(
            QStringLiteral("SELECT idbiblioteca, nombre, nombrecorto FROM catalogos.bibliotecas ORDER BY 1;\n"
                           "SELECT idescuela, nombre, nombrecorto, idbiblioteca FROM catalogos.escuelas ORDER BY 1;"));
        c.fichas = filas(QStringLiteral("SELECT idficha, ficha_no, tipoficha, estatus, idholding, titulo, autor FROM "
                                        "analisis.fichas ORDER BY idficha"));
        c.ejemplares = filas(QStringLiteral("SELECT idejemplar, idficha, ficha_no, no_adqui, idescuela, idcoleccion, "
                                            "accesible, esmatcomp FROM analisis.ejemplares WHERE ficha_no <> -1234 "
                                            "ORDER BY no_adqui"));
        c.noProcesados = filas(QStringLiteral(
            "SELECT no_adqui, idficha FROM analisis.ejemplares WHERE ficha_no = -1234 ORDER BY no_adqui"));
        c.etiquetas = filas(QStringLiteral("SELECT idregistro, idficha, numetiqueta, subcampo, jerarquia, posicion, "
                                           "contenido FROM analisis.etiquetasmarc ORDER BY idregistro"));
        c.palabras = filas(QStringLiteral("SELECT * FROM indizados.palabras ORDER BY idpalabra"));
        c.detalles = filas(QStringLiteral("SELECT numadqui, idficha, idescuela, idenviodpi, idrecepciondpi, "
                                          "idrecepcionbib, fecharecepcionbib FROM analisis.ejemplaresdetallesdpi ORDER "
                                          "BY numadqui"));
        c.autoridades = filas(QStringLiteral("SELECT 'AU', * FROM catalogos.autoridades ORDER BY 2;\n"
                                             "SELECT 'RE', * FROM catalogos.referencias ORDER BY 2;"));
        c.prestamos = filas(QStringLiteral("SELECT 'P', * FROM prestamo.prestamos ORDER BY 2;\n"
                                           "SELECT 'R', * FROM prestamo.reservaciones ORDER BY 2;"));
        c.matEspecial =
            filas(QStringLiteral("SELECT no_adq, titulo, estado, f_captura, analista_capturo, f_fin, "
                                 "analista_fin FROM catalogos.mat_especial ORDER BY no_adq, idmatespecial"));
        return c;
    }
};

inline void esperarIgual(const Catalogo& a, const Catalogo& b) {
    EXPECT_EQ(a.bibliotecas, b.bibliotecas);
    EXPECT_EQ(a.fichas, b.fichas);
    EXPECT_EQ(a.ejemplares, b.ejemplares);
    EXPECT_EQ(a.noProcesados, b.noProcesados);
    EXPECT_EQ(a.etiquetas, b.etiquetas);
    EXPECT_EQ(a.palabras, b.palabras);
    EXPECT_EQ(a.detalles, b.detalles);
    EXPECT_EQ(a.autoridades, b.autoridades);
    EXPECT_EQ(a.prestamos, b.prestamos);
    EXPECT_EQ(a.matEspecial, b.matEspecial);
}

inline QString actAcervo() {
    return filas(QStringLiteral(
        "SELECT count(*) || ':' || coalesce(max(valor), '') FROM config_veliro.configuracion WHERE descripcion = "
        "'ACT_ACERVO'"));
}

inline QString tablasExportacion() {
    return filas(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'analisis' AND tablename LIKE "
                                "'zexporta\\_%'"));
}

inline const QString kNoProcesados = QStringLiteral(
    "Se detectó que 2 ejemplar(es) (L2-0004, L2-0042) del catálogo de ejemplares no procesados, está(n) incluído(s) en "
    "la actualización.\r\n\r\nDesea eliminarlo(s) automáticamente del catálogo de ejemplares no procesados?");

class Importacion : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(cluster().psql(fixture("importacion_biblioteca.sql") +
                                   QStringLiteral("\nINSERT INTO config_veliro.configuracion VALUES "
                                                  "('BIBLIO_ACTIVA', '2');\n"
                                                  "CREATE SCHEMA reportes;\n"
                                                  "CREATE TABLE reportes.plantillas (idplantilla serial, idmodulo "
                                                  "bigint, nombre character varying(255), plantilla text, version "
                                                  "smallint);\n")));
        ASSERT_TRUE(m_server->iniciarSesion());
        // As the login leaves it: the client tools are chosen by it.
        sesion().VersionServidor = cluster().scalar(QStringLiteral("SELECT version()")).left(14);
        // The merge script as the report templates hold it.
        int n = 0;
        QString error;
        ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, "
                                                    "version) VALUES (7, 'RESTAURA_ACERVO', ") +
                                         citarLiteral(recurso(QStringLiteral("restaura_acervo.sql"))) +
                                         QStringLiteral(", 1)"),
                                     n, error))
            << error.toStdString();
        crearCentral();
        m_archivo = exportar(m_dir.path(), kSello);
    }
    void TearDown() override {
        cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE);\nDROP DATABASE IF EXISTS %2 WITH "
                                      "(FORCE);")
                           .arg(kCentral, kBiblioteca),
                       nullptr, QStringLiteral("postgres"));
        m_server.reset();
    }

    // Chooses the file and presses "Importar acervo"; the boxes take the answers given, in order.
    void importar(frmRestaurarAcervo& w, const QString& archivo, std::initializer_list<MsgResult> respuestas) {
        m_dialogs.clear();
        m_dialogs.answer(archivo);
        for (MsgResult r : respuestas) {
            m_dialogs.answer(r);
        }
        click(w, "cmdBrowse");
        EXPECT_TRUE(hijo<QPushButton>(w, "cmdCargar")->isEnabled());
        click(w, "cmdCargar");
        EXPECT_TRUE(m_dialogs.allAnswered());
    }
    // Titles of the boxes shown after the file dialog.
    QStringList titulos() const {
        QStringList t;
        for (const ShownDialog& d : m_dialogs.shown()) {
            if (d.kind == QLatin1String("message")) {
                t << d.title;
            }
        }
        return t;
    }
    const ShownDialog& ultimo() const { return m_dialogs.shown().back(); }
    // Everything shown, for a failure's message.
    std::string mostrado() const { return m_dialogs.texts().join(QStringLiteral("\n---\n")).toStdString(); }

    std::unique_ptr<ServidorPreparado> m_server;
    ScriptedDialogs m_dialogs;
    TempDir m_dir;
    QString m_archivo;
};

} // namespace v7::test
