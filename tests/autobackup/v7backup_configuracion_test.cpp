// The settings file as V7backup reads it, the dated archive name and the installation discovery.
#include "autobackup/configuracion.h"
#include "autobackup/ejecucion.h"
#include "core/cifrado.h"
#include "platform/keystore.h"
#include "tests/support/temp_dir.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::autobackup;

namespace {

QByteArray b(const QString& s) {
    return cifrarConClave(s, false).toLatin1();
}

TEST(ConfiguracionRespaldo, ReadsFieldsFromTheirLines) {
    struct Caso {
        const char* nombre;
        QByteArray contenido;
        ConfiguracionRespaldo esperada;
    };
    const Caso casos[] = {
        {"as the schedule writes it",
         b("jefe") + "\r\n" + b("pa'ss}w;rd") + "\r\n192.168.1.10\r\n5432\r\n/resp/base.zip\r\n",
         {"jefe", "pa'ss}w;rd", "192.168.1.10", "5432", "/resp/base.zip"}},
        {"a host name without a dot stays plain; LF ends",
         b("u") + "\n" + b("p") + "\nlocalhost\n5432\n/resp/base.zip\n",
         {"u", "p", "localhost", "5432", "/resp/base.zip"}},
        {"upper-case hex that is no scrambled host stays plain",
         b("u") + "\r\n" + b("p") + "\r\nCAFE\r\n5432\r\n/r.zip\r\n",
         {"u", "p", "CAFE", "5432", "/r.zip"}},
        {"scrambled server, port and path are read back",
         b("u") + "\r\n" + b("p") + "\r\n" + b("db-1.example") + "\r\n" + b("5432") + "\r\n" + b("/resp/a.zip") +
             "\r\n",
         {"u", "p", "db-1.example", "5432", "/resp/a.zip"}},
        {"a port of five characters is plain",
         b("u") + "\r\n" + b("p") + "\r\n10.0.0.1\r\n54321\r\n/r.zip\r\n",
         {"u", "p", "10.0.0.1", "54321", "/r.zip"}},
        {"blank lines leave the field to the next line; a sixth line is ignored",
         b("u") + "\r\n\r\n" + b("p") + "\r\nh.x\r\n\r\n5432\r\n/r.zip\r\nextra\r\n",
         {"u", "p", "h.x", "5432", "/r.zip"}},
        {"a missing last line leaves the path empty",
         b("u") + "\r\n" + b("p") + "\r\nh.x\r\n5432\r\n",
         {"u", "p", "h.x", "5432", ""}},
        {"a Windows-1252 path",
         b("u") + "\r\n" + b("p") + "\r\nh.x\r\n5432\r\n/resp/a\xf1o.zip\r\n",
         {"u", "p", "h.x", "5432", QStringLiteral("/resp/a\u00F1o.zip")}},
    };
    test::TempDir dir;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const QString ruta = dir.file(QStringLiteral("v7.respaldo.dat"));
        QFile f(ruta);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.contenido);
        f.close();
        const LecturaConfiguracion l = leerConfiguracionRespaldo(ruta);
        ASSERT_EQ(l.estado, EstadoLectura::Leida);
        EXPECT_EQ(l.campos.usuario, c.esperada.usuario);
        EXPECT_EQ(l.campos.clave, c.esperada.clave);
        EXPECT_EQ(l.campos.servidor, c.esperada.servidor);
        EXPECT_EQ(l.campos.puerto, c.esperada.puerto);
        EXPECT_EQ(l.campos.ruta, c.esperada.ruta);
        EXPECT_EQ(l.campos.incompleta(), c.esperada.ruta.isEmpty());
    }
}

TEST(ConfiguracionRespaldo, MissingAndEmptyFilesAreToldApart) {
    test::TempDir dir;
    const QString ruta = dir.file(QStringLiteral("v7.respaldo.dat"));
    EXPECT_EQ(leerConfiguracionRespaldo(ruta).estado, EstadoLectura::NoExiste);
    EXPECT_EQ(leerConfiguracionRespaldo(ruta).falla.numero, 53);
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(leerConfiguracionRespaldo(ruta).estado, EstadoLectura::Vacia);
}

TEST(ConfiguracionRespaldo, PortsUpTo65535) {
    const struct {
        const char* texto;
        std::optional<int> puerto;
        qint64 numero;
    } casos[] = {
        {"5432", 5432, 0},          {"40000", 40000, 0},    {"65535", 65535, 0},    {" 54321 ", 54321, 0},
        {"65536", std::nullopt, 6}, {"0", std::nullopt, 6}, {"", std::nullopt, 13}, {"54a", std::nullopt, 13},
    };
    for (const auto& c : casos) {
        Falla f;
        EXPECT_EQ(puertoConfigurado(QString::fromLatin1(c.texto), f), c.puerto) << c.texto;
        EXPECT_EQ(f.numero, c.numero) << c.texto;
    }
}

TEST(ConfiguracionRespaldo, DateGoesBeforeTheFinalZipOnly) {
    const QDate d(2024, 1, 31);
    const struct {
        const char* ruta;
        const char* fechada;
    } casos[] = {
        {"/resp/base.zip", "/resp/base_20240131.zip"},
        {"/resp/BASE.ZIP", "/resp/BASE_20240131.ZIP"},
        {"/a.zip/b.zip", "/a.zip/b_20240131.zip"},
        {"/resp/base.zip.old", "/resp/base.zip.old"},
        {"/resp/base", "/resp/base"},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(rutaFechada(QString::fromLatin1(c.ruta), d), QString::fromLatin1(c.fechada)) << c.ruta;
    }
}

// No value of the settings file can add or change an attribute of the connection string.
TEST(ConfiguracionRespaldo, ConnectionStringCarriesEveryValueWhole) {
    const QString inicio = QStringLiteral("DRIVER={PostgreSQL Unicode};");
    const struct {
        const char* servidor;
        const char* usuario;
        const char* esperado; // after inicio
    } casos[] = {
        {"localhost", "jefe", "SERVER=localhost;PORT=5432;DATABASE=veliro7;UID=jefe;PWD={a;b}}c}"},
        {"localhost", "ad;min", "SERVER=localhost;PORT=5432;DATABASE=veliro7;pqopt={user='ad;min'};PWD={a;b}}c}"},
        {"h;UID=postgres", "o'k}",
         "PORT=5432;DATABASE=veliro7;pqopt={host='h;UID=postgres' user='o\\'k}}'};PWD={a;b}}c}"},
        {"db-1", " jefe", "SERVER=db-1;PORT=5432;DATABASE=veliro7;pqopt={user=' jefe'};PWD={a;b}}c}"},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(cadenaConexion(QStringLiteral("PostgreSQL Unicode"), QString::fromUtf8(c.servidor), 5432,
                                 QString::fromUtf8(c.usuario), QStringLiteral("a;b}c"))
                      .toStdString(),
                  (inicio + QString::fromUtf8(c.esperado)).toStdString());
    }
}

class Descubrimiento : public ::testing::Test {
protected:
    void SetUp() override {
        m_anterior = qgetenv("V7_REGISTRY");
        m_home = qgetenv("V7_HOME");
        qputenv("V7_REGISTRY", QFile::encodeName(m_dir.file(QStringLiteral("registry.ini"))));
        qputenv("V7_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("programa")));
    }
    void TearDown() override {
        qputenv("V7_REGISTRY", m_anterior);
        m_home.isNull() ? qunsetenv("V7_HOME") : qputenv("V7_HOME", m_home);
    }
    void valor(const QString& ruta, const QString& dato) {
        QString clave, nombre;
        ASSERT_TRUE(keystore::splitValuePath(ruta, clave, nombre));
        ASSERT_FALSE(keystore::KeyStore().write(clave, nombre, dato).isSet());
    }
    const QString kPg = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\");
    const QString kGlobals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\");
    test::TempDir m_dir;
    QByteArray m_anterior, m_home;
};

TEST_F(Descubrimiento, NothingRegisteredGivesTheProgramsOwnFolder) {
    Falla f;
    const auto i = instalacionesRegistradas(f);
    ASSERT_TRUE(i.has_value());
    EXPECT_TRUE(i->candidatos.isEmpty());
    EXPECT_EQ(rutaPostgresPara(*i, 5432), m_dir.path() + QStringLiteral("programa/SGBDR/"));
}

TEST_F(Descubrimiento, FirstInstallationOnThePortWinsElseRutaPg) {
    valor(kPg + QStringLiteral("Installations\\postgresql-8.4\\Base Directory"), QStringLiteral("/opt/pg84"));
    valor(kPg + QStringLiteral("Services\\postgresql-8.4\\Port"), QStringLiteral("5432"));
    valor(kPg + QStringLiteral("Installations\\postgresql-9.0\\Base Directory"), QStringLiteral("/opt/pg90/"));
    valor(kPg + QStringLiteral("Services\\postgresql-9.0\\Port"), QStringLiteral("5432"));
    valor(kGlobals + QStringLiteral("RutaPg"), QStringLiteral("/opt/veliro"));
    valor(kGlobals + QStringLiteral("PuertoPg"), QStringLiteral("5437"));
    Falla f;
    const auto i = instalacionesRegistradas(f);
    ASSERT_TRUE(i.has_value()) << f.descripcion.toStdString();
    EXPECT_EQ(i->candidatos.size(), 3);
    EXPECT_EQ(rutaPostgresPara(*i, 5432), QStringLiteral("/opt/pg84/"));
    EXPECT_EQ(rutaPostgresPara(*i, 5437), QStringLiteral("/opt/veliro/"));
    EXPECT_EQ(rutaPostgresPara(*i, 6000), QStringLiteral("/opt/veliro/"));
}

TEST_F(Descubrimiento, AnInstallationWithoutAPortIsAConversionError) {
    valor(kPg + QStringLiteral("Installations\\postgresql-8.3\\Base Directory"), QStringLiteral("/opt/pg83"));
    Falla f;
    EXPECT_FALSE(instalacionesRegistradas(f).has_value());
    EXPECT_EQ(f.numero, kErrorTipos);
}

} // namespace
