// The catalogue editor's routines: the edit-row rules drawn from the column metadata, the statements,
// the bound insert on the test cluster (what is stored is what was typed) and the sorting of failures.
#include "catalogues/catalogo.h"
#include "core/session.h"
#include "platform/db.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

#include <limits>

using namespace v7;
using namespace v7::test;

TEST(ReglasCampo, TypeDecidesLengthWidthAndKeyFilter) {
    struct Caso {
        const char* tipo;
        std::optional<qint64> longitud;
        int limite;
        int ancho;
        bool numerico, soloEnteros, fecha;
    };
    const Caso casos[] = {
        {"integer", std::nullopt, 9, 1360, true, true, false},
        {"character varying", 60, 60, 5260, false, false, false},
        {"character varying", 34, 34, 5110, false, false, false},
        {"character varying", 35, 35, 5260, false, false, false},
        {"character varying", std::nullopt, 0, 5260, false, false, false}, // no declared length: no limit
        {"character varying", 100000, 100000, 5260, false, false, false},
        {"character", 1, 1, 160, false, false, false},
        {"date", std::nullopt, 12, 1810, false, false, true},
        {"smallint", std::nullopt, 4, 610, true, true, false},
        {"bigint", std::nullopt, 18, 2710, true, true, false},
        {"numeric", std::nullopt, 6, 910, true, false, false},
        {"boolean", std::nullopt, 0, 5260, false, false, false},
        {"text", std::nullopt, 0, 5260, false, false, false},
    };
    for (const Caso& c : casos) {
        ColumnaCatalogo col{QStringLiteral("x"), false, QString::fromLatin1(c.tipo), c.longitud};
        const ReglaCampo r = reglaCampo(col);
        SCOPED_TRACE(std::string(c.tipo) + " " + std::to_string(c.longitud.value_or(-1)));
        EXPECT_EQ(r.longitud, c.limite);
        EXPECT_EQ(anchoCaja(r.longitud), c.ancho);
        EXPECT_EQ(r.numerico, c.numerico);
        EXPECT_EQ(r.soloEnteros, c.soloEnteros);
        EXPECT_EQ(r.fecha, c.fecha);
    }
}

TEST(ReglasCampo, LabelsHiddenRowsScrollAndKeys) {
    EXPECT_EQ(etiquetaCampo(QStringLiteral("nombre_corto")), QStringLiteral("Nombre corto"));
    EXPECT_EQ(etiquetaCampo(QStringLiteral("correo")), QStringLiteral("Correo"));
    EXPECT_EQ(etiquetaCampo(QStringLiteral("idBiblio_x_y")), QStringLiteral("IdBiblio x y"));
    EXPECT_TRUE(campoOculto(QStringLiteral("analista")));
    EXPECT_TRUE(campoFoto(QStringLiteral("Foto")));
    EXPECT_FALSE(campoFoto(QStringLiteral("fotos")));

    // Half the rows (halves to even) plus one, or as far as the last row needs.
    EXPECT_EQ(maximoDesplazamiento(9, 7), 5);
    EXPECT_EQ(maximoDesplazamiento(13, 7), 7);
    EXPECT_EQ(maximoDesplazamiento(11, 7), 7); // 5.5 goes to 6
    EXPECT_EQ(maximoDesplazamiento(40, 7), 33);

    for (QChar c : QStringLiteral("0123456789\b")) {
        EXPECT_TRUE(caracterPermitido(c, true, true));
        EXPECT_TRUE(caracterPermitido(c, true, false));
    }
    EXPECT_TRUE(caracterPermitido(QLatin1Char('.'), true, false));
    for (QChar c : QStringLiteral(".-+ ae,")) {
        EXPECT_FALSE(caracterPermitido(c, true, true)) << QString(c).toStdString();
    }
    EXPECT_FALSE(caracterPermitido(QLatin1Char('-'), true, false));
    EXPECT_TRUE(caracterPermitido(QLatin1Char('-'), false, false));

    EXPECT_EQ(celdaClave(QStringLiteral("7")), QString(9, QLatin1Char(' ')) + QLatin1Char('7'));
    EXPECT_EQ(celdaClave(std::nullopt), QString(10, QLatin1Char(' ')));
    // A longer key is shown whole: cut to ten it would read as another library's key.
    EXPECT_EQ(celdaClave(QStringLiteral("-1234567890")), QStringLiteral("-1234567890"));
}

TEST(ReglasCampo, NumbersAsTheStatementsAndChecksReadThem) {
    struct Caso {
        const char* texto;
        double valor;
        bool numerico;
    };
    const Caso casos[] = {{"100000", 100000, true}, {"100001", 100001, true}, {"  12abc", 12, false},
                          {"", 0, false},           {"abc", 0, false},        {"1.2.3", 1.2, false},
                          {"12.5", 12.5, true},     {"-4", -4, true},         {" 7 ", 7, true}};
    for (const Caso& c : casos) {
        EXPECT_DOUBLE_EQ(valorNumerico(QString::fromLatin1(c.texto)), c.valor) << c.texto;
        EXPECT_EQ(esNumerico(QString::fromLatin1(c.texto)), c.numerico) << c.texto;
    }
}

TEST(Sentencias, ModifyWritesOnlyTheChangedColumnsOfTheRowsOwnKey) {
    EXPECT_EQ(sentenciaModificar({{QStringLiteral("nombre"), QStringLiteral("A")},
                                  {QStringLiteral("nombrecorto"), QStringLiteral("B")},
                                  {QStringLiteral("director"), QStringLiteral("C")},
                                  {QStringLiteral("telefono"), QStringLiteral("D")},
                                  {QStringLiteral("correo"), QStringLiteral("E")}},
                                 QStringLiteral("12")),
              QStringLiteral("UPDATE catalogos.bibliotecas SET nombre= 'A', nombrecorto= 'B', director= 'C', "
                             "telefono= 'D', correo= 'E' WHERE idbiblioteca= 12"));
    // Only what changed; quotes doubled, a backslash kept as one whatever the server's string setting.
    EXPECT_EQ(sentenciaModificar({{QStringLiteral("nombre"), QStringLiteral(" O'Higgins ")},
                                  {QStringLiteral("correo"), QStringLiteral("a\\b")}},
                                 QStringLiteral("-1234567890")),
              QStringLiteral("UPDATE catalogos.bibliotecas SET nombre= 'O''Higgins', correo= E'a\\\\b' WHERE "
                             "idbiblioteca= -1234567890"));
    EXPECT_TRUE(sentenciaModificar({}, QStringLiteral("12")).isEmpty());
    // The key as the row holds it: eleven characters stay eleven, a key that is not a whole number is quoted.
    EXPECT_EQ(sentenciaBorrar(QStringLiteral("-1234567890")),
              QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE idbiblioteca = -1234567890"));
    EXPECT_EQ(sentenciaBorrar(QStringLiteral("7")), QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE "
                                                                   "idbiblioteca = 7"));
    EXPECT_EQ(literalClave(QStringLiteral("12.50")), QStringLiteral("'12.50'"));
    EXPECT_EQ(literalClave(QStringLiteral("1' OR '1'='1")), QStringLiteral("'1'' OR ''1''=''1'"));
}

TEST(Busqueda, CaseAsideAccentsCount) {
    struct Caso {
        const char* celda;
        const char* cadena;
        bool completa;
        bool hit;
    };
    const Caso casos[] = {
        {"Biblioteca Central", "bib", false, true},
        {"Biblioteca Central", "bib", true, false},
        {"BIB", "bib", true, true},
        {"BIBLIOTECA", "biblioteca", false, true},
        {"Teléfono", "telefono", false, false},
        {"         7", "7", false, true},
        {"         7", "7", true, false},
        {"         7", "         7", true, true},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(coincideCelda(QString::fromUtf8(c.celda), QString::fromUtf8(c.cadena), c.completa), c.hit)
            << c.celda << " / " << c.cadena << " / " << c.completa;
    }
}

TEST(Fallas, SortedByState) {
    EXPECT_EQ(clasificarFalla({QStringLiteral("23505"), 0, QStringLiteral("llave duplicada viola restricción")}),
              FallaEscritura::ClaveDuplicada);
    EXPECT_EQ(clasificarFalla({QStringLiteral("23503"), 0, QStringLiteral("viola la llave foránea")}),
              FallaEscritura::Referenciado);
    EXPECT_EQ(clasificarFalla({QString(), 0, QStringLiteral("ERROR: duplicate key violates unique constraint")}),
              FallaEscritura::ClaveDuplicada);
    EXPECT_EQ(clasificarFalla({QStringLiteral("23502"), 0, QStringLiteral("null value in column")}),
              FallaEscritura::Otra);
    EXPECT_EQ(clasificarFalla({QStringLiteral("08S01"), 0, QStringLiteral("lost")}), FallaEscritura::Otra);
}

// On the cluster: the columns of this schema only, and the bound insert.
class Registro : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("ALTER TABLE catalogos.bibliotecas ADD COLUMN fundacion date, ADD COLUMN acervo integer, "
                           "ADD COLUMN activa boolean, ADD COLUMN notas character varying;\n"
                           "INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre) VALUES (1, 'Central');\n"
                           "INSERT INTO catalogos.escuelas (nombre, idbiblioteca) VALUES ('Prepa', 1);\n"
                           "CREATE TABLE public.bibliotecas (otra text, idbiblioteca integer, nombre text);")));
        ASSERT_TRUE(m_server->iniciarSesion());
    }
    void TearDown() override { m_server.reset(); }

    static QVector<ColumnaCatalogo> columnas() {
        db::DbError e;
        auto rs = conexionPrincipal().query(consultaColumnas(), e);
        EXPECT_TRUE(rs) << e.description.toStdString();
        return rs ? leerColumnas(*rs) : QVector<ColumnaCatalogo>();
    }
    static QString fila(int id) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT format('%s|%s|%s|%s|%s|%s|%s|%s|%s|%s', idbiblioteca, nombre, nombrecorto, "
                           "director, telefono, correo, fundacion, acervo IS NULL, activa, notas) FROM "
                           "catalogos.bibliotecas WHERE idbiblioteca = ") +
            QString::number(id));
    }

    std::unique_ptr<ServidorPreparado> m_server;
};

TEST_F(Registro, ColumnsOfThisSchemaOnlyInTableOrder) {
    const auto c = columnas();
    QStringList nombres;
    for (const auto& col : c) {
        nombres << col.nombre + QLatin1Char(':') + col.tipo + QLatin1Char(':') +
                       QString::number(col.longitud.value_or(0)) + QLatin1Char(':') +
                       QLatin1String(col.requerido ? "NO" : "YES");
    }
    EXPECT_EQ(nombres.join(QLatin1Char(' ')),
              QStringLiteral("idbiblioteca:integer:0:NO nombre:character varying:60:NO nombrecorto:character "
                             "varying:20:YES director:character varying:60:YES telefono:character varying:20:YES "
                             "correo:character varying:60:YES fundacion:date:0:YES acervo:integer:0:YES "
                             "activa:boolean:0:YES notas:character varying:0:YES"));
}

TEST_F(Registro, StoresWhatWasTypedAndNullForEmptyNonText) {
    const auto c = columnas();
    ASSERT_EQ(c.size(), 10);
    auto valores = [](const QStringList& textos, QDate fecha) {
        QVector<ValorCampo> v;
        for (int k = 0; k < textos.size(); ++k) {
            v.push_back(k == 6 ? ValorCampo{true, fecha, {}} : ValorCampo{false, {}, textos[k]});
        }
        return v;
    };
    db::DbError e;
    ASSERT_TRUE(
        InsertarRegistro(c,
                         valores({QStringLiteral("20"), QStringLiteral(" O'Higgins Ñuñoa "), QStringLiteral("a\\b"),
                                  QStringLiteral("José \"Pepe\""), QString(), QStringLiteral("x@y.mx"), QString(),
                                  QStringLiteral("  "), QString(), QStringLiteral("?;DROP TABLE x")},
                                 QDate(2024, 2, 29)),
                         e))
        << e.description.toStdString();
    EXPECT_EQ(fila(20), QStringLiteral("20|O'Higgins Ñuñoa|a\\b|José \"Pepe\"||x@y.mx|2024-02-29|t||?;DROP TABLE x"));
    EXPECT_EQ(PgCluster::instance().scalar(
                  QStringLiteral("SELECT format('%s %s %s', telefono = '', activa IS NULL, fundacion IS NULL) FROM "
                                 "catalogos.bibliotecas WHERE idbiblioteca = 20")),
              QStringLiteral("t t f"));

    // Written through the bound statement, a date row without a date is NULL and a boolean takes its text.
    ASSERT_TRUE(InsertarRegistro(c,
                                 valores({QStringLiteral("21"),
                                          QStringLiteral("B"),
                                          {},
                                          {},
                                          {},
                                          {},
                                          {},
                                          QStringLiteral("5"),
                                          QStringLiteral("true"),
                                          {}},
                                         QDate()),
                                 e))
        << e.description.toStdString();
    EXPECT_EQ(fila(21), QStringLiteral("21|B||||||f|t|"));

    // The key again: the server's state tells the duplicate; a delete of a referenced row is told apart.
    EXPECT_FALSE(InsertarRegistro(
        c, valores({QStringLiteral("20"), QStringLiteral("C"), {}, {}, {}, {}, {}, {}, {}, {}}, QDate()), e));
    EXPECT_EQ(clasificarFalla(e), FallaEscritura::ClaveDuplicada) << e.sqlState.toStdString();
    qint64 n = 0;
    EXPECT_FALSE(conexionPrincipal().execute(sentenciaBorrar(QStringLiteral("1")), n, e));
    EXPECT_EQ(clasificarFalla(e), FallaEscritura::Referenciado) << e.sqlState.toStdString();
    EXPECT_TRUE(conexionPrincipal().execute(sentenciaBorrar(QStringLiteral("21")), n, e));
    EXPECT_EQ(n, 1);
    EXPECT_TRUE(conexionPrincipal().execute(sentenciaBorrar(QStringLiteral("21")), n, e));
    EXPECT_EQ(n, 0);
    // A value the column cannot take is the server's error, not a stored guess.
    EXPECT_FALSE(InsertarRegistro(
        c, valores({QStringLiteral("1.2.3"), QStringLiteral("C"), {}, {}, {}, {}, {}, {}, {}, {}}, QDate()), e));
    EXPECT_EQ(e.sqlState, QStringLiteral("22P02"));
    EXPECT_EQ(clasificarFalla(e), FallaEscritura::Otra);
}
