#include "tests/support/v7_fixture.h"

#include "core/instalacion.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/keystore.h"
#include "platform/paths.h"
#include "tests/support/pg_cluster.h"

#include <QDir>

#include <gtest/gtest.h>

namespace v7::test {

namespace {

QString literal(const QString& s) {
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

} // namespace

QString conectarSesion() {
    reiniciarSesion();
    sesion().CadenaConexion = PgCluster::instance().connectionString();
    QString err;
    if (ConexionServer(sesion().CadenaConexion, err)) {
        return QString();
    }
    return err.isEmpty() ? QStringLiteral("no connection") : err;
}

ServidorPreparado::ServidorPreparado() {
    auto& c = PgCluster::instance();
    if (!c.isRunning()) {
        c.start();
    }
    c.freshDatabase();
    const QString roles = QStringLiteral(
        "DO $$BEGIN\n"
        "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname='v7_super') THEN CREATE ROLE v7_super WITH SUPERUSER; END "
        "IF;\n"
        "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname='v7_admin') THEN CREATE ROLE v7_admin; END IF;\n"
        "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname='v7_usuario1') THEN CREATE ROLE v7_usuario1; END IF;\n"
        "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname='v7_usuario2') THEN CREATE ROLE v7_usuario2; END IF;\n"
        "END$$;\n");
    QString logins;
    for (const auto& [l, grupo] :
         {std::pair{kJefe, "v7_super"}, std::pair{kAdmin, "v7_admin"}, std::pair{kOperador, "v7_usuario1"}}) {
        // The superuser attribute is not inherited from v7_super: the installation's administrator
        // login has it itself.
        logins += QStringLiteral("DROP ROLE IF EXISTS %1;\nCREATE ROLE %1 LOGIN %4 PASSWORD %2 IN ROLE %3;\n")
                      .arg(l.usuario, literal(l.clave), QString::fromLatin1(grupo),
                           QString::fromLatin1(l.usuario == kJefe.usuario ? "SUPERUSER" : ""));
        logins += QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES (%1, %1, 'x');\n")
                      .arg(literal(l.usuario));
    }
    const QString grants = QStringLiteral(
        "GRANT USAGE ON SCHEMA config_veliro, catalogos, prestamo TO v7_admin, v7_usuario1, v7_usuario2;\n"
        "GRANT ALL ON ALL TABLES IN SCHEMA config_veliro, catalogos, prestamo TO v7_admin;\n"
        "GRANT ALL ON ALL SEQUENCES IN SCHEMA config_veliro, catalogos, prestamo TO v7_admin;\n"
        "GRANT SELECT ON ALL TABLES IN SCHEMA config_veliro, catalogos, prestamo TO v7_usuario1, v7_usuario2;\n");
    const QString config =
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07'), "
                       "('RESPALDOCONFIG', 'Verdadero'), ('RESPALDOOK', 'Verdadero');\n");
    EXPECT_TRUE(c.psql(roles + logins + grants + config));

    m_oldTmp = qgetenv("TMPDIR");
    m_oldRegistry = qgetenv("V7_REGISTRY");
    m_oldHome = qgetenv("V7_HOME");
    qputenv("TMPDIR", QFile::encodeName(m_dir.path() + QStringLiteral("tmp")));
    QDir().mkpath(m_dir.path() + QStringLiteral("tmp"));
    qputenv("V7_REGISTRY", QFile::encodeName(registro()));
    QDir().mkpath(m_dir.path() + QStringLiteral("programa"));
    qputenv("V7_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("programa")));
    keystore::KeyStore ks(registro());
    const QString globals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals");
    EXPECT_FALSE(ks.write(globals, QStringLiteral("RutaPg"), c.installFolder()).isSet());
    EXPECT_FALSE(ks.write(globals, QStringLiteral("PuertoPg"), QString::number(c.port())).isSet());
    reiniciarSesion();
}

ServidorPreparado::~ServidorPreparado() {
    reiniciarSesion();
    auto restore = [](const char* name, const QByteArray& v) {
        if (v.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, v);
        }
    };
    restore("TMPDIR", m_oldTmp);
    restore("V7_REGISTRY", m_oldRegistry);
    restore("V7_HOME", m_oldHome);
}

bool ServidorPreparado::iniciarSesion(const Login& login) {
    auto& c = PgCluster::instance();
    auto& s = sesion();
    s.UsuarioBD = s.UsuarioSesion = s.UsuarioConexion = login.usuario;
    s.ClaveBD = s.ClaveSesion = s.ClaveConexion = login.clave;
    s.ServidorIP = s.ServidorSesion = s.ServidorConexion = c.host();
    s.PuertoBD = s.PuertoSesion = c.port();
    s.PuertoConexion = QString::number(c.port());
    s.RutaTemporal = paths::workFolder();
    s.VersionHerramienta = kVersionHerramienta;
    if (!BuscarInstalacionPostgres().ok) {
        return false;
    }
    s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString err;
    if (!ConexionServer(s.CadenaConexion, err)) {
        ADD_FAILURE() << err.toStdString();
        return false;
    }
    s.TipoUsuario = QStringLiteral("superusuario");
    s.RolSesion = QStringLiteral("superusuario");
    return true;
}

void PruebaConServidor::SetUp() {
    m_server = std::make_unique<ServidorPreparado>();
    setSalidaPrograma([this](int code) { m_salidas.push_back(code); });
}

void PruebaConServidor::TearDown() {
    setSalidaPrograma({});
    auto& c = PgCluster::instance();
    if (!c.isRunning()) {
        c.start();
    }
    m_server.reset();
}

} // namespace v7::test
