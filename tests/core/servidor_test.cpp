#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;
using v7::test::TempDir;

namespace {

class Servidor : public ::testing::Test {
protected:
    void SetUp() override { reiniciarSesion(); }
    void TearDown() override { reiniciarSesion(); }
    TempDir work;
};

TEST_F(Servidor, VerificarConexionFollowsTheSharedConnection) {
    EXPECT_EQ(VerificarConexion(), QStringLiteral("No existe conexion con el servidor"));
    EXPECT_TRUE(sesion().ConexionPrincipal != nullptr); // created, closed
    auto& c = PgCluster::instance();
    QString err;
    ASSERT_TRUE(ConexionServer(c.connectionString(), err)) << err.toStdString();
    EXPECT_EQ(VerificarConexion(), QString());
    conexionPrincipal().close();
    EXPECT_EQ(VerificarConexion(), QStringLiteral("No existe conexion con el servidor"));
}

TEST_F(Servidor, EstadoServidorAsksPgCtlOfTheInstallation) {
    auto& c = PgCluster::instance();
    if (!c.isRunning()) {
        ASSERT_TRUE(c.start());
    }
    sesion().RutaPostgres = c.installFolder();
    sesion().RutaTemporal = work.path();
    EXPECT_TRUE(EstadoServidor());
    ASSERT_TRUE(c.stop());
    EXPECT_FALSE(EstadoServidor());
    ASSERT_TRUE(c.start());
    EXPECT_TRUE(EstadoServidor());
    // Asked through the service layer: no script or output file is left in the work folder.
    EXPECT_TRUE(QDir(work.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(Servidor, EstadoServidorGoesByPgCtlsExitStatus) {
    // An installation whose pg_ctl answers as a table row asks and records how it was called.
    TempDir inst;
    ASSERT_TRUE(QDir().mkpath(inst.file(QStringLiteral("bin"))));
    ASSERT_TRUE(QDir().mkpath(inst.file(QStringLiteral("data"))));
    QFile version(inst.file(QStringLiteral("data/PG_VERSION")));
    ASSERT_TRUE(version.open(QIODevice::WriteOnly));
    version.close();
    const QString pgCtl = inst.file(QStringLiteral("bin/pg_ctl"));
    const QString visto = inst.file(QStringLiteral("visto"));
    sesion().RutaPostgres = inst.path();
    sesion().RutaTemporal = work.path();
    struct Case {
        const char* salida;
        int codigo;
        bool enEjecucion;
        bool aviso;
    };
    const Case cases[] = {
        {"pg_ctl: el servidor está en ejecución (PID: 4242)", 0, true, false},
        {"pg_ctl: server is running (PID: 4242)", 0, true, false},
        {"pg_ctl: no server running", 3, false, false},
        {"pg_ctl: no hay servidor en ejecución", 3, false, false},
        {"pg_ctl: could not open PID file", 1, false, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.salida);
        QFile f(pgCtl);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s|%s' \"$LC_ALL\" \"$*\" > '" + QFile::encodeName(visto) + "'\necho '" +
                QByteArray(k.salida) + "'\nexit " + QByteArray::number(k.codigo) + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        test::ScriptedDialogs dialogs;
        if (k.aviso) {
            dialogs.answer(MsgResult::Ok);
        }
        EXPECT_EQ(EstadoServidor(), k.enEjecucion);
        ASSERT_EQ(dialogs.shown().size(), k.aviso ? 1u : 0u);
        if (k.aviso) {
            EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
            EXPECT_TRUE(dialogs.shown()[0].text.contains(QString::fromUtf8(k.salida)));
            EXPECT_TRUE(dialogs.shown()[0].text.endsWith(QStringLiteral("\r\n[Rutina] EstadoServidor")));
        }
        QFile v(visto);
        ASSERT_TRUE(v.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(v.readAll()), QStringLiteral("C|status -D ") + inst.file(QStringLiteral("data")));
    }
}

TEST_F(Servidor, EstadoServidorShowsWhyItCouldNotAsk) {
    sesion().RutaPostgres = work.file(QStringLiteral("sin-instalacion/"));
    sesion().RutaTemporal = work.path();
    test::ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    EXPECT_FALSE(EstadoServidor());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("No se encontró la carpeta de datos del servidor")))
        << dialogs.shown()[0].text.toStdString();
    EXPECT_TRUE(dialogs.shown()[0].text.endsWith(QStringLiteral("\r\n[Rutina] EstadoServidor")));
}

TEST_F(Servidor, ObtenerRutaBinPostgresMatchesTheMajorVersion) {
    struct Case {
        const char* servidor;
        QVector<QString> versiones;
        QVector<QString> rutas;
        const char* esperado;
    };
    const QString pg = QStringLiteral("PostgreSQL ");
    const Case cases[] = {
        {"PostgreSQL 9.0", {pg + "8.4", pg + "9.0"}, {"/pg84/", "/pg90/"}, "/pg90/bin"},
        // Same major version, another minor: still that installation.
        {"PostgreSQL 9.1", {pg + "8.4", pg + "9.0"}, {"/pg84/", "/pg90/"}, "/pg90/bin"},
        {"PostgreSQL 10.", {pg + "8.3", pg + "9.0"}, {"/pg83/", "/pg90/"}, ""},
        // A 12-character prefix ("PostgreSQL 1") would take the 10 installation for a 15 server.
        {"PostgreSQL 15.", {pg + "10", pg + "9.0"}, {"/pg10/", "/pg90/"}, ""},
        {"PostgreSQL 15.", {pg + "10", pg + "15", pg + "9.0"}, {"/pg10/", "/pg15", "/pg90/"}, "/pg15/bin"},
        // An exact name wins over a later same-major one; of two exact names the later wins.
        {"PostgreSQL 9.0", {pg + "9.0", pg + "9.1", pg + "9.0"}, {"/a/", "/b/", "/c/"}, "/c/bin"},
        {"PostgreSQL 9.4", {pg + "9.0", pg + "9.1"}, {"/a/", "/b/"}, "/b/bin"},
        {"", {pg + "9.0"}, {"/a/"}, ""},
    };
    for (const Case& c : cases) {
        sesion().VersionServidor = QString::fromUtf8(c.servidor);
        sesion().VersionesInstaladas = c.versiones;
        sesion().RutasInstaladas = c.rutas;
        EXPECT_EQ(ObtenerRutaBinPostgres(), QString::fromUtf8(c.esperado)) << c.servidor;
    }
}

TEST_F(Servidor, ObtenerRutaBinPostgresFindsTheTestServersTools) {
    auto& c = PgCluster::instance();
    if (!c.isRunning()) {
        ASSERT_TRUE(c.start());
    }
    sesion().VersionServidor = c.scalar(QStringLiteral("SELECT version()")).left(14);
    sesion().VersionesInstaladas = {QStringLiteral("PostgreSQL 9.0"), QStringLiteral("PostgreSQL 15")};
    sesion().RutasInstaladas = {QStringLiteral("/nowhere/"), c.installFolder()};
    const QString bin = ObtenerRutaBinPostgres();
    EXPECT_EQ(bin, c.installFolder() + QStringLiteral("bin"));
    EXPECT_TRUE(QFileInfo(bin + QStringLiteral("/pg_dump")).isExecutable());
}

TEST_F(Servidor, ObtenerRutaBinPostgresWithoutCandidatesWarns) {
    sesion().VersionServidor = QStringLiteral("PostgreSQL 15.");
    test::ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    EXPECT_EQ(ObtenerRutaBinPostgres(), QString());
    sesion().VersionesInstaladas = {QStringLiteral("PostgreSQL 15")};
    EXPECT_EQ(ObtenerRutaBinPostgres(), QString()); // no folder for the candidate
    ASSERT_EQ(dialogs.shown().size(), 2u);
    for (const auto& d : dialogs.shown()) {
        EXPECT_EQ(d.icon, MsgIcon::Warning);
        EXPECT_EQ(d.title, QStringLiteral("Error al ubicar utileria de respaldo del PostgreSQL"));
        EXPECT_TRUE(d.text.startsWith(QStringLiteral("No se pudo detectar la ruta de instalación del PostgreSQL\r\n"
                                                     "Ocurrió el error: 9(")))
            << d.text.toStdString();
    }
}

TEST(VersionMayor, NumericMajorOfVersionTexts) {
    EXPECT_EQ(versionMayor(QStringLiteral("PostgreSQL 9.0")), 9);
    EXPECT_EQ(versionMayor(QStringLiteral("PostgreSQL 15.18 on x86_64-pc-linux-gnu")), 15);
    EXPECT_EQ(versionMayor(QStringLiteral("PostgreSQL 10.")), 10);
    EXPECT_EQ(versionMayor(QStringLiteral("PostgreSQL")), -1);
}

} // namespace
