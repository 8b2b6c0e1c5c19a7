#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/inicio_sesion.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/process.h"
#include "platform/widgets_ui.h"
#include "tests/support/escuchas.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <thread>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

class Login : public PruebaConServidor {
protected:
    // Fills the four boxes.
    static void llenar(FrmIniciarSesion& w, const QString& usuario, const QString& clave,
                       const QString& puerto = QString::number(PgCluster::instance().port()),
                       const QString& servidor = QStringLiteral("127.0.0.1")) {
        w.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"))->setText(usuario);
        w.findChild<QLineEdit*>(QStringLiteral("TxtPassword"))->setText(clave);
        w.findChild<QLineEdit*>(QStringLiteral("TxtIpServidor"))->setText(servidor);
        w.findChild<QLineEdit*>(QStringLiteral("TxtPuerto"))->setText(puerto);
    }
    // Fills the four boxes and clicks Aceptar.
    void entrar(FrmIniciarSesion& w, const QString& usuario, const QString& clave,
                const QString& puerto = QString::number(PgCluster::instance().port()),
                const QString& servidor = QStringLiteral("127.0.0.1")) {
        llenar(w, usuario, clave, puerto, servidor);
        QTest::mouseClick(w.findChild<MyButton*>(QStringLiteral("BtnAceptar")), Qt::LeftButton);
    }

    ScriptedDialogs m_dialogs;
};

TEST_F(Login, GoodCredentialsFillTheSessionAndWriteTheSessionFile) {
    FrmIniciarSesion w;
    w.show();
    entrar(w, kJefe.usuario, kJefe.clave);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.tieneCatalogos());
    const auto& s = sesion();
    EXPECT_EQ(s.TipoUsuario, QStringLiteral("superusuario"));
    EXPECT_EQ(s.RolSesion, QStringLiteral("superusuario"));
    EXPECT_EQ(s.PuertoSesion, PgCluster::instance().port());
    EXPECT_TRUE(s.ConexionPrincipal && s.ConexionPrincipal->isOpen());
    EXPECT_EQ(s.RutaPostgres, PgCluster::instance().installFolder());
    EXPECT_TRUE(s.VersionServidor.startsWith(QStringLiteral("PostgreSQL 15")));
    // The product's own installation is named by its cluster's version, so its tools are chosen.
    EXPECT_EQ(ObtenerRutaBinPostgres(), PgCluster::instance().installFolder() + QStringLiteral("bin"));
    EXPECT_TRUE(s.CadenaConexion.startsWith(QStringLiteral("DRIVER={PostgreSQL ODBC Driver(UNICODE)};")));

    QFile f(rutaArchivoSesion());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray contenido = f.readAll();
    EXPECT_EQ(contenido,
              QStringLiteral("\"jefe\",\"127.0.0.1\",\"%1\",1\r\n").arg(PgCluster::instance().port()).toUtf8());
    EXPECT_FALSE(contenido.contains("pa'ss"));

    // The next window restores user, server and port from it.
    FrmIniciarSesion otra;
    EXPECT_EQ(otra.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"))->text(), QStringLiteral("jefe"));
    EXPECT_TRUE(otra.findChild<QCheckBox*>(QStringLiteral("chkOpciones"))->isChecked());
}

TEST_F(Login, AdministratorGetsItsClassWithoutTheSuperuserRole) {
    FrmIniciarSesion w;
    // Blanks around the address are not part of it.
    entrar(w, kAdmin.usuario, kAdmin.clave, QString::number(PgCluster::instance().port()),
           QStringLiteral(" 127.0.0.1 "));
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    EXPECT_EQ(sesion().TipoUsuario, QStringLiteral("administrador"));
    EXPECT_EQ(sesion().RolSesion, QString());
    EXPECT_EQ(sesion().ServidorConexion, QStringLiteral("127.0.0.1"));
}

// The user name reaches the server as typed and nothing more: the class is the one of the login the
// server authenticated.
TEST_F(Login, UserNamesAreNeverReadAsConnectionAttributes) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "CREATE ROLE \"adm;in\" LOGIN PASSWORD 'clave-adm' IN ROLE v7_admin;"
        "CREATE ROLE \"op1;\" LOGIN PASSWORD 'clave-op1' IN ROLE v7_usuario1;"
        "GRANT SELECT ON ALL TABLES IN SCHEMA config_veliro, catalogos TO v7_usuario1;"
        "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('adm;in', 'a', 'x'), ('op1;', 'o', 'x');")));
    const QString malaClave = QStringLiteral("El nombre de usuario o el password que proporcionó es incorrecto");
    const QString soloAdmin = QStringLiteral("Solo un usuario con permisos de Superusuario ó Administrador");
    struct Caso {
        QString usuario, clave;
        QString mensaje; // the start of the one box shown; empty: logged in without one
    };
    const Caso casos[] = {
        {QStringLiteral("adm;in"), QStringLiteral("clave-adm"), QString()},
        {QStringLiteral("op1;"), QStringLiteral("clave-op1"), soloAdmin},
        // An operator's own name with a ";" after it is another (missing) role, not the operator.
        {kOperador.usuario + QLatin1Char(';'), kOperador.clave, malaClave},
        {QStringLiteral("nadie;UID=") + kAdmin.usuario, kAdmin.clave, malaClave},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.usuario.toStdString());
        m_dialogs.clear();
        if (!c.mensaje.isEmpty()) {
            m_dialogs.answer(MsgResult::Ok);
        }
        FrmIniciarSesion w;
        entrar(w, c.usuario, c.clave);
        ASSERT_EQ(m_dialogs.shown().size(), c.mensaje.isEmpty() ? 0u : 1u)
            << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        if (c.mensaje.isEmpty()) {
            EXPECT_EQ(w.tag(), QStringLiteral("OK"));
            EXPECT_EQ(sesion().TipoUsuario, QStringLiteral("administrador"));
            int total = 0;
            QString err;
            auto rs = ExecuteSQLrs(QStringLiteral("SELECT session_user"), total, err);
            ASSERT_TRUE(rs) << err.toStdString();
            EXPECT_EQ(rs->text(0), c.usuario);
        } else {
            EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(c.mensaje)) << m_dialogs.shown()[0].text.toStdString();
            EXPECT_EQ(w.tag(), QString());
            EXPECT_FALSE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
        }
    }
}

TEST_F(Login, ALoginThatCannotSeeTheCataloguesIsToldSoAndOfferedNoRestore) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("CREATE ROLE lector LOGIN PASSWORD 'lector-clave';")));
    m_dialogs.answer(MsgResult::Ok);
    FrmIniciarSesion w;
    entrar(w, QStringLiteral("lector"), QStringLiteral("lector-clave"));
    ASSERT_EQ(m_dialogs.shown().size(), 1u) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(m_dialogs.shown()[0].text,
              QStringLiteral("El usuario \"lector\" no tiene permisos para consultar los catalogos de la base de "
                             "VELIRO7.\r\nLa base de datos existe; inicie la sesión con un usuario Superusuario ó "
                             "Administrador."));
    EXPECT_EQ(w.tag(), QString());
    EXPECT_FALSE(w.tieneCatalogos());
    EXPECT_FALSE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
    EXPECT_TRUE(w.findChild<MyButton*>(QStringLiteral("BtnAceptar"))->isEnabled());
    EXPECT_TRUE(m_salidas.empty());
}

TEST_F(Login, FailuresShowTheirMessageAndKeepTheWindow) {
    struct Case {
        const char* name;
        QString usuario, clave, puerto;
        QString begins;
    };
    const QString port = QString::number(PgCluster::instance().port());
    const Case cases[] = {
        {"empty box", kJefe.usuario, QString(), port,
         QStringLiteral("No se puede inciar la sesión debido a que faltan parámetros de conexión.")},
        {"wrong password", kJefe.usuario, QStringLiteral("mala"), port,
         QStringLiteral("El nombre de usuario o el password que proporcionó es incorrecto")},
        {"refused port", kJefe.usuario, kJefe.clave, QStringLiteral("1"),
         QStringLiteral("Por favor, verifique que el puerto de conexión 1 no este bloqueado")},
        {"port out of range", kJefe.usuario, kJefe.clave, QStringLiteral("70000"),
         QStringLiteral("Ocurrió el Error No. 6 en la línea 2")},
    };
    for (const auto& c : cases) {
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmIniciarSesion w;
        entrar(w, c.usuario, c.clave, c.puerto);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << c.name;
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(c.begins))
            << c.name << ": " << m_dialogs.shown()[0].text.toStdString();
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical) << c.name;
        EXPECT_EQ(w.tag(), QString()) << c.name;
        EXPECT_TRUE(w.findChild<MyButton*>(QStringLiteral("BtnAceptar"))->isEnabled()) << c.name;
    }
    // Ports above 32767 are ports like any other.
    EXPECT_EQ(puertoDesdeTexto(QStringLiteral("54321")), 54321);
    EXPECT_EQ(puertoDesdeTexto(QStringLiteral("05432")), 5432);
    EXPECT_EQ(puertoDesdeTexto(QStringLiteral("0")), std::nullopt);
}

TEST_F(Login, OperatorGroupIsRefusedAndTheConnectionClosed) {
    m_dialogs.answer(MsgResult::Ok);
    FrmIniciarSesion w;
    entrar(w, kOperador.usuario, kOperador.clave);
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_EQ(m_dialogs.texts()[0], QStringLiteral("Solo un usuario con permisos de Superusuario ó Administrador "
                                                   "pueden hacer uso de esta funcionalidad"));
    EXPECT_EQ(w.tag(), QString());
    EXPECT_FALSE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
}

TEST(LoginStrings, ValuesThatCannotStandBareGoToTheDriversLibpqOptions) {
    const QString d = QStringLiteral("DRIVER={PostgreSQL ODBC Driver(UNICODE)};");
    struct Caso {
        QString servidor, usuario, esperado;
    };
    const Caso casos[] = {
        {QStringLiteral("127.0.0.1"), QStringLiteral("jefe"),
         d + QStringLiteral("SERVER=127.0.0.1;PORT=5432;DATABASE=veliro7;UID=jefe;PWD={x}")},
        {QStringLiteral("127.0.0.1"), QStringLiteral("adm;in"),
         d + QStringLiteral("SERVER=127.0.0.1;PORT=5432;DATABASE=veliro7;pqopt={user='adm;in'};PWD={x}")},
        {QStringLiteral("h;UID=postgres"), QStringLiteral("o'n\\e}"),
         d + QStringLiteral("PORT=5432;DATABASE=veliro7;pqopt={host='h;UID=postgres' user='o\\'n\\\\e}}'};PWD={x}")},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(cadenaConexionPrincipal(c.servidor, 5432, c.usuario, QStringLiteral("x")), c.esperado);
    }
    // The retry's bare password, braced only when the bare form cannot carry it.
    EXPECT_TRUE(cadenaConexionAlterna(QStringLiteral("h"), 1, QStringLiteral("u"), QStringLiteral("llana"))
                    .endsWith(QStringLiteral(";UID=u;PWD=llana")));
    EXPECT_TRUE(cadenaConexionAlterna(QStringLiteral("h"), 1, QStringLiteral("u"), QStringLiteral("a;UID=b"))
                    .endsWith(QStringLiteral(";UID=u;PWD={a;UID=b}")));
}

TEST_F(Login, MissingDatabaseIsCreatedAndTheRestoreOffered) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP DATABASE veliro7 WITH (FORCE);"), nullptr,
                                           QStringLiteral("postgres")));
    m_dialogs.answer(MsgResult::No); // restore now?
    m_dialogs.answer(MsgResult::Ok); // the empty database has no version row: the tool gate ends the program
    FrmIniciarSesion w;
    entrar(w, kJefe.usuario, kJefe.clave);
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM pg_database WHERE datname='veliro7'"),
                                           QStringLiteral("postgres")),
              QStringLiteral("1"));
    ASSERT_GE(m_dialogs.shown().size(), 1u);
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QStringLiteral("No se encontro la base de VELIRO7")));
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_FALSE(sesion().BaseDatosValida);
    EXPECT_EQ(w.tag(), QString());
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown()[1].title, QStringLiteral("Falta actualizar Módulo"));
    EXPECT_EQ(m_salidas, std::vector<int>{0});
    const QString work = sesion().RutaTemporal;
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("v7.CreateV7.bat")));
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("v7.CheckBD.bat")));
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("v7.CheckBD.txt")));
}

// The console shows the real login; Cancel is clicked while the connection, slowed down on its way,
// is being opened.
TEST_F(Login, CancelDuringTheConnectionEndsTheProgramWithoutLoggingIn) {
    ProxyLento lento(PgCluster::instance().port(), 700);
    for (const bool cancelar : {false, true}) {
        SCOPED_TRACE(cancelar ? "cancelled" : "left alone");
        reiniciarSesion();
        std::unique_ptr<Muestreo> muestreo;
        bool cerradaDurante = true;
        FrmInicio consola;
        alAbrirModal([&](QWidget* m) {
            auto* login = qobject_cast<FrmIniciarSesion*>(m);
            ASSERT_NE(login, nullptr);
            llenar(*login, kJefe.usuario, kJefe.clave, QString::number(lento.puerto()));
            muestreo = std::make_unique<Muestreo>(*login);
            muestreo->alMuestrear([&, login](int n) {
                if (n == 3) {
                    login->close(); // refused while it works
                    cerradaDurante = login->isVisible();
                    if (cancelar) {
                        click(*login, "BtnCancelar");
                    }
                }
            });
            click(*login, "BtnAceptar");
            muestreo->detener();
        });
        const bool entro = consola.Form_Load();
        EXPECT_EQ(entro, !cancelar);
        EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen(), !cancelar);
        ASSERT_TRUE(muestreo);
        // Locked but for Cancel while it connects, the hourglass on (once logged in it is hidden).
        ASSERT_GT(muestreo->muestras().size(), 3u);
        EXPECT_EQ(muestreo->habilitadosAlgunaVez(), QStringList{QStringLiteral("BtnCancelar")});
        for (size_t i = 0; i < muestreo->muestras().size(); ++i) {
            EXPECT_TRUE(muestreo->muestras()[i].cursorEspera || (!cancelar && i > 3)) << i;
        }
        EXPECT_TRUE(cerradaDurante);
    }
}

// A server's error that no fixed message covers: a Spanish sentence says what could not be done, the
// server's own words follow, then the generic box's number, step and place; never the statement or the
// driver's raw text alone.
TEST_F(Login, AServersErrorIsToldInSpanishWithTheServersWordsAfter) {
    struct Caso {
        const char* nombre;
        const char* sql;
        test::Login login;
        QString empieza; // the first sentence
        QString detalle; // part of the server's words
        QString termina; // the reference lines
        QString tag;
    };
    const Caso casos[] = {
        // The backup notices read every configuration row; one of them cannot be read.
        {"a query after the connection",
         "ALTER TABLE config_veliro.configuracion RENAME TO configuracion_t;"
         "CREATE VIEW config_veliro.configuracion AS SELECT descripcion, CASE WHEN descripcion = 'RESPALDOOK' "
         "THEN (length(descripcion) / 0)::text ELSE valor END AS valor FROM config_veliro.configuracion_t;",
         kJefe, QStringLiteral("No se pudo consultar la configuración de los respaldos automáticos."),
         QStringLiteral("division by zero"), QStringLiteral("Ocurrió el Error No. -2147467259 en la línea 16"),
         QStringLiteral("OK")}, // logged in before the notices already
        {"the connection", "CREATE ROLE sinentrada PASSWORD 'clave-x' NOLOGIN;",
         test::Login{QStringLiteral("sinentrada"), QStringLiteral("clave-x")},
         QStringLiteral("No se pudo establecer la conexión con el servidor de base de datos."),
         QStringLiteral("role \"sinentrada\" is not permitted to log in"),
         QStringLiteral("Ocurrió el Error No. -2147467259 en la línea 6"), QString()},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        ASSERT_TRUE(PgCluster::instance().psql(QString::fromUtf8(c.sql)));
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmIniciarSesion w;
        entrar(w, c.login.usuario, c.login.clave);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        const QString texto = m_dialogs.shown()[0].text;
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(texto.startsWith(c.empieza + QStringLiteral("\r\nDetalle del servidor: "))) << texto.toStdString();
        EXPECT_TRUE(texto.contains(c.detalle)) << texto.toStdString();
        EXPECT_TRUE(
            texto.endsWith(QStringLiteral("\r\n\r\n") + c.termina + QStringLiteral("\r\nApartado: IniciarSesion")))
            << texto.toStdString();
        for (const char* nunca : {"SELECT", "[cadSQL]", "ODBC", "Error while executing"}) {
            EXPECT_FALSE(texto.contains(QString::fromLatin1(nunca))) << nunca;
        }
        EXPECT_EQ(w.tag(), c.tag);
        EXPECT_TRUE(w.findChild<MyButton*>(QStringLiteral("BtnAceptar"))->isEnabled());
    }
}

TEST(LoginWindow, OptionsToggleMovesTheCheckBox) {
    FrmIniciarSesion w;
    auto* opciones = w.findChild<QCheckBox*>(QStringLiteral("chkOpciones"));
    w.show(); // empty server and port boxes: the options open
    ASSERT_TRUE(opciones->isChecked());
    EXPECT_EQ(opciones->y(), 2450 / kTwipsPorPixel);
    EXPECT_EQ(w.height(), 4215 / kTwipsPorPixel);
    QTest::mouseClick(opciones, Qt::LeftButton);
    EXPECT_EQ(opciones->y(), 1710 / kTwipsPorPixel);
    EXPECT_FALSE(w.findChild<QWidget*>(QStringLiteral("picOpciones"))->isVisible());
}

TEST_F(Login, RestoreOfferAnsweredYesWithoutCatalogueEndsTheProgram) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP TABLE catalogos.analistas;")));
    m_dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    int shown = 0;
    FrmIniciarSesion w;
    w.setMostrarRestauracion([&](FrmIniciarSesion&) { ++shown; });
    entrar(w, kJefe.usuario, kJefe.clave);
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(m_dialogs.texts().size(), 2);
    EXPECT_EQ(m_dialogs.texts()[1], QStringLiteral("No se encontraron los catalogos de la base de veliro7"));
    EXPECT_EQ(m_salidas, std::vector<int>{0});
}

TEST_F(Login, ToolVersionGateFailuresEndTheProgram) {
    struct Case {
        const char* sql;
        const char* begins;
    };
    const Case cases[] = {
        {"UPDATE config_veliro.configuracion SET valor = 'R1.02 - 2019/01/01' WHERE descripcion = 'VER_V7TOOLS';",
         "Se ha detectado que su Módulo de Administración no cuenta con la versión de actualización más reciente.\r\n"
         "La última versión disponible es R1.02 - 2019/01/01"},
        {"DELETE FROM config_veliro.configuracion WHERE descripcion = 'VER_V7TOOLS';",
         "Se ha detectado que su Módulo de Administración no coincide con la versión de actualización más reciente."},
    };
    for (const auto& c : cases) {
        ServidorPreparado fresh;
        ASSERT_TRUE(PgCluster::instance().psql(QString::fromUtf8(c.sql)));
        m_dialogs.clear();
        m_salidas.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmIniciarSesion w;
        entrar(w, kJefe.usuario, kJefe.clave);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << c.sql;
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QString::fromUtf8(c.begins)))
            << m_dialogs.shown()[0].text.toStdString();
        EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Falta actualizar Módulo"));
        EXPECT_EQ(m_salidas, std::vector<int>{0}) << c.sql;
    }
}

TEST_F(Login, BackupNotices) {
    auto& c = PgCluster::instance();
    // Never configured: the row is written as false and the notice shown.
    ASSERT_TRUE(
        c.psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'RESPALDOCONFIG';")));
    m_dialogs.answer(MsgResult::Ok);
    {
        FrmIniciarSesion w;
        entrar(w, kJefe.usuario, kJefe.clave);
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].title,
                  QStringLiteral("IMPORTANTE: aún no se configuran los respaldos automáticos"));
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QStringLiteral("! ! ! I M P O R T A N T E ¡ ¡ ¡\r\n\r\n")));
        EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    }
    EXPECT_EQ(
        c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion='RESPALDOCONFIG'")),
        QStringLiteral("Falso"));

    // Configured (any case, blanks around it) but the last unattended backup failed; " true" is not trimmed.
    for (const char* ok : {"Falso", " true"}) {
        ASSERT_TRUE(c.psql(QStringLiteral("UPDATE config_veliro.configuracion SET valor = '  verdadero ' WHERE "
                                          "descripcion = 'RESPALDOCONFIG';"
                                          "UPDATE config_veliro.configuracion SET valor = '%1' WHERE descripcion = "
                                          "'RESPALDOOK';")
                               .arg(QString::fromLatin1(ok))));
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmIniciarSesion w;
        entrar(w, kJefe.usuario, kJefe.clave);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << ok;
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(
            QStringLiteral("Se ha detectado que no se estan realizando los respaldos automáticos")))
            << ok;
    }
}

TEST(LoginFailures, ClassifiedByTheirTexts) {
    struct Case {
        const char* text;
        FalloLogin expected;
    };
    const Case cases[] = {
        {"FATAL:  database \"veliro7\" does not exist", FalloLogin::CrearBase},
        {"FATAL:  no existe la base de datos «veliro7»", FalloLogin::CrearBase},
        {"Could not connect to the server; ODBC", FalloLogin::PuertoBloqueado},
        {"connection to server at \"127.0.0.1\", port 1 failed: Connection refused", FalloLogin::PuertoBloqueado},
        {"FATAL:  la autentificación password falló para el usuario «x»", FalloLogin::ClaveIncorrecta},
        {"Error catastrófico", FalloLogin::ErrorCatastrofico},
        {"could not receive data: Connection Reset By Peer", FalloLogin::ErrorCatastrofico},
        {"FATAL:  no pg_hba.conf entry for host", FalloLogin::PgHba},
        {"", FalloLogin::SinDescripcion},
        {"something else", FalloLogin::Otro},
    };
    for (const auto& c : cases) {
        int counter = 0;
        EXPECT_EQ(clasificarFalloLogin(db::DbError{QString(), 1, QString::fromUtf8(c.text)}, counter), c.expected)
            << c.text;
    }
    int counter = 0;
    const db::DbError driver{QStringLiteral("01000"), 1, QStringLiteral("[unixODBC][Driver Manager]Can't open lib")};
    EXPECT_EQ(clasificarFalloLogin(driver, counter), FalloLogin::ReintentarDriver);
    EXPECT_EQ(clasificarFalloLogin(driver, counter), FalloLogin::SinDriver);
}

// A restore that did not finish leaves its mark: the login says so before anything else and offers to run
// it again through the maintenance window; the mark is the restore's to clear, never the login's.
TEST_F(Login, AnUnfinishedRestoreIsToldAndOfferedAgain) {
    const QString archivo = m_server->carpeta().file(QStringLiteral("respaldos/veliro7_20240301.zip"));
    const MarcaRestauracion marca{archivo, QDateTime(QDate(2024, 3, 1), QTime(9, 30)), kJefe.usuario, 4242};
    struct Caso {
        const char* nombre;
        bool sinCatalogo;    // the staff table is gone (dropped before the restore stopped)
        MsgResult respuesta; // to the question
        QString tag;         // the login's tag afterwards
        int restauraciones;  // times the maintenance window was shown
        std::vector<int> salidas;
        QString despues; // the box after the question, if any
    };
    const Caso casos[] = {
        {"yes", false, MsgResult::Yes, QStringLiteral("OK"), 1, {}, QString()},
        {"no: the database is used as it is", false, MsgResult::No, QStringLiteral("OK"), 0, {}, QString()},
        // As after "No" to the restore of a missing database: the gates and notices still run.
        {"no, and no staff table: the window stays",
         true,
         MsgResult::No,
         QString(),
         0,
         {},
         QStringLiteral("Error de versión de tablas. Actualizar con script\r\nNo existe la tabla de Validaciones de "
                        "Versiones, actualización ultra necesaria")},
        {"yes, and the restore did not bring the staff table back",
         true,
         MsgResult::Yes,
         QString(),
         1,
         {0},
         textoSinCatalogos()},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (c.sinCatalogo) {
            ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP TABLE IF EXISTS catalogos.analistas;")));
        }
        ASSERT_EQ(marcarRestauracion(marca), QString());
        m_dialogs.clear();
        m_salidas.clear();
        m_dialogs.answer(c.respuesta);
        if (!c.despues.isEmpty()) {
            m_dialogs.answer(MsgResult::Ok);
        }
        int restauraciones = 0;
        QString preseleccionado;
        FrmIniciarSesion w;
        w.setMostrarRestauracion([&](FrmIniciarSesion& login) {
            ++restauraciones;
            preseleccionado = login.archivoRestauracion();
        });
        entrar(w, kJefe.usuario, kJefe.clave);

        ASSERT_GE(m_dialogs.shown().size(), 1u);
        const auto& pregunta = m_dialogs.shown()[0];
        EXPECT_TRUE(pregunta.text.startsWith(QStringLiteral(
            "La última restauración de la base de datos no terminó (comenzó el 01/03/2024 a las 09:30): la base de "
            "datos puede estar incompleta.")))
            << pregunta.text.toStdString();
        EXPECT_TRUE(pregunta.text.contains(archivo));
        EXPECT_TRUE(pregunta.text.endsWith(QStringLiteral("¿ Desea hacerlo ahora ?")));
        EXPECT_EQ(pregunta.buttons, MsgButtons::YesNo);
        EXPECT_EQ(pregunta.icon, MsgIcon::Warning);
        ASSERT_EQ(m_dialogs.shown().size(), c.despues.isEmpty() ? 1u : 2u)
            << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        if (!c.despues.isEmpty()) {
            EXPECT_EQ(m_dialogs.shown()[1].text, c.despues);
        }
        EXPECT_EQ(restauraciones, c.restauraciones);
        EXPECT_EQ(preseleccionado, c.restauraciones > 0 ? archivo : QString());
        EXPECT_EQ(w.archivoRestauracion(), QString());
        EXPECT_EQ(w.tag(), c.tag);
        EXPECT_EQ(m_salidas, c.salidas);
        EXPECT_TRUE(leerMarcaRestauracion().has_value());
    }
    ASSERT_EQ(borrarMarcaRestauracion(), QString());
}

// A restore of another installation (another program folder, another computer) that did not finish left its
// mark on the server: every login is told, an "Administrador" one too, which may read the mark but not write
// it. A file mark of this folder whose restore left no mark on the server (it stopped before changing
// anything, or a complete restore from anywhere cleared the server's since) is not told.
TEST_F(Login, TheServersMarkIsToldToEveryInstallation) {
    db::Connection superusuario;
    superusuario.setConnectionString(PgCluster::instance().connectionString());
    db::DbError e;
    ASSERT_TRUE(superusuario.open(e)) << e.description.toStdString();
    MarcaRestauracion otra =
        nuevaMarcaRestauracion(QStringLiteral("/srv/respaldos/veliro7_20240301.zip"), kJefe.usuario);
    otra.inicio = QDateTime(QDate(2024, 3, 1), QTime(9, 30));
    otra.equipo = QStringLiteral("otro-servidor");
    otra.carpeta = QStringLiteral("/opt/veliro7/");
    ASSERT_EQ(marcarRestauracionServidor(superusuario, otra), QString());
    {
        m_dialogs.answer(MsgResult::No);
        FrmIniciarSesion w;
        entrar(w, kAdmin.usuario, kAdmin.clave);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(m_dialogs.shown()[0].text,
                  QStringLiteral("La última restauración de la base de datos no terminó (comenzó el 01/03/2024 a las "
                                 "09:30): la base de datos puede estar incompleta. Archivo de respaldo: "
                                 "/srv/respaldos/veliro7_20240301.zip. Se ejecutó en el equipo otro-servidor, desde "
                                 "la carpeta /opt/veliro7/.\r\n\r\nSe recomienda restaurar nuevamente el respaldo "
                                 "antes de continuar.\r\n            ¿ Desea hacerlo ahora ?"));
        EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    }
    // Not the administrator's to clear.
    EXPECT_NE(borrarMarcaRestauracionServidor(conexionPrincipal()), QString());
    ASSERT_EQ(borrarMarcaRestauracionServidor(superusuario), QString());

    ASSERT_EQ(marcarRestauracion(nuevaMarcaRestauracion(QStringLiteral("/srv/r.zip"), kJefe.usuario)), QString());
    {
        m_dialogs.clear();
        FrmIniciarSesion w;
        entrar(w, kJefe.usuario, kJefe.clave);
        EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    }
    EXPECT_TRUE(leerMarcaRestauracion().has_value());
    ASSERT_EQ(borrarMarcaRestauracion(), QString());
}

// The console's own login: "Sí" opens the maintenance window on its restore, with the archive of the
// unfinished restore in the box.
TEST_F(Login, TheMaintenanceWindowOpensOnTheRestoreWithTheArchive) {
    const QString archivo = m_server->carpeta().file(QStringLiteral("veliro7_20240301.zip"));
    ASSERT_EQ(marcarRestauracion(MarcaRestauracion{archivo, QDateTime::currentDateTime(), kJefe.usuario, 1}),
              QString());
    m_dialogs.answer(MsgResult::Yes);
    QString ruta;
    int pestana = -1;
    alAbrirModal([&](QWidget* m) {
        auto* login = qobject_cast<FrmIniciarSesion*>(m);
        ASSERT_NE(login, nullptr);
        llenar(*login, kJefe.usuario, kJefe.clave);
        alAbrirModal([&](QWidget* base) {
            EXPECT_EQ(base->objectName(), QStringLiteral("FrmBase"));
            ruta = base->findChild<QLineEdit*>(QStringLiteral("TxtRutaRespaldo"))->text();
            pestana = base->findChild<QTabBar*>(QStringLiteral("TabAdmin"))->currentIndex();
            base->close();
        });
        click(*login, "BtnAceptar");
    });
    EXPECT_EQ(VentanasConsola::predeterminadas().login(nullptr), QStringLiteral("OK"));
    EXPECT_EQ(ruta, archivo);
    EXPECT_EQ(pestana, 2);
    EXPECT_EQ(m_dialogs.shown().size(), 1u) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(borrarMarcaRestauracion(), QString());
}

// Typed and confirmed from the keyboard alone; Enter presses the button that has the focus.
TEST_F(Login, TheKeyboardAloneLogsInAndEnterPressesTheFocusedButton) {
    {
        FrmIniciarSesion w;
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        ASSERT_EQ(QApplication::focusWidget(), w.findChild<QLineEdit*>(QStringLiteral("TxtUsuario")));
        const QString puerto = QString::number(PgCluster::instance().port());
        for (const QString& texto : {kAdmin.usuario, kAdmin.clave, QStringLiteral("127.0.0.1"), puerto}) {
            QTest::keyClicks(QApplication::focusWidget(), texto);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        // The port takes digits only; Enter in a box runs the login.
        auto* caja = w.findChild<QLineEdit*>(QStringLiteral("TxtPuerto"));
        QTest::keyClicks(caja, QStringLiteral("x"));
        EXPECT_EQ(caja->text(), puerto);
        QTest::keyClick(caja, Qt::Key_Return);
        EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(w.tag(), QStringLiteral("OK"));
        EXPECT_EQ(sesion().TipoUsuario, QStringLiteral("administrador"));
    }
    FrmIniciarSesion w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* cancelar = w.findChild<MyButton*>(QStringLiteral("BtnCancelar"));
    cancelar->setFocus();
    QTest::keyClick(cancelar, Qt::Key_Return);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), int(QDialog::Rejected));
    EXPECT_EQ(w.tag(), QString());
}

// With the last session's user filled in, the window opens in the password box: the password typed there
// and Enter log in, and the user box keeps the name.
TEST_F(Login, WithTheLastUserInPlaceThePasswordIsTypedWhereTheFocusIs) {
    {
        FrmIniciarSesion w;
        entrar(w, kAdmin.usuario, kAdmin.clave);
        ASSERT_EQ(w.tag(), QStringLiteral("OK"));
    }
    FrmIniciarSesion w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* usuario = w.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"));
    auto* clave = w.findChild<QLineEdit*>(QStringLiteral("TxtPassword"));
    ASSERT_EQ(usuario->text(), kAdmin.usuario);
    ASSERT_EQ(QApplication::focusWidget(), clave);
    QTest::keyClicks(QApplication::focusWidget(), kAdmin.clave);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(usuario->text(), kAdmin.usuario);
    EXPECT_EQ(clave->text(), kAdmin.clave);
    EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    EXPECT_EQ(sesion().UsuarioBD, kAdmin.usuario);
}

// The login's statements run off the window's thread under the interactive limits: behind another
// session that holds the configuration the window keeps running (a 10 ms timer keeps firing), and
// the wait ends with the notice that the row could not be written.
TEST_F(Login, ALockedConfigurationEndsWithinItsLimitWhileTheWindowRuns) {
    PgCluster& pg = PgCluster::instance();
    ASSERT_TRUE(
        pg.psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'RESPALDOCONFIG';")));
    const process::Command otro =
        pg.comandoPsql(QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(hashtext('config_veliro."
                                      "configuracion')); SELECT pg_sleep(9); COMMIT;"));
    std::thread cliente([&] { (void)process::run(otro); });
    ASSERT_TRUE(esperarHasta([&] {
        return pg.scalar(QStringLiteral("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted")) ==
               QLatin1String("1");
    }));

    m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    FrmIniciarSesion w;
    Pausas pausas(true);
    entrar(w, kJefe.usuario, kJefe.clave);
    const qint64 corto = pausas.reloj().corto();
    const qint64 largo = pausas.reloj().largo();
    pausas.detener();
    cliente.join();
    EXPECT_LT(corto, 8500);
    EXPECT_GE(largo, kPlazosInteractivos.bloqueoMs);
    // A statement on the window's thread would stop the timer for the whole 5 s lock wait.
    EXPECT_TRUE(pausas.siempreAtendio()) << pausas.informe();
    EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    ASSERT_EQ(m_dialogs.texts().size(), 2) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(m_dialogs.texts()[0], QStringLiteral("No se logró grabar la variable de configuración RESPALDOCONFIG"));
    EXPECT_EQ(m_dialogs.shown()[1].title, QStringLiteral("IMPORTANTE: aún no se configuran los respaldos automáticos"));
    // Nothing half done, and the limits do not outlive the login.
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE descripcion = "
                                       "'RESPALDOCONFIG'")),
              QStringLiteral("0"));
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(QStringLiteral("SHOW lock_timeout"), total, err);
    ASSERT_TRUE(rs) << err.toStdString();
    EXPECT_EQ(rs->text(0), QStringLiteral("0"));
}

} // namespace
