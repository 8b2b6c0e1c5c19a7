#include "core/config.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

class Db : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PgCluster::instance().freshDatabase(); }
    void SetUp() override {
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DELETE FROM config_veliro.configuracion;")));
    }
    void TearDown() override { reiniciarSesion(); }
    static QString stored(const QString& key) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT coalesce(valor, '<null>') FROM config_veliro.configuracion WHERE descripcion = '%1'")
                .arg(key));
    }
};

TEST(SqlLiterals, FormatsEachKind) {
    struct Case {
        QVariant value;
        int kind;
        const char* expected;
    };
    const Case cases[] = {
        {QStringLiteral("  O'Brien  "), kTipoTexto, "'O''Brien'"},
        {QStringLiteral(" C:\\Respaldos\\v7 "), kTipoTexto, "E'C:\\\\Respaldos\\\\v7'"},
        {QStringLiteral("   "), kTipoTexto, "NULL"},
        {QVariant(), kTipoTexto, "NULL"},
        {QVariant(), kTipoFecha, "NULL"},
        {QVariant(), kTipoBooleano, "NULL"},
        {QVariant(), 1, "NULL"},
        {QDateTime(QDate(2026, 3, 4), QTime(17, 5, 9)), kTipoFecha, "'2026-03-04 17:05:09'"},
        {QStringLiteral("2026-03-04"), kTipoFecha, "'2026-03-04 00:00:00'"},
        {QStringLiteral("mañana"), kTipoFecha, "NULL"},
        {true, kTipoBooleano, "TRUE"},
        {QStringLiteral("falso"), kTipoBooleano, "FALSE"},
        {QStringLiteral("quizá"), kTipoBooleano, "NULL"},
        {QStringLiteral("12"), 1, "12"},
        {1.5, 6, "1.5"},
        {QStringLiteral(" 2.25 "), 1, "2.25"},
        {QStringLiteral("ninguno"), 1, "NULL"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatearValorSQL(c.value, c.kind).toStdString(), c.expected) << c.value.toString().toStdString();
    }
    EXPECT_EQ(EscaparComillas(QStringLiteral("D'Artagnan")), QStringLiteral("D''Artagnan"));
    EXPECT_EQ(EscaparComillas(QString()), QString());
}

TEST(SqlLiterals, WindowsVersionNames) {
    EXPECT_EQ(nombreVersionWindows(2, 5, 1), QStringLiteral("Windows XP"));
    EXPECT_EQ(nombreVersionWindows(2, 6, 1), QStringLiteral("Windows Vista"));
    EXPECT_EQ(nombreVersionWindows(2, 6, 2), QStringLiteral("Windows Vista"));
    EXPECT_EQ(nombreVersionWindows(2, 10, 0), QString());
    EXPECT_EQ(nombreVersionWindows(1, 4, 90), QStringLiteral("Windows Me"));
    EXPECT_EQ(VersionWindows(), QString());
}

TEST_F(Db, BackslashPathLiteralIsStoredExactly) {
    const QString path = QStringLiteral("C:\\Archivos de programa\\V7\\");
    int rows = 0;
    QString err;
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('RUTA', ") +
                                     FormatearValorSQL(path, kTipoTexto) + QStringLiteral(")"),
                                 rows, err))
        << err.toStdString();
    EXPECT_EQ(stored(QStringLiteral("RUTA")), path);
}

TEST_F(Db, ExisteColumnaTestsTableOrColumn) {
    EXPECT_TRUE(ExisteColumna(QStringLiteral("catalogos"), QStringLiteral("analistas")));
    EXPECT_TRUE(
        ExisteColumna(QStringLiteral("catalogos"), QStringLiteral("analistas"), QStringLiteral("idbiblioteca")));
    EXPECT_FALSE(ExisteColumna(QStringLiteral("catalogos"), QStringLiteral("analistas"), QStringLiteral("nada")));
    EXPECT_FALSE(ExisteColumna(QStringLiteral("catalogos"), QStringLiteral("no_hay")));
}

TEST_F(Db, GuardarConfiguracionInsertsThenUpdates) {
    QString value = QStringLiteral("  primero  ");
    ASSERT_TRUE(GuardarConfiguracion(value, QStringLiteral("CLAVE_PRUEBA")));
    EXPECT_EQ(stored(QStringLiteral("CLAVE_PRUEBA")), QStringLiteral("primero"));
    value = QStringLiteral("l'école");
    ASSERT_TRUE(GuardarConfiguracion(value, QStringLiteral("CLAVE_PRUEBA")));
    EXPECT_EQ(stored(QStringLiteral("CLAVE_PRUEBA")), QStringLiteral("l'école"));
    EXPECT_EQ(PgCluster::instance().scalar(
                  QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE descripcion='CLAVE_PRUEBA'")),
              QStringLiteral("1"));

    value = QStringLiteral("\\\\servidor\\compartido");
    ASSERT_TRUE(GuardarConfiguracion(value, QStringLiteral("RUTA_RED")));
    EXPECT_EQ(value, QStringLiteral("\\\\\\\\servidor\\\\compartido")); // the caller's variable is doubled
    EXPECT_EQ(stored(QStringLiteral("RUTA_RED")), QStringLiteral("\\\\servidor\\compartido"));
}

TEST_F(Db, GuardarConfiguracionWritesNothingWithoutConnection) {
    sesion().ConexionPrincipal->close();
    QString value = QStringLiteral("x");
    EXPECT_FALSE(GuardarConfiguracion(value, QStringLiteral("CLAVE_PRUEBA")));
    EXPECT_EQ(stored(QStringLiteral("CLAVE_PRUEBA")), QString());
}

TEST_F(Db, ObtenerValorConfiguracionMissingNullAndFilterRemoved) {
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('A', 'uno'), ('B', NULL), ('C', 'tres');")));
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(kConsultaConfiguracion, total, err);
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(ObtenerValorConfiguracion(QStringLiteral("A"), *rs), QStringLiteral("uno"));
    EXPECT_EQ(ObtenerValorConfiguracion(QStringLiteral("B"), *rs), QString());
    EXPECT_EQ(ObtenerValorConfiguracion(QStringLiteral("ZZ"), *rs), QString());
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(ObtenerValorConfiguracion(QStringLiteral("C"), *rs), QStringLiteral("tres"));
}

TEST_F(Db, CargarConfiguracionFullSetAndMissingKeys) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "INSERT INTO config_veliro.configuracion VALUES "
        "('SABADOS','Verdadero'),('DOMINGOS','FALSO'),('ESTANTERIA','A1'),('VIGENCIA','30'),"
        "('CORREO','25æsmtp.biblio.mx'),('IMPRESORA','Laser'),('IMPRESORA_PORT','LPT1'),"
        "('TKT_PEXTERNO','true'),('TKT_PINTERNO','0'),('TKT_DEXTERNO','1'),('TKT_DINTERNO','FALSE'),"
        "('TKT_MULTA','VERDADERO'),('INSTITUCION','Universidad'),('BIBLIOTECA','Central'),('BIBLIO_ACTIVA','3'),"
        "('SERVER_MAIL','mail'),('MAIL_VENCIDOS','v'),('MAIL_MULTAS','m'),('WORD','Falso'),('WORD_REPORTE','2'),"
        "('WORD_FUENTE','Arial/12'),('ARCHIVOSCOMPARTIDOS','/srv/v7'),('AUTO_UPDATE','1'),('BETA_UPDATE',''),"
        "('DEPARTAMENTO','Sistemas'),('XMLETIQUETASLIBROS','x.xml'),('CATALOGOLIBROSDEFAULT','LIBROS');")));
    QString err;
    ASSERT_TRUE(CargarConfiguracion(&err)) << err.toStdString();
    const auto& c = configuracion();
    EXPECT_TRUE(c.Sabados);
    EXPECT_FALSE(c.Domingos);
    EXPECT_EQ(c.CorreoNumero, 25);
    EXPECT_EQ(c.CorreoTexto, QStringLiteral("smtp.biblio.mx"));
    EXPECT_TRUE(c.TktPExterno);
    EXPECT_FALSE(c.TktPInterno);
    EXPECT_TRUE(c.TktDExterno);
    EXPECT_TRUE(c.TktMulta);
    EXPECT_EQ(c.BiblioActiva, 3);
    EXPECT_EQ(c.WordReporte, 2);
    EXPECT_EQ(c.WordFuenteNombre, QStringLiteral("Arial"));
    EXPECT_EQ(c.WordFuenteTamano, 12);
    EXPECT_EQ(c.ArchivosCompartidos, QStringLiteral("/srv/v7"));
    EXPECT_EQ(c.AutoUpdate, QStringLiteral("1"));
    EXPECT_EQ(c.BetaUpdate, QStringLiteral(" "));
    EXPECT_EQ(c.Institucion2, QStringLiteral("Universidad"));
    EXPECT_EQ(c.CatalogoLibrosDefault, QStringLiteral("LIBROS"));

    // An absent key no longer makes the load fail: it takes its type's default.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion "
                                                          "IN ('SABADOS','BIBLIO_ACTIVA','WORD_FUENTE','CORREO');")));
    ASSERT_TRUE(CargarConfiguracion(&err)) << err.toStdString();
    EXPECT_FALSE(configuracion().Sabados);
    EXPECT_EQ(configuracion().BiblioActiva, 0);
    EXPECT_EQ(configuracion().WordFuenteTamano, 0);
}

TEST_F(Db, ServerDateReadsThroughTheSecondaryConnection) {
    // Before the collection transfer shares the connection, the secondary one is not open.
    bool ok = true;
    EXPECT_EQ(FechaServidor(false, &ok), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    EXPECT_FALSE(ok);
    sesion().ConexionSecundaria = sesion().ConexionPrincipal;
    const QString fecha = FechaServidor(false, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(fecha, PgCluster::instance().scalar(QStringLiteral("SELECT to_char(now(), 'YYYY-MM-DD')")));
    EXPECT_TRUE(FechaServidor(true, &ok).contains(QLatin1Char(':')));
}

TEST_F(Db, CargarConfiguracionWithoutConnectionFails) {
    sesion().ConexionPrincipal.reset();
    QString err;
    EXPECT_FALSE(CargarConfiguracion(&err));
    EXPECT_FALSE(err.isEmpty());
}

} // namespace
