// V7backup's SQL layer and support routines on the test cluster.
#include "autobackup/basedatos.h"
#include "autobackup/ejecucion.h"
#include "autobackup/soporte.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "platform/notify.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QDate>
#include <QDir>

#include <gtest/gtest.h>

// V7Tools's routines of the same names stay out of sight: these tests are of V7backup's own.
using namespace v7::autobackup;
using v7::cifrarConClave;
using v7::MsgButtons;
using v7::MsgIcon;
using v7::MsgResult;
using v7::Notifier;
using v7::reiniciarSesion;
using v7::sesion;
using v7::setNotifier;
namespace test = v7::test;
using v7::test::PgCluster;

namespace {

// Records every notice and answers at once.
class Avisos final : public Notifier {
public:
    Avisos() { setNotifier(this); }
    ~Avisos() override { setNotifier(nullptr); }
    MsgResult notify(MsgIcon, const QString& text, MsgButtons buttons, const QString& title) override {
        titulos << title;
        textos << text;
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
    QStringList titulos, textos;
};

class BaseRespaldo : public ::testing::Test {
protected:
    void SetUp() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            ASSERT_TRUE(c.start());
        }
        c.freshDatabase();
        reiniciarSesion();
        sesion().CadenaConexion =
            c.connectionString(QString(), QString(), QStringLiteral("veliro7"), QStringLiteral("PostgreSQL Unicode"));
        QString err;
        ASSERT_TRUE(conServidor(sesion().CadenaConexion, err)) << err.toStdString();
    }
    void TearDown() override { reiniciarSesion(); }

    static QString valor(const QString& clave) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = '") + clave +
            QLatin1Char('\''));
    }
    static int filas(const QString& clave) {
        return PgCluster::instance()
            .scalar(QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE descripcion = '") + clave +
                    QLatin1Char('\''))
            .toInt();
    }
    static void terminarSesionesDelServidor() {
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = 'veliro7' AND pid <> "
            "pg_backend_pid();")));
    }
};

TEST_F(BaseRespaldo, LiteralsStoreTheTextItself) {
    const struct {
        QVariant valor;
        int tipo;
        const char* literal;
    } casos[] = {
        {QStringLiteral("O'Brien?"), kTexto, "E'O''Brien\\?'"},
        {QStringLiteral("C:\\x"), kTexto, "E'C:\\\\x'"},
        {QStringLiteral("  plano "), kTexto, "'plano'"},
        {QStringLiteral(""), kTexto, "''"},
        {QString(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")), kTexto, "'ab'"},
        {QVariant(), kBooleano, "NULL"},
        {true, kBooleano, "TRUE"},
        {QStringLiteral("Falso"), kBooleano, "FALSE"},
        {QStringLiteral("12"), kNumero0, "12"},
        {QStringLiteral(""), kNumero1, "NULL"},
        {QStringLiteral("doce"), kNumero0, "NULL"},
        {QDate(2024, 1, 31), kFecha, "'2024-01-31 00:00:00'"},
        {QStringLiteral("2024-01-31"), kFecha, "NULL"},
        {QStringLiteral("x"), 5, ""},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(FormatearValorSQL(c.valor, c.tipo), QString::fromLatin1(c.literal)) << c.literal;
    }
    // Through the driver, on a server with standard_conforming_strings on.
    for (const QString& texto : {QStringLiteral("O'Brien?"), QStringLiteral("C:\\x\\?y")}) {
        int n = 0;
        QString err;
        auto rs = ExecuteSQLrs(QStringLiteral("SELECT ") + FormatearValorSQL(texto, kTexto) + QStringLiteral(" AS v"),
                               n, err);
        ASSERT_NE(rs, nullptr) << err.toStdString();
        EXPECT_EQ(rs->text(0), texto);
    }
}

TEST_F(BaseRespaldo, ErrorTextsOfActionAndQuery) {
    int rows = 7;
    QString err;
    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("  "), rows, err));
    EXPECT_EQ(rows, 7);
    EXPECT_EQ(err, QStringLiteral("sentencia SQL no proporcionada"));

    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("UPDATE no_hay SET a = 1"), rows, err));
    EXPECT_EQ(rows, -1);
    QStringList l = err.split(QStringLiteral("\r\n"));
    ASSERT_EQ(l.size(), 3);
    EXPECT_TRUE(l[0].startsWith(QStringLiteral("Error: -2147467259")) &&
                !l[0].startsWith(QStringLiteral("Error: -2147467259 ")))
        << l[0].toStdString();
    EXPECT_EQ(l[1], QStringLiteral("[Source]: public function ExecuteSQLaction"));
    EXPECT_EQ(l[2], QStringLiteral("[cadSQL]:UPDATE no_hay SET a = 1"));

    int count = 3;
    EXPECT_EQ(ExecuteSQLrs(QStringLiteral("SELECT * FROM no_hay"), count, err), nullptr);
    EXPECT_EQ(count, -1);
    l = err.split(QStringLiteral("\r\n"));
    ASSERT_EQ(l.size(), 3);
    EXPECT_TRUE(l[0].startsWith(QStringLiteral("Error: -2147467259 "))) << l[0].toStdString();
    EXPECT_EQ(l[1], QStringLiteral("[Source]: public function ExecuteSQLrs"));

    auto rs = ExecuteSQLrs(QStringLiteral("SELECT tabla FROM config_veliro.control"), count, err,
                           QStringLiteral("FROM config_veliro.control WHERE tabla LIKE 'prestamo%'"));
    ASSERT_NE(rs, nullptr) << err.toStdString();
    EXPECT_EQ(count, 2);
    rs = ExecuteSQLrs(QStringLiteral("SELECT tabla FROM config_veliro.control"), count, err);
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(count, 3);
}

TEST_F(BaseRespaldo, ALostConnectionIsReopenedWithTheRunsStringOnce) {
    int rows = 0;
    QString err;
    terminarSesionesDelServidor();
    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("UPDATE config_veliro.control SET registros = 1"), rows, err))
        << err.toStdString();
    EXPECT_EQ(rows, 3);

    // A statement of a transaction that died is not run again on the new connection.
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("BEGIN;"), rows, err));
    terminarSesionesDelServidor();
    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("UPDATE config_veliro.control SET registros = 2"), rows, err));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT max(registros) FROM config_veliro.control")),
              QStringLiteral("1"));
    EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());

    // Without the string the run opened with there is nothing to reopen.
    sesion().CadenaConexion.clear();
    terminarSesionesDelServidor();
    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("SELECT 1"), rows, err));
    EXPECT_TRUE(err.startsWith(QStringLiteral("Ocurrió el error: "))) << err.toStdString();
}

TEST_F(BaseRespaldo, AServerThatCannotBeReachedIsToldWithoutWaiting) {
    Avisos avisos;
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.stop());
    int rows = 0;
    QString err;
    const bool ok = ExecuteSQLaction(QStringLiteral("SELECT 1"), rows, err);
    ASSERT_TRUE(c.start());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Ocurrió el error: "))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("PWD=<redacted>"))) << err.toStdString();
    EXPECT_FALSE(err.contains(c.password()));
    EXPECT_EQ(avisos.titulos,
              (QStringList{QStringLiteral("Error de conexión con el servidor"), QStringLiteral("Salir?")}));
    EXPECT_FALSE(sesion().ConexionPrincipal);
}

// A user of the settings file logs in as that user, whatever it holds: "ad;min" is not "ad".
TEST_F(BaseRespaldo, TheConfiguredUserLogsInAsItself) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("DROP ROLE IF EXISTS \"ad;min\", ad; CREATE ROLE ad LOGIN PASSWORD 'x';"
                                      "CREATE ROLE \"ad;min\" LOGIN PASSWORD 'p;w}d';")));
    QString err;
    ASSERT_TRUE(conServidor(cadenaConexion(QStringLiteral("PostgreSQL Unicode"), c.host(), c.port(),
                                           QStringLiteral("ad;min"), QStringLiteral("p;w}d")),
                            err))
        << err.toStdString();
    int n = 0;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT session_user"), n, err);
    ASSERT_NE(rs, nullptr) << err.toStdString();
    EXPECT_EQ(rs->text(0), QStringLiteral("ad;min"));
    rs.reset();
    sesion().ConexionPrincipal.reset();
    ASSERT_TRUE(c.psql(QStringLiteral("DROP ROLE \"ad;min\", ad;")));
}

TEST_F(BaseRespaldo, ConfigurationRowsAreUpdatedOrInserted) {
    QString err;
    EXPECT_TRUE(GuardarConfiguracion(QStringLiteral(" C:\\x "), QStringLiteral("K"), &err)) << err.toStdString();
    EXPECT_EQ(valor(QStringLiteral("K")), QStringLiteral("C:\\x"));
    EXPECT_TRUE(GuardarConfiguracion(QStringLiteral("it's"), QStringLiteral("K")));
    EXPECT_EQ(valor(QStringLiteral("K")), QStringLiteral("it's"));
    EXPECT_EQ(filas(QStringLiteral("K")), 1);

    sesion().ConexionPrincipal->close();
    EXPECT_FALSE(GuardarConfiguracion(QStringLiteral("v"), QStringLiteral("K2")));
    EXPECT_EQ(filas(QStringLiteral("K2")), 0);
}

TEST_F(BaseRespaldo, VersionGate) {
    const QString clave = QStringLiteral("VER_V7BACKUP");
    const QString nuestra = QStringLiteral("R1.00 - 2017/10/09");
    const struct {
        const char* guardada; // nullptr: no row
        bool pasa;
        const char* texto;
        const char* despues;
    } casos[] = {
        {nullptr, true, "No existia  la información de versión del Modulo. Se actualizara la version del Módulo",
         "R1.00 - 2017/10/09"},
        {"R1.00 - 2017/10/09", true, "", "R1.00 - 2017/10/09"},
        {"R0.90 - 2016/01/15", true, "", "R1.00 - 2017/10/09"},
        {"R1.00 - 2017/10/9", false,
         "La versión del Módulo actual es obsoleta. Es necesario actualizar su módulo de VELIRO7.",
         "R1.00 - 2017/10/9"},
        {"R1.10 - 2019/02/01", false,
         "La versión del Módulo actual es obsoleta. Es necesario actualizar su módulo de VELIRO7.",
         "R1.10 - 2019/02/01"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.guardada ? c.guardada : "no row");
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DELETE FROM config_veliro.configuracion")));
        if (c.guardada) {
            ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('") +
                                                   clave + QStringLiteral("', '") + QLatin1String(c.guardada) +
                                                   QStringLiteral("')")));
        }
        QString texto, guardada = QStringLiteral("stale");
        EXPECT_EQ(ValidarVersionModulo(clave, nuestra, texto, guardada), c.pasa);
        EXPECT_EQ(texto, QString::fromUtf8(c.texto));
        EXPECT_EQ(guardada, c.guardada ? QString::fromLatin1(c.guardada) : QString());
        EXPECT_EQ(valor(clave), QString::fromLatin1(c.despues));
        EXPECT_EQ(filas(clave), 1);
    }
    QString texto, guardada;
    EXPECT_FALSE(ValidarVersionModulo(clave, QStringLiteral("R1.00"), texto, guardada));
    EXPECT_EQ(texto, QStringLiteral("Alguno de los parámetros para la validación no es correcto"));
}

TEST_F(BaseRespaldo, ScramblerKeyFollowsTheToolsVersion) {
    const struct {
        const char* version; // nullptr: no row
        std::optional<bool> claveA;
    } casos[] = {
        {"R1.01 - 2018/09/07", false}, {"R1.00 - 2014/03/11", true},        {"R1.00 - 2014/03/12", false},
        {nullptr, std::nullopt},       {"R1.01 - sin fecha", std::nullopt},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.version ? c.version : "no row");
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DELETE FROM config_veliro.configuracion")));
        if (c.version) {
            ASSERT_TRUE(PgCluster::instance().psql(
                QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', '") +
                QLatin1String(c.version) + QStringLiteral("')")));
        }
        Falla f;
        const auto cifrado = CifrarCadena(QStringLiteral("abc"), f);
        if (c.claveA) {
            ASSERT_TRUE(cifrado.has_value()) << f.descripcion.toStdString();
            EXPECT_EQ(*cifrado, cifrarConClave(QStringLiteral("abc"), *c.claveA));
        } else {
            EXPECT_FALSE(cifrado.has_value());
            EXPECT_EQ(f.numero, kErrorTipos);
        }
    }
    // Without the configuration table there is no version to ask: key A.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP TABLE config_veliro.configuracion")));
    Falla f;
    EXPECT_EQ(CifrarCadena(QStringLiteral("abc"), f), cifrarConClave(QStringLiteral("abc"), true));
    EXPECT_EQ(DescifrarCadena(cifrarConClave(QStringLiteral("a'b}c"), false)), QStringLiteral("a'b}c"));
}

TEST(LeerRegistroRespaldo, AbsentValuesAreSilentUnreadableStoresAreTold) {
    test::TempDir dir;
    const QByteArray anterior = qgetenv("V7_REGISTRY");
    Avisos avisos;
    qputenv("V7_REGISTRY", QFile::encodeName(dir.file(QStringLiteral("registry.ini"))));
    EXPECT_EQ(LeerRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\RutaPg")), QString());
    EXPECT_TRUE(avisos.textos.isEmpty());
    // A folder where the store's file should be cannot be read.
    QDir().mkpath(dir.file(QStringLiteral("carpeta.ini")));
    qputenv("V7_REGISTRY", QFile::encodeName(dir.file(QStringLiteral("carpeta.ini"))));
    EXPECT_EQ(LeerRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\RutaPg")), QString());
    ASSERT_EQ(avisos.textos.size(), 1);
    EXPECT_TRUE(avisos.titulos[0].startsWith(QStringLiteral("Error"))) << avisos.titulos[0].toStdString();
    EXPECT_TRUE(avisos.textos[0].endsWith(QStringLiteral("\r\nRegRead, línea 1"))) << avisos.textos[0].toStdString();
    EXPECT_TRUE(avisos.textos[0].contains(dir.file(QStringLiteral("carpeta.ini")))) << avisos.textos[0].toStdString();
    qputenv("V7_REGISTRY", anterior);
}

} // namespace
