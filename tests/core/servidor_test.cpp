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
    // With or without the final separator: the same work files.
    for (const QString& rutaTemporal : {work.path(), work.path().chopped(1)}) {
        sesion().RutaTemporal = rutaTemporal;
        EXPECT_TRUE(EstadoServidor()) << rutaTemporal.toStdString();
        EXPECT_FALSE(QFile::exists(work.file(QStringLiteral("v7.ServerStatus.bat"))));
        EXPECT_FALSE(QFile::exists(work.file(QStringLiteral("v7.ServerStatus.txt"))));
    }
    ASSERT_TRUE(c.stop());
    EXPECT_FALSE(EstadoServidor());
    ASSERT_TRUE(c.start());
    EXPECT_TRUE(EstadoServidor());
}

TEST_F(Servidor, EstadoServidorReadsBothLanguages) {
    // An installation whose pg_ctl says what a table row asks and records what it was given.
    TempDir inst;
    ASSERT_TRUE(QDir().mkpath(inst.file(QStringLiteral("bin"))));
    ASSERT_TRUE(QDir().mkpath(inst.file(QStringLiteral("data"))));
    const QString pgCtl = inst.file(QStringLiteral("bin/pg_ctl"));
    const QString visto = inst.file(QStringLiteral("visto"));
    sesion().RutaPostgres = inst.path();
    sesion().RutaTemporal = work.path();
    struct Case {
        const char* salida;
        bool enEjecucion;
    };
    const Case cases[] = {
        {"pg_ctl: el servidor está en ejecución (PID: 4242)\n/usr/lib/postgresql/15/bin/postgres \"-D\" \"x\"", true},
        {"pg_ctl: server is running (PID: 4242)\n/usr/lib/postgresql/15/bin/postgres", true},
        {"pg_ctl: no server running", false},
        {"pg_ctl: no hay servidor en ejecución", false},
        {"", false},
    };
    for (const Case& k : cases) {
        QFile f(pgCtl);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s|%s|%s' \"$PGDATA\" \"$LC_ALL\" \"$*\" > '" + QFile::encodeName(visto) +
                "'\ncat <<'EOF'\n" + QByteArray(k.salida) + "\nEOF\nexit 3\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(EstadoServidor(), k.enEjecucion) << k.salida;
        QFile v(visto);
        ASSERT_TRUE(v.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(v.readAll()), inst.file(QStringLiteral("data/")) + QStringLiteral("|C|status"));
    }
}

TEST_F(Servidor, EstadoServidorShowsWhyItCouldNotAsk) {
    sesion().RutaPostgres = PgCluster::instance().installFolder();
    sesion().RutaTemporal = work.file(QStringLiteral("missing"));
    test::ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    EXPECT_FALSE(EstadoServidor());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("Ocurrió el error no. 76\r\n")));
    EXPECT_TRUE(dialogs.shown()[0].text.endsWith(QStringLiteral("v7.ServerStatus.bat\r\n[Rutina] EstadoServidor")));
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
