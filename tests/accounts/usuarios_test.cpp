// The staff window driven as the administrator drives it, with answered boxes, checked on the server.
#include "accounts/FrmUsuarios.h"
#include "console/FrmInicio.h"
#include "core/analistas.h"
#include "core/permisos.h"
#include "core/session.h"
#include "platform/db.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

const QString kCreada = QStringLiteral("El usuario se ha grabado satisfactoriamente");
const QString kModificada = QStringLiteral("El usuario se ha modificado correctamente");
const QString kMascara = QStringLiteral("********");
const char* const kModulos[] = {"ChkAdqui",      "ChkPrestamo", "ChkConsulta",
                                "ChkInventario", "ChkAnalisis", "ChkServicios"};
const char* const kEtiquetasModulos[] = {"EtAdqui",      "EtPrestamo", "EtConsulta",
                                         "EtInventario", "EtAnalisis", "EtServicios"};

// Logins the tests create; roles outlive the database, so each test starts without them.
const QStringList kLoginsPrueba = {
    QStringLiteral("ana_super"), QStringLiteral("beto_admin"), QStringLiteral("caro1"), QStringLiteral("carolina"),
    QStringLiteral("dani2"),     QStringLiteral("otra_app"),   QStringLiteral("eva1"),  QStringLiteral("fer1"),
    QStringLiteral("gil2"),      QStringLiteral("Ana.María-2")};

// The server's view of one login.
struct Cuenta {
    bool existe = false;
    bool superusuario = false;
    bool creaRoles = false;
    bool entra = false; // LOGIN
    QString vigencia;   // rolvaliduntil as text, "NULL" for none
    QString grupos;     // the groups it is a member of, sorted, comma-separated
    int filas = 0;      // staff rows
    QString nombre;
    qint64 biblioteca = -1;
    TextoPermiso permiso; // the row's clave, descrambled
    ModulosAnalista modulos{};
};

Cuenta leerCuenta(const QString& login) {
    auto& pg = PgCluster::instance();
    const QString l = QString(login).replace(QLatin1Char('\''), QStringLiteral("''"));
    Cuenta c;
    QString out;
    EXPECT_TRUE(pg.psql(QStringLiteral("SELECT rolsuper, rolcreaterole, rolcanlogin, coalesce(rolvaliduntil::text, "
                                       "'NULL'), (SELECT coalesce(string_agg(g.rolname, ',' ORDER BY g.rolname), '') "
                                       "FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid WHERE m.member = "
                                       "r.oid) FROM pg_roles r WHERE rolname = '%1'")
                            .arg(l),
                        &out));
    const QStringList rol = out.trimmed().split(QLatin1Char('|'));
    if (rol.size() == 5) {
        c.existe = true;
        c.superusuario = rol[0] == QLatin1String("t");
        c.creaRoles = rol[1] == QLatin1String("t");
        c.entra = rol[2] == QLatin1String("t");
        c.vigencia = rol[3];
        c.grupos = rol[4];
    }
    c.filas = pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas WHERE usuario = '%1'").arg(l)).toInt();
    out.clear();
    EXPECT_TRUE(pg.psql(
        QStringLiteral("SELECT nombre, idbiblioteca, clave FROM catalogos.analistas WHERE usuario = '%1'").arg(l),
        &out));
    const QStringList fila = out.trimmed().split(QLatin1Char('|'));
    if (fila.size() == 3) {
        c.nombre = fila[0];
        c.biblioteca = fila[1].toLongLong();
        c.permiso = leerClave(fila[2], false);
        c.modulos = LeerModulos(fila[2]);
    }
    return c;
}

// Everything of a login and its rows that an action could change, as one text.
QString huella(const QString& login) {
    return PgCluster::instance().scalar(
        QStringLiteral("SELECT concat_ws(' | ', (SELECT row(rolsuper, rolcreaterole, rolcanlogin, rolvaliduntil, "
                       "rolpassword)::text FROM pg_authid WHERE rolname = '%1'), (SELECT string_agg(g.rolname, ',' "
                       "ORDER BY g.rolname) FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid JOIN "
                       "pg_roles u ON u.oid = m.member WHERE u.rolname = '%1'), (SELECT string_agg(a::text, ',' "
                       "ORDER BY idanalista) FROM catalogos.analistas a WHERE usuario = '%1'), (SELECT count(*) "
                       "FROM catalogos.analistas))")
            .arg(login));
}

bool puedeEntrar(const QString& login, const QString& contrasena) {
    db::Connection con;
    con.setConnectionString(PgCluster::instance().connectionString(login, contrasena));
    db::DbError e;
    const bool ok = con.open(e);
    con.close();
    return ok;
}

// What a screen reader calls a control.
QString nombreAccesible(QWidget* w) {
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w);
    return i != nullptr ? i->text(QAccessible::Name) : QString();
}

class Usuarios : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        auto& pg = PgCluster::instance();
        QString drop = QStringLiteral("DO $$DECLARE r text; BEGIN FOREACH r IN ARRAY ARRAY['%1'] LOOP "
                                      "IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = r) THEN "
                                      "EXECUTE format('DROP OWNED BY %I', r); EXECUTE format('DROP ROLE %I', r); "
                                      "END IF; END LOOP; END$$;")
                           .arg(kLoginsPrueba.join(QStringLiteral("','")));
        ASSERT_TRUE(pg.psql(drop, nullptr, QStringLiteral("postgres")));
        ASSERT_TRUE(pg.psql(QStringLiteral(
            "INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre) VALUES (1, 'Central'), (2, 'Norte'), "
            "(3, 'Sur');")));
        ASSERT_TRUE(m_server->iniciarSesion(kJefe));
    }
    void TearDown() override {
        m_ventana.reset();
        reiniciarSesion();
        m_server.reset();
    }

    // Shows the window and waits until it has come up.
    void abrir() {
        m_ventana = std::make_unique<FrmUsuarios>([this](QWidget*) {
            ++m_catalogos;
            if (m_enCatalogos) {
                m_enCatalogos();
            }
        });
        m_ventana->show();
        ASSERT_TRUE(esperarHasta([this] { return m_ventana->activaciones() == 1; }));
    }

    FrmUsuarios& w() { return *m_ventana; }
    template <typename T = QWidget> T* c(const char* name) { return hijo<T>(*m_ventana, name); }
    QLineEdit* caja(const char* name) { return c<QLineEdit>(name); }
    QTreeWidget* lista() { return c<QTreeWidget>("ListUsuarios"); }
    QComboBox* grupo() { return c<QComboBox>("CmbGrupo"); }
    QComboBox* biblioteca() { return c<QComboBox>("CmbBibliotecas"); }
    QCheckBox* indefinido() { return c<QCheckBox>("ChkIndefinido"); }

    void escribir(const char* name, const QString& text) {
        QLineEdit* b = caja(name);
        b->clear();
        QTest::keyClicks(b, text);
    }
    // The administrator's own choice of a group.
    void elegirGrupo(const QString& caption) {
        const int i = grupo()->findText(caption);
        ASSERT_GE(i, 0) << caption.toStdString();
        grupo()->setCurrentIndex(i);
        emit grupo()->activated(i);
    }
    void elegirBiblioteca(const QString& caption) {
        const int i = biblioteca()->findText(caption);
        ASSERT_GE(i, 0) << caption.toStdString();
        biblioteca()->setCurrentIndex(i);
    }
    void ponerModulos(const ModulosAnalista& m) {
        for (int i = 0; i < kModulosAnalista; ++i) {
            if (c<QCheckBox>(kModulos[i])->isChecked() != m[i]) {
                click(w(), kEtiquetasModulos[i]); // through the caption
            }
        }
    }
    ModulosAnalista modulosVentana() {
        ModulosAnalista m{};
        for (int i = 0; i < kModulosAnalista; ++i) {
            m[i] = c<QCheckBox>(kModulos[i])->isChecked();
        }
        return m;
    }
    void ponerVigencia(std::optional<QDate> fecha) {
        if (indefinido()->isChecked() == fecha.has_value()) {
            click(w(), "EtIndefinido");
        }
        if (fecha) {
            c<QDateEdit>("DtpVigencia")->setDate(*fecha);
        }
    }
    QTreeWidgetItem* fila(const QString& login) {
        const auto items = lista()->findItems(login, Qt::MatchExactly, 0);
        return items.isEmpty() ? nullptr : items.first();
    }
    void seleccionar(const QString& login) {
        QTreeWidgetItem* item = fila(login);
        ASSERT_NE(item, nullptr) << login.toStdString();
        lista()->scrollToItem(item);
        QTest::mouseClick(lista()->viewport(), Qt::LeftButton, {}, lista()->visualItemRect(item).center());
        ASSERT_EQ(lista()->currentItem(), item);
    }
    void aceptar() { click(w(), "BtnUsuariosAceptar"); }
    QString ultimo() const { return m_dialogos.shown().empty() ? QString() : m_dialogos.shown().back().text; }

    struct Alta {
        QString login;
        QString contrasena;
        QString caption;
        std::optional<QDate> vigencia; // none: no expiry
        ModulosAnalista modulos;
        QString biblioteca;
        QString nombre;
    };
    // Fills the create form and accepts it; the outcome box is answered.
    void crear(const Alta& a) {
        click(w(), "OptCrearUsuario");
        ASSERT_TRUE(c<QRadioButton>("OptCrearUsuario")->isChecked());
        escribir("TxtNombre", a.nombre.isEmpty() ? QStringLiteral("Nombre de ") + a.login : a.nombre);
        escribir("TxtLogin", a.login);
        escribir("TxtContraseña", a.contrasena);
        escribir("TxtConfirmar", a.contrasena);
        elegirGrupo(a.caption);
        ponerVigencia(a.vigencia);
        ponerModulos(a.modulos);
        elegirBiblioteca(a.biblioteca);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
    }
    void modificar(const QString& login) {
        seleccionar(login);
        click(w(), "OptModificarUsuario");
        ASSERT_TRUE(c<QRadioButton>("OptModificarUsuario")->isChecked());
    }

    // The selected account as the window shows it is the account on the server.
    void comprobar(const QString& login, const QString& contrasena, bool probarEntrada = false) {
        SCOPED_TRACE(login.toStdString());
        seleccionar(login);
        EXPECT_EQ(caja("TxtLogin")->text(), login);
        EXPECT_EQ(caja("TxtContraseña")->text(), kMascara);
        const Cuenta s = leerCuenta(login);
        ASSERT_TRUE(s.existe);
        EXPECT_EQ(s.filas, 1);
        const int g = grupo()->currentData().toInt();
        EXPECT_EQ(s.grupos, NombreGrupo(g));
        EXPECT_EQ(s.superusuario, g == 1);
        EXPECT_EQ(s.creaRoles, g == 1 || g == 2);
        EXPECT_TRUE(s.entra);
        if (indefinido()->isChecked()) {
            EXPECT_EQ(s.vigencia, QStringLiteral("infinity"));
            EXPECT_EQ(fila(login)->text(1), QStringLiteral("Indefinida"));
        } else {
            const QDate d = c<QDateEdit>("DtpVigencia")->date();
            EXPECT_TRUE(s.vigencia.startsWith(d.toString(Qt::ISODate))) << s.vigencia.toStdString();
            EXPECT_EQ(fila(login)->text(1), d.toString(QStringLiteral("dd/MM/yyyy")) + QStringLiteral(" 00:00:00"));
        }
        EXPECT_EQ(s.nombre, caja("TxtNombre")->text());
        EXPECT_EQ(s.biblioteca, biblioteca()->currentData().toLongLong());
        EXPECT_EQ(s.modulos, modulosVentana());
        EXPECT_EQ(s.permiso.contrasena, contrasena);
        EXPECT_EQ(s.permiso.codigo, codigoGrupo(NombreGrupo(g)));
        if (probarEntrada) {
            EXPECT_TRUE(puedeEntrar(login, contrasena));
        }
    }

    // The window closed, and the session of another login (its class as the login gives it).
    void sesionDe(const Login& login, const QString& clase) {
        m_ventana.reset();
        reiniciarSesion();
        ASSERT_TRUE(m_server->iniciarSesion(login));
        sesion().TipoUsuario = clase;
    }

    std::unique_ptr<ServidorPreparado> m_server;
    ScriptedDialogs m_dialogos;
    std::unique_ptr<FrmUsuarios> m_ventana;
    int m_catalogos = 0;
    std::function<void()> m_enCatalogos;
};

TEST_F(Usuarios, TheWholeLifeOfAnAccount) {
    abrir();
    EXPECT_TRUE(m_dialogos.shown().empty()) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
    const ModulosAnalista todos{true, true, true, true, true, true};
    // Passwords with a quote, a backslash and shell characters travel as they are.
    const Alta altas[] = {
        {QStringLiteral("ana_super"),
         QStringLiteral("a'S;$(x)\\1"),
         QStringLiteral("Superusuario"),
         std::nullopt,
         todos,
         QStringLiteral("Central"),
         {}},
        {QStringLiteral("beto_admin"),
         QStringLiteral("b-Cl4ve"),
         QStringLiteral("Administrador"),
         std::nullopt,
         {true, false, true, false, false, false},
         QStringLiteral("[Sin definir]"),
         {}},
        {QStringLiteral("caro1"),
         QStringLiteral("c'1 x"),
         QStringLiteral("Usuario-Nivel1"),
         QDate(2031, 3, 15),
         {false, true, false, true, false, false},
         QStringLiteral("Norte"),
         QStringLiteral("Carolina O'Neil")},
        {QStringLiteral("dani2"),
         QStringLiteral("d2"),
         QStringLiteral("Usuario-Nivel2"),
         QDate(2032, 7, 1),
         {false, false, false, false, false, true},
         QStringLiteral("Sur"),
         {}},
    };
    for (const Alta& a : altas) {
        SCOPED_TRACE(a.login.toStdString());
        crear(a);
        EXPECT_EQ(ultimo(), kCreada);
        EXPECT_EQ(m_dialogos.shown().back().icon, MsgIcon::Information);
        EXPECT_FALSE(c<QRadioButton>("OptCrearUsuario")->isChecked());
        EXPECT_FALSE(caja("TxtLogin")->isEnabled());
        comprobar(a.login, a.contrasena, true);
    }
    EXPECT_EQ(leerCuenta(QStringLiteral("beto_admin")).biblioteca, 0); // "[Sin definir]"
    EXPECT_EQ(c<QLabel>("EtNoUsuarios")->text(), QString::number(lista()->topLevelItemCount()));

    QString clave = QStringLiteral("c'1 x");
    {
        SCOPED_TRACE("a rename must give the password again");
        modificar(QStringLiteral("caro1"));
        escribir("TxtLogin", QStringLiteral("carolina"));
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("Para cambiar el nombre de usuario"))) << ultimo().toStdString();
        EXPECT_TRUE(c<QRadioButton>("OptModificarUsuario")->isChecked());
        EXPECT_TRUE(leerCuenta(QStringLiteral("caro1")).existe);
        escribir("TxtContraseña", clave);
        escribir("TxtConfirmar", clave);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), kModificada);
        EXPECT_FALSE(leerCuenta(QStringLiteral("caro1")).existe);
        comprobar(QStringLiteral("carolina"), clave, true);
        // Only the name changed: the expiry is the one set at creation.
        EXPECT_TRUE(leerCuenta(QStringLiteral("carolina")).vigencia.startsWith(QStringLiteral("2031-03-15")));
    }
    {
        SCOPED_TRACE("a change without retyping keeps the password and the expiry");
        modificar(QStringLiteral("carolina"));
        escribir("TxtNombre", QStringLiteral("Carolina Ruiz"));
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), kModificada);
        comprobar(QStringLiteral("carolina"), clave, true);
        EXPECT_TRUE(leerCuenta(QStringLiteral("carolina")).vigencia.startsWith(QStringLiteral("2031-03-15")));
    }
    {
        SCOPED_TRACE("password");
        modificar(QStringLiteral("carolina"));
        const QString nueva = QStringLiteral("Nu3va'clave");
        escribir("TxtContraseña", nueva);
        escribir("TxtConfirmar", nueva);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), kModificada);
        comprobar(QStringLiteral("carolina"), nueva, true);
        EXPECT_FALSE(puedeEntrar(QStringLiteral("carolina"), clave));
        clave = nueva;
    }
    // Every switch direction: up to administrator and superuser, down to level 2, across to level 1.
    for (const char* destino : {"Administrador", "Superusuario", "Usuario-Nivel2", "Usuario-Nivel1", "Superusuario",
                                "Administrador", "Usuario-Nivel2"}) {
        SCOPED_TRACE(destino);
        modificar(QStringLiteral("carolina"));
        const bool indefinidaAntes = indefinido()->isChecked();
        elegirGrupo(QString::fromUtf8(destino));
        // The second group chosen means no expiry, also while changing an account; any other leaves it alone.
        EXPECT_EQ(indefinido()->isChecked(), indefinidaAntes || grupo()->currentIndex() == 1);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), kModificada);
        comprobar(QStringLiteral("carolina"), clave);
        EXPECT_EQ(grupo()->currentText(), QString::fromUtf8(destino));
    }
    {
        SCOPED_TRACE("library, modules and expiry");
        modificar(QStringLiteral("carolina"));
        elegirBiblioteca(QStringLiteral("Sur"));
        ponerModulos({true, false, false, false, true, true});
        ponerVigencia(std::nullopt);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), kModificada);
        comprobar(QStringLiteral("carolina"), clave);
        EXPECT_EQ(leerCuenta(QStringLiteral("carolina")).biblioteca, 3);
        EXPECT_EQ(leerCuenta(QStringLiteral("carolina")).vigencia, QStringLiteral("infinity"));

        modificar(QStringLiteral("carolina"));
        ponerVigencia(QDate(2033, 1, 31));
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        comprobar(QStringLiteral("carolina"), clave, true);
    }
    {
        SCOPED_TRACE("delete, declined then confirmed");
        const QString antes = huella(QStringLiteral("carolina"));
        seleccionar(QStringLiteral("carolina"));
        click(w(), "OptEliminarUsuario");
        EXPECT_FALSE(caja("TxtLogin")->isEnabled());
        EXPECT_TRUE(c("BtnUsuariosAceptar")->isEnabled());
        m_dialogos.answer(MsgResult::No);
        aceptar();
        EXPECT_EQ(m_dialogos.shown().back().buttons, MsgButtons::YesNo);
        EXPECT_EQ(m_dialogos.shown().back().icon, MsgIcon::Question);
        EXPECT_EQ(huella(QStringLiteral("carolina")), antes);
        EXPECT_FALSE(c<QRadioButton>("OptEliminarUsuario")->isChecked());

        seleccionar(QStringLiteral("carolina"));
        click(w(), "OptEliminarUsuario");
        m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
        aceptar();
        EXPECT_EQ(ultimo(), QStringLiteral("El usuario \" carolina \" ha sido eliminado de la base de datos"));
        const Cuenta s = leerCuenta(QStringLiteral("carolina"));
        EXPECT_FALSE(s.existe);
        EXPECT_EQ(s.filas, 0);
        EXPECT_EQ(fila(QStringLiteral("carolina")), nullptr);
        EXPECT_FALSE(puedeEntrar(QStringLiteral("carolina"), clave));
    }
    EXPECT_TRUE(m_dialogos.allAnswered());
}

TEST_F(Usuarios, AFailureHalfwayLeavesRolesAndRowsAsTheyWere) {
    auto& pg = PgCluster::instance();
    // Another application's role, a name the staff table refuses, a row that others refer to.
    ASSERT_TRUE(pg.psql(QStringLiteral("CREATE ROLE otra_app NOLOGIN;"
                                       "ALTER TABLE catalogos.analistas ADD CONSTRAINT sin_rechazo CHECK (nombre <> "
                                       "'RECHAZADO');"
                                       "CREATE TABLE public.asignaciones (idanalista integer REFERENCES "
                                       "catalogos.analistas (idanalista));")));
    abrir();
    crear({QStringLiteral("eva1"),
           QStringLiteral("e-1"),
           QStringLiteral("Usuario-Nivel1"),
           QDate(2030, 6, 1),
           {true, false, false, false, false, false},
           QStringLiteral("Norte"),
           {}});
    ASSERT_EQ(ultimo(), kCreada);
    const QString eva = huella(QStringLiteral("eva1"));
    const QString otra = huella(QStringLiteral("otra_app"));
    const QString filas = pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas"));

    {
        SCOPED_TRACE("create over another application's role");
        crear({QStringLiteral("otra_app"),
               QStringLiteral("x"),
               QStringLiteral("Usuario-Nivel2"),
               std::nullopt,
               {true, false, false, false, false, false},
               QStringLiteral("Sur"),
               {}});
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("No se creo el usuario\r\n"))) << ultimo().toStdString();
        EXPECT_TRUE(ultimo().contains(QStringLiteral("Detalle del servidor: "))) << ultimo().toStdString();
        EXPECT_EQ(huella(QStringLiteral("otra_app")), otra); // still there, untouched
    }
    {
        SCOPED_TRACE("create whose staff row is refused");
        crear({QStringLiteral("fer1"),
               QStringLiteral("f"),
               QStringLiteral("Administrador"),
               std::nullopt,
               {true, false, false, false, false, false},
               QStringLiteral("Sur"),
               QStringLiteral("RECHAZADO")});
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("No se grabo el registro en la tabla de analistas\r\n")))
            << ultimo().toStdString();
        EXPECT_FALSE(leerCuenta(QStringLiteral("fer1")).existe);
    }
    {
        SCOPED_TRACE("rename onto another application's role");
        modificar(QStringLiteral("eva1"));
        escribir("TxtLogin", QStringLiteral("otra_app"));
        escribir("TxtContraseña", QStringLiteral("nueva"));
        escribir("TxtConfirmar", QStringLiteral("nueva"));
        elegirGrupo(QStringLiteral("Administrador"));
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("No se logró cambiar el nombre de usuario.\r\n")))
            << ultimo().toStdString();
        EXPECT_GT(ultimo().size(), 45); // the server's text follows
        // The mode and the form stay for a correction.
        EXPECT_TRUE(c<QRadioButton>("OptModificarUsuario")->isChecked());
        EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("otra_app"));
        click(w(), "BtnCancelar");
    }
    {
        SCOPED_TRACE("change whose staff row is refused");
        modificar(QStringLiteral("eva1"));
        escribir("TxtContraseña", QStringLiteral("nueva"));
        escribir("TxtConfirmar", QStringLiteral("nueva"));
        escribir("TxtNombre", QStringLiteral("RECHAZADO"));
        elegirGrupo(QStringLiteral("Superusuario"));
        ponerVigencia(std::nullopt);
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        EXPECT_TRUE(ultimo().startsWith(
            QStringLiteral("Ocurrió un error al intentar cambiar los valores en la tabla analistas\r\n")))
            << ultimo().toStdString();
        EXPECT_FALSE(c<QRadioButton>("OptModificarUsuario")->isChecked());
        EXPECT_TRUE(puedeEntrar(QStringLiteral("eva1"), QStringLiteral("e-1")));
    }
    {
        SCOPED_TRACE("delete of a row that others refer to");
        ASSERT_TRUE(pg.psql(QStringLiteral("INSERT INTO public.asignaciones SELECT idanalista FROM "
                                           "catalogos.analistas WHERE usuario = 'eva1';")));
        seleccionar(QStringLiteral("eva1"));
        click(w(), "OptEliminarUsuario");
        m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
        aceptar();
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("No se logró eliminar el usuario de la tabla Analistas\r\n")))
            << ultimo().toStdString();
        EXPECT_TRUE(ultimo().contains(QStringLiteral("Detalle del servidor: "))) << ultimo().toStdString();
        ASSERT_TRUE(pg.psql(QStringLiteral("DELETE FROM public.asignaciones;")));
    }
    {
        SCOPED_TRACE("delete of a login that owns objects in another database");
        ASSERT_TRUE(
            pg.psql(QStringLiteral("CREATE TABLE tabla_de_eva (id int); ALTER TABLE tabla_de_eva OWNER TO eva1;"),
                    nullptr, QStringLiteral("postgres")));
        seleccionar(QStringLiteral("eva1"));
        click(w(), "OptEliminarUsuario");
        m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
        aceptar();
        EXPECT_TRUE(ultimo().startsWith(QStringLiteral("No se logró eliminar el usuario de la tabla del sistema\r\n")))
            << ultimo().toStdString();
        EXPECT_TRUE(ultimo().contains(QStringLiteral("eva1"))) << ultimo().toStdString();
        ASSERT_TRUE(pg.psql(QStringLiteral("DROP TABLE tabla_de_eva;"), nullptr, QStringLiteral("postgres")));
    }
    EXPECT_EQ(huella(QStringLiteral("eva1")), eva);
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas")), filas);
    EXPECT_TRUE(m_dialogos.allAnswered());
}

TEST_F(Usuarios, LoginsAndPasswordsThatAreRefused) {
    abrir();
    const QString pw = QStringLiteral("pw");
    const struct {
        const char* caso;
        QString login;
        QString contrasena;
        const char* mensaje;
    } cases[] = {
        {"a quote", QStringLiteral("o'brien"), pw, "El nombre de usuario solo puede contener"},
        {"a space", QStringLiteral("ana maria"), pw, "El nombre de usuario solo puede contener"},
        {"a double quote", QStringLiteral("a\"b"), pw, "El nombre de usuario solo puede contener"},
        {"nothing", QString(), pw, "Es necesario proporcionar un nombre de usuario"},
        {"pasted letters outside A-Z", QStringLiteral("ñandú"), pw, "El nombre de usuario solo puede contener"},
        {"a quote that would widen a look-up", QStringLiteral("x' OR '1'='1"), pw, "El nombre de usuario solo puede"},
        // What the server would cut, so that the staff row would name no login.
        {"64 characters", QString(64, QLatin1Char('x')), pw,
         "El nombre de usuario no puede tener más de 63 caracteres; el que escribió tiene 64."},
        // What the staff row cannot keep: the row would hold "?" and a restore would give another password.
        {"a Polish letter", QStringLiteral("gil2"), QStringLiteral("łódź"),
         "La contraseña contiene el carácter \"ł\", que no se puede guardar"},
        {"a Greek letter", QStringLiteral("gil2"), QStringLiteral("clave-Ω"),
         "La contraseña contiene el carácter \"Ω\", que no se puede guardar"},
    };
    auto& pg = PgCluster::instance();
    const QString roles = pg.scalar(QStringLiteral("SELECT count(*) FROM pg_roles"));
    const QString filas = pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas"));
    for (const auto& caso : cases) {
        SCOPED_TRACE(caso.caso);
        click(w(), "OptCrearUsuario");
        caja("TxtContraseña")->setText(caso.contrasena);
        caja("TxtConfirmar")->setText(caso.contrasena);
        ponerModulos({true, false, false, false, false, false});
        caja("TxtLogin")->setText(caso.login); // as a paste puts it, past the key filter
        m_dialogos.clear();
        m_dialogos.answer(MsgResult::Ok);
        aceptar();
        ASSERT_EQ(m_dialogos.shown().size(), 1u);
        EXPECT_TRUE(ultimo().startsWith(QString::fromUtf8(caso.mensaje))) << ultimo().toStdString();
        EXPECT_EQ(m_dialogos.shown().back().icon, MsgIcon::Critical);
        EXPECT_TRUE(c<QRadioButton>("OptCrearUsuario")->isChecked());
    }
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM pg_roles")), roles);
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas")), filas);

    // Typed keys outside the allowed set are dropped; a paste that holds one is refused whole.
    escribir("TxtLogin", QStringLiteral("a b'_1\"-"));
    QTest::sendKeyEvent(QTest::Click, caja("TxtLogin"), Qt::Key_Ntilde, QStringLiteral("ñ"), Qt::NoModifier);
    EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("ab_1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("x y"));
    QTest::keyClick(caja("TxtLogin"), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("ab_1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("Z9"));
    QTest::keyClick(caja("TxtLogin"), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("ab_1Z9"));
}

TEST_F(Usuarios, RecordDisplayModesAndInputRules) {
    // adm: a first staff row (five flags) of a library that is not listed; usr1: an expiry.
    bool ok = false;
    const QString cinco = componerClave(kAdmin.clave, QStringLiteral("101"), kModulosPrimerAnalista, &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("UPDATE catalogos.analistas SET clave = '%1', idbiblioteca = 99 WHERE usuario = 'adm';"
                       "UPDATE catalogos.analistas SET idbiblioteca = 2 WHERE usuario = 'usr1';"
                       "ALTER ROLE usr1 VALID UNTIL '2030-02-03';")
            .arg(cinco)));
    abrir();
    EXPECT_EQ(c<QLabel>("EtNoUsuarios")->text(), QStringLiteral("3"));

    seleccionar(QStringLiteral("adm"));
    EXPECT_EQ(modulosVentana(), (ModulosAnalista{true, true, true, true, true, false}));
    EXPECT_EQ(biblioteca()->currentText(), QStringLiteral("Biblioteca 99 (no está en el catálogo)"));
    EXPECT_EQ(grupo()->currentText(), QStringLiteral("Administrador"));
    EXPECT_EQ(caja("TxtConfirmar")->text(), kMascara);
    EXPECT_TRUE(indefinido()->isChecked());
    seleccionar(QStringLiteral("usr1"));
    EXPECT_EQ(fila(QStringLiteral("usr1"))->text(1), QStringLiteral("03/02/2030 00:00:00"));
    EXPECT_FALSE(indefinido()->isChecked());
    EXPECT_EQ(c<QDateEdit>("DtpVigencia")->date(), QDate(2030, 2, 3));
    EXPECT_EQ(biblioteca()->currentText(), QStringLiteral("Norte"));
    EXPECT_FALSE(caja("TxtLogin")->isEnabled()); // the view state

    // Create mode: empty boxes, no module although the first group is selected; rows clicked meanwhile
    // change nothing.
    click(w(), "EtCrearUsuario");
    EXPECT_TRUE(c<QRadioButton>("OptCrearUsuario")->isChecked());
    EXPECT_TRUE(caja("TxtLogin")->text().isEmpty());
    EXPECT_EQ(grupo()->currentIndex(), 0);
    EXPECT_EQ(modulosVentana(), ModulosAnalista{});
    EXPECT_EQ(QApplication::focusWidget(), caja("TxtNombre"));
    seleccionar(QStringLiteral("adm"));
    EXPECT_TRUE(caja("TxtLogin")->text().isEmpty());
    // The first group again ticks every module; the second ticks "Indefinido" and locks the date.
    emit grupo()->activated(0);
    EXPECT_EQ(modulosVentana(), (ModulosAnalista{true, true, true, true, true, true}));
    indefinido()->setChecked(false);
    elegirGrupo(grupo()->itemText(1));
    EXPECT_EQ(modulosVentana(), ModulosAnalista{});
    EXPECT_TRUE(indefinido()->isChecked());
    EXPECT_FALSE(c("DtpVigencia")->isEnabled());
    click(w(), "EtIndefinido");
    EXPECT_FALSE(indefinido()->isChecked());
    EXPECT_TRUE(c("DtpVigencia")->isEnabled());

    // Keys: Enter moves on from the login and password boxes, not from the name box; braces are refused.
    caja("TxtLogin")->setFocus();
    QTest::keyClick(caja("TxtLogin"), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), caja("TxtContraseña"));
    QTest::keyClick(caja("TxtContraseña"), Qt::Key_Enter);
    EXPECT_EQ(QApplication::focusWidget(), caja("TxtConfirmar"));
    escribir("TxtConfirmar", QStringLiteral("ab"));
    m_dialogos.clear();
    m_dialogos.answer(MsgResult::Ok);
    QTest::keyClicks(caja("TxtConfirmar"), QStringLiteral("{"));
    EXPECT_EQ(m_dialogos.texts(), QStringList{QStringLiteral("Caracter no válido, favor de ingresar otro")});
    EXPECT_EQ(caja("TxtConfirmar")->text(), QStringLiteral("ab"));
    caja("TxtNombre")->setFocus();
    QTest::keyClick(caja("TxtNombre"), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), caja("TxtNombre"));

    // Modify mode entered from create mode shows the selected account, not the create form.
    click(w(), "OptModificarUsuario");
    EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("adm"));
    EXPECT_EQ(caja("TxtContraseña")->text(), kMascara);
    EXPECT_TRUE(indefinido()->isChecked()); // listed "Indefinida"
    EXPECT_TRUE(caja("TxtLogin")->isEnabled());

    // Cancel: the view state and the row again.
    click(w(), "BtnCancelar");
    EXPECT_FALSE(c<QRadioButton>("OptModificarUsuario")->isChecked());
    EXPECT_FALSE(caja("TxtLogin")->isEnabled());
    EXPECT_FALSE(c("BtnUsuariosAceptar")->isEnabled());
    EXPECT_EQ(caja("TxtLogin")->text(), QStringLiteral("adm"));

    // Navigation by display order, and sorting by a column's text.
    click(w(), "BtnPrimero");
    const QString primero = lista()->currentItem()->text(0);
    click(w(), "BtnAnterior");
    EXPECT_EQ(lista()->currentItem()->text(0), primero);
    EXPECT_EQ(caja("TxtLogin")->text(), primero);
    click(w(), "BtnFinal");
    const QString ultimoListado = lista()->currentItem()->text(0);
    click(w(), "BtnSiguiente");
    EXPECT_EQ(lista()->currentItem()->text(0), ultimoListado);
    auto orden = [this] {
        QStringList l;
        for (int i = 0; i < lista()->topLevelItemCount(); ++i) {
            l << lista()->topLevelItem(i)->text(0);
        }
        return l;
    };
    emit lista()->header()->sectionClicked(0);
    EXPECT_EQ(orden(), (QStringList{QStringLiteral("usr1"), QStringLiteral("jefe"), QStringLiteral("adm")}));
    emit lista()->header()->sectionClicked(0);
    EXPECT_EQ(orden(), (QStringList{QStringLiteral("adm"), QStringLiteral("jefe"), QStringLiteral("usr1")}));
    emit lista()->header()->sectionClicked(1); // ascending by the validity text
    EXPECT_EQ(orden().first(), QStringLiteral("usr1"));
}

TEST_F(Usuarios, TheLibrariesEditorReturnsToTheFormBeingEdited) {
    abrir();
    modificar(QStringLiteral("usr1"));
    elegirGrupo(QStringLiteral("Usuario-Nivel2"));
    ponerVigencia(QDate(2034, 5, 6));
    ponerModulos({false, false, true, false, false, false});
    m_enCatalogos = [] {
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre) VALUES (4, 'Oriente');")));
    };
    click(w(), "BtnBibliotecas");
    EXPECT_EQ(m_catalogos, 1);
    EXPECT_EQ(w().activaciones(), 2);
    EXPECT_GE(biblioteca()->findText(QStringLiteral("Oriente")), 0);
    EXPECT_TRUE(c<QRadioButton>("OptModificarUsuario")->isChecked());
    EXPECT_EQ(grupo()->currentText(), QStringLiteral("Usuario-Nivel2"));
    EXPECT_EQ(c<QDateEdit>("DtpVigencia")->date(), QDate(2034, 5, 6));
    EXPECT_EQ(modulosVentana(), (ModulosAnalista{false, false, true, false, false, false}));
    elegirBiblioteca(QStringLiteral("Oriente"));
    m_dialogos.answer(MsgResult::Ok);
    aceptar();
    EXPECT_EQ(ultimo(), kModificada);
    comprobar(QStringLiteral("usr1"), QString()); // the fixture's row held no readable password
    EXPECT_EQ(leerCuenta(QStringLiteral("usr1")).biblioteca, 4);
    EXPECT_TRUE(m_dialogos.shown().size() == 1u) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
}

TEST_F(Usuarios, AnAdministratorNeverSeesTheSuperuserGroup) {
    // Rights an installed server gives the administrators' group.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "DO $$DECLARE s text; BEGIN FOREACH s IN ARRAY ARRAY['adquis','analisis','catalogos','config_veliro',"
        "'consultas_biblioteca','indizados','inventarios','metadata','prestamo','retroalimentacion','servicios'] "
        "LOOP EXECUTE format('GRANT USAGE ON SCHEMA %I TO v7_super, v7_admin, v7_usuario1, v7_usuario2', s); "
        "EXECUTE format('GRANT ALL ON ALL SEQUENCES IN SCHEMA %I TO v7_admin', s); END LOOP; END$$;")));
    // The installation's superuser made the staff rows private when it first set the groups up.
    ASSERT_EQ(ProtegerAnalistas(), QString());
    reiniciarSesion();
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    sesion().TipoUsuario = QStringLiteral("administrador");
    abrir();
    EXPECT_TRUE(m_dialogos.shown().empty()) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(grupo()->findText(QStringLiteral("Superusuario")), -1);
    EXPECT_EQ(grupo()->count(), 3);
    EXPECT_EQ(fila(kJefe.usuario), nullptr); // a member of v7_super
    EXPECT_NE(fila(kAdmin.usuario), nullptr);
}

// An administrator, whose session may not name the superuser attribute, creates an account, changes its name and
// group in one acceptance, moves it down again, and deletes it; the superuser's row stays out of its reach.
TEST_F(Usuarios, AnAdministratorCreatesChangesAndDeletesAnAccount) {
    // The rights an installation gives the administrators' group on every table; the superuser's window then
    // sets the groups up and keeps the staff rows private.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "DO $$DECLARE s text; BEGIN FOREACH s IN ARRAY ARRAY['adquis','analisis','catalogos','config_veliro',"
        "'consultas_biblioteca','indizados','inventarios','metadata','prestamo','retroalimentacion','servicios'] "
        "LOOP EXECUTE format('GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA %I TO v7_admin', s); "
        "END LOOP; END$$;")));
    abrir();
    const QString filaJefe = huella(kJefe.usuario);
    sesionDe(kAdmin, QStringLiteral("administrador"));
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("ALTER ROLE adm CREATEROLE;")));
    abrir();
    EXPECT_TRUE(m_dialogos.shown().empty()) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();

    crear({QStringLiteral("eva1"),
           QStringLiteral("e-1"),
           QStringLiteral("Usuario-Nivel1"),
           QDate(2031, 5, 2),
           {true, false, true, false, false, false},
           QStringLiteral("Norte"),
           {}});
    ASSERT_EQ(ultimo(), kCreada);
    comprobar(QStringLiteral("eva1"), QStringLiteral("e-1"), true);

    modificar(QStringLiteral("eva1"));
    escribir("TxtLogin", QStringLiteral("fer1"));
    escribir("TxtContraseña", QStringLiteral("f-2"));
    escribir("TxtConfirmar", QStringLiteral("f-2"));
    elegirGrupo(QStringLiteral("Administrador"));
    m_dialogos.answer(MsgResult::Ok);
    aceptar();
    ASSERT_EQ(ultimo(), kModificada);
    EXPECT_FALSE(leerCuenta(QStringLiteral("eva1")).existe);
    comprobar(QStringLiteral("fer1"), QStringLiteral("f-2"), true);

    modificar(QStringLiteral("fer1"));
    elegirGrupo(QStringLiteral("Usuario-Nivel2"));
    m_dialogos.answer(MsgResult::Ok);
    aceptar();
    ASSERT_EQ(ultimo(), kModificada);
    comprobar(QStringLiteral("fer1"), QStringLiteral("f-2"));

    seleccionar(QStringLiteral("fer1"));
    click(w(), "OptEliminarUsuario");
    m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
    aceptar();
    EXPECT_EQ(ultimo(), QStringLiteral("El usuario \" fer1 \" ha sido eliminado de la base de datos"));
    const Cuenta borrada = leerCuenta(QStringLiteral("fer1"));
    EXPECT_FALSE(borrada.existe);
    EXPECT_EQ(borrada.filas, 0);
    EXPECT_EQ(huella(kJefe.usuario).section(QStringLiteral(" | "), 0, 2),
              filaJefe.section(QStringLiteral(" | "), 0, 2));
    EXPECT_TRUE(m_dialogos.allAnswered());
}

TEST_F(Usuarios, ClosingIsRefusedWhileTheGroupsAreBeingSetUp) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP OWNED BY v7_usuario2; DROP ROLE v7_usuario2;")));
    m_ventana = std::make_unique<FrmUsuarios>();
    int intentos = 0;
    bool cerro = true;
    QTimer intento;
    intento.setInterval(1);
    QObject::connect(&intento, &QTimer::timeout, [&] {
        if (m_ventana->permisosEnProceso() && intentos == 0) {
            ++intentos;
            cerro = m_ventana->close();
        }
    });
    m_dialogos.answer(MsgResult::Ok);
    intento.start();
    m_ventana->show();
    ASSERT_TRUE(esperarHasta([this] { return m_ventana->activaciones() == 1; }));
    intento.stop();
    EXPECT_EQ(intentos, 1);
    EXPECT_FALSE(cerro);
    EXPECT_EQ(m_dialogos.texts(),
              QStringList{QStringLiteral("Espere un momento por favor, en estos momentos se estan\r\n"
                                         "inicializando los permisos de acceso al servidor de "
                                         "base\r\nde datos.")});
    EXPECT_EQ(m_dialogos.shown().back().icon, MsgIcon::Warning);
    EXPECT_TRUE(m_ventana->isVisible());
    EXPECT_FALSE(m_ventana->permisosEnProceso());
    EXPECT_TRUE(m_ventana->close());
    // Shown again, it finds the groups in place: nothing to set up, nothing to say.
    m_ventana->show();
    ASSERT_TRUE(esperarHasta([this] { return m_ventana->activaciones() == 2; }));
    EXPECT_EQ(m_dialogos.shown().size(), 1u);
    EXPECT_EQ(lista()->topLevelItemCount(), 3);
}

TEST_F(Usuarios, TheConsoleWaitsForTheStaffWindowAndClosesIt) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP OWNED BY v7_usuario2; DROP ROLE v7_usuario2;")));
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    consola.show();
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }));
    bool rehusada = false, conexionAbierta = false, cerrada = false;
    QTimer t;
    t.setInterval(1);
    QObject::connect(&t, &QTimer::timeout, [&] {
        auto* u = consola.findChild<FrmUsuarios*>(QStringLiteral("FrmUsuarios"));
        if (u == nullptr) {
            return;
        }
        if (!rehusada && u->permisosEnProceso()) {
            rehusada = !consola.close();
            conexionAbierta = sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen();
        } else if (rehusada && u->activaciones() == 1) {
            t.stop();
            cerrada = consola.close();
        }
    });
    m_dialogos.answer(MsgResult::Ok); // the staff window's warning
    t.start();
    consola.BtnUsuarios_Click(); // returns when the staff window has gone
    EXPECT_TRUE(rehusada);
    EXPECT_TRUE(conexionAbierta);
    EXPECT_TRUE(cerrada);
    EXPECT_FALSE(consola.isVisible());
    EXPECT_EQ(consola.findChild<FrmUsuarios*>(QStringLiteral("FrmUsuarios")), nullptr);
    EXPECT_TRUE(m_dialogos.allAnswered());
}

// The staff window's faults, each on a freshly prepared server: what it must do instead.
TEST_F(Usuarios, CasesOfTheStaffWindow) {
    auto& pg = PgCluster::instance();
    const QString superusuario = QStringLiteral("superusuario");
    const QString administrador = QStringLiteral("administrador");
    const struct {
        const char* caso;
        std::function<void()> correr;
    } casos[] = {
        {"a login made by other tools is changed when its name is left alone",
         [&] {
             ASSERT_TRUE(pg.psql(QStringLiteral(
                 "CREATE ROLE \"Ana.María-2\" LOGIN PASSWORD 'x' IN ROLE v7_usuario1;"
                 "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('Ana.María-2', 'Ana', '');")));
             abrir();
             modificar(QStringLiteral("Ana.María-2"));
             caja("TxtNombre")->setText(QStringLiteral("Ana María"));
             ponerModulos({true, false, false, false, false, false});
             m_dialogos.answer(MsgResult::Ok);
             aceptar();
             EXPECT_EQ(ultimo(), kModificada);
             EXPECT_EQ(leerCuenta(QStringLiteral("Ana.María-2")).nombre, QStringLiteral("Ana María"));
             // A name changed to one of those characters is still refused.
             modificar(QStringLiteral("Ana.María-2"));
             caja("TxtLogin")->setText(QStringLiteral("Ana.María-3"));
             m_dialogos.answer(MsgResult::Ok);
             aceptar();
             EXPECT_TRUE(ultimo().startsWith(QStringLiteral("El nombre de usuario solo puede contener")));
         }},
        {"the second group chosen means no expiry in any mode; showing an account does not",
         [&] {
             ASSERT_TRUE(pg.psql(QStringLiteral("ALTER ROLE usr1 VALID UNTIL '2030-02-03';")));
             abrir();
             const QString segundo = NombreGrupo(grupo()->itemData(1).toInt());
             ASSERT_TRUE(pg.psql(QStringLiteral("REVOKE v7_usuario1 FROM usr1; GRANT %1 TO usr1;").arg(segundo)));
             w().Form_Activate();
             seleccionar(QStringLiteral("usr1"));
             EXPECT_EQ(grupo()->currentIndex(), 1);
             EXPECT_FALSE(indefinido()->isChecked());
             modificar(QStringLiteral("usr1"));
             EXPECT_FALSE(indefinido()->isChecked());
             elegirGrupo(grupo()->itemText(0));
             EXPECT_FALSE(indefinido()->isChecked());
             elegirGrupo(grupo()->itemText(1));
             EXPECT_TRUE(indefinido()->isChecked());
             EXPECT_FALSE(c("DtpVigencia")->isEnabled());
         }},
        {"a library the catalogue lacks is shown as such and kept",
         [&] {
             ASSERT_TRUE(
                 pg.psql(QStringLiteral("UPDATE catalogos.analistas SET idbiblioteca = 99 WHERE usuario = 'usr1';")));
             abrir();
             modificar(QStringLiteral("usr1"));
             EXPECT_EQ(biblioteca()->currentText(), QStringLiteral("Biblioteca 99 (no está en el catálogo)"));
             escribir("TxtNombre", QStringLiteral("Otro nombre"));
             ponerModulos({true, false, false, false, false, false});
             m_dialogos.answer(MsgResult::Ok);
             aceptar();
             EXPECT_EQ(ultimo(), kModificada);
             EXPECT_EQ(leerCuenta(QStringLiteral("usr1")).biblioteca, 99);
             // A new account is not offered it.
             click(w(), "OptCrearUsuario");
             EXPECT_EQ(biblioteca()->findText(QStringLiteral("Biblioteca 99 (no está en el catálogo)")), -1);
         }},
        {"an administrator deletes an account that owns nothing, and is told why it cannot otherwise",
         [&] {
             abrir(); // the superuser's window set everything up, as at installation
             crear({QStringLiteral("fer1"),
                    QStringLiteral("f"),
                    QStringLiteral("Usuario-Nivel1"),
                    std::nullopt,
                    {true, false, false, false, false, false},
                    QStringLiteral("Sur"),
                    {}});
             ASSERT_EQ(ultimo(), kCreada);
             ASSERT_TRUE(pg.psql(QStringLiteral(
                 "CREATE ROLE eva1 LOGIN IN ROLE v7_usuario1; CREATE ROLE gil2 LOGIN IN ROLE v7_usuario2;"
                 "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('eva1', 'Eva', ''), ('gil2', "
                 "'Gil', '');"
                 "CREATE TABLE public.tabla_de_eva (id int); ALTER TABLE public.tabla_de_eva OWNER TO eva1;"
                 "GRANT CONNECT ON DATABASE veliro7 TO gil2; ALTER ROLE adm CREATEROLE;")));
             sesionDe(kAdmin, administrador);
             abrir();
             // The login and its row (not the table's count, which the first deletion changes).
             auto cuenta = [](const char* login) {
                 return huella(QString::fromUtf8(login)).section(QStringLiteral(" | "), 0, 2);
             };
             const QString eva = cuenta("eva1");
             const QString gil = cuenta("gil2");
             const struct {
                 const char* login;
                 const char* mensaje;
             } borrados[] = {
                 {"fer1", "El usuario \" fer1 \" ha sido eliminado de la base de datos"},
                 {"eva1", "No se puede eliminar al usuario \"eva1\": es dueño de objetos de la base de datos"},
                 {"gil2", "No se logró eliminar el usuario de la tabla del sistema\r\nEl usuario tiene permisos que "
                          "solo una sesión de superusuario puede quitar."},
             };
             for (const auto& b : borrados) {
                 SCOPED_TRACE(b.login);
                 seleccionar(QString::fromUtf8(b.login));
                 click(w(), "OptEliminarUsuario");
                 m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
                 aceptar();
                 EXPECT_TRUE(ultimo().startsWith(QString::fromUtf8(b.mensaje))) << ultimo().toStdString();
             }
             EXPECT_FALSE(leerCuenta(QStringLiteral("fer1")).existe);
             EXPECT_EQ(leerCuenta(QStringLiteral("fer1")).filas, 0);
             EXPECT_EQ(cuenta("eva1"), eva);
             EXPECT_EQ(cuenta("gil2"), gil);
         }},
        {"an administrator's window comes up without a box where there is nothing to grant",
         [&] {
             abrir(); // the superuser's set-up: metadata holds only a sequence, its grants are made
             sesionDe(kAdmin, administrador);
             m_dialogos.clear();
             abrir();
             EXPECT_TRUE(m_dialogos.shown().empty()) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
         }},
        {"the first staff row is written once, also when schema reportes has a table",
         [&] {
             ASSERT_TRUE(pg.psql(QStringLiteral(
                 "DELETE FROM catalogos.analistas WHERE usuario = 'jefe';"
                 "CREATE SCHEMA reportes; CREATE TABLE reportes.plantillas (idplantilla serial, nombre text);")));
             abrir();
             EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas WHERE usuario = 'jefe'")),
                       QStringLiteral("1"));
             EXPECT_EQ(leerCuenta(kJefe.usuario).permiso.contrasena, kJefe.clave);
             EXPECT_TRUE(m_dialogos.shown().empty()) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
         }},
        {"the session's own account is not deleted, and the window says why",
         [&] {
             abrir();
             const QString antes = huella(kJefe.usuario);
             seleccionar(kJefe.usuario);
             click(w(), "OptEliminarUsuario");
             m_dialogos.answer(MsgResult::Yes).answer(MsgResult::Ok);
             aceptar();
             EXPECT_EQ(m_dialogos.shown().front().porDefecto, MsgResult::No);
             EXPECT_EQ(ultimo(), QStringLiteral("No se puede eliminar al usuario \"jefe\": es el usuario con el que "
                                                "se inició esta sesión."));
             EXPECT_EQ(huella(kJefe.usuario), antes);
         }},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        TearDown();
        m_dialogos.clear();
        SetUp();
        sesion().TipoUsuario = superusuario;
        caso.correr();
        EXPECT_TRUE(m_dialogos.allAnswered());
    }
}

// Another session holds the staff table against writes: each action ends with its message once the limit has
// passed, nothing of it done, and the window's thread never stops meanwhile.
TEST_F(Usuarios, ActionsOnALockedTableEndWithTheirMessageAndTheWindowKeepsAnswering) {
    abrir();
    TablaOcupada tabla(QStringLiteral("catalogos.analistas"), QStringLiteral("SHARE"));
    const QString ocupada = QStringLiteral("\r\nOtra sesión está usando estos datos");
    const struct {
        const char* accion;
        std::function<void()> preparar;
        const char* mensaje;
    } acciones[] = {
        {"create",
         [&] {
             click(w(), "OptCrearUsuario");
             escribir("TxtNombre", QStringLiteral("Gil"));
             escribir("TxtLogin", QStringLiteral("gil2"));
             escribir("TxtContraseña", QStringLiteral("g"));
             escribir("TxtConfirmar", QStringLiteral("g"));
             elegirGrupo(QStringLiteral("Usuario-Nivel2"));
             ponerModulos({true, false, false, false, false, false});
         },
         "No se grabo el registro en la tabla de analistas"},
        {"modify",
         [&] {
             modificar(QStringLiteral("usr1"));
             escribir("TxtNombre", QStringLiteral("Otro"));
             elegirGrupo(QStringLiteral("Administrador"));
             ponerModulos({true, false, false, false, false, false});
         },
         "Ocurrió un error al intentar cambiar los valores en la tabla analistas"},
        {"delete",
         [&] {
             seleccionar(QStringLiteral("usr1"));
             click(w(), "OptEliminarUsuario");
             m_dialogos.answer(MsgResult::Yes);
         },
         "No se logró eliminar el usuario de la tabla Analistas"},
    };
    for (const auto& a : acciones) {
        SCOPED_TRACE(a.accion);
        const QString usr1 = huella(QStringLiteral("usr1"));
        a.preparar();
        m_dialogos.answer(MsgResult::Ok);
        Cronometro reloj;
        Pausas latido;
        aceptar();
        EXPECT_TRUE(latido.siempreAtendio()) << latido.informe();
        EXPECT_GE(reloj.largo(), 4500) << m_dialogos.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(ultimo().startsWith(QString::fromUtf8(a.mensaje) + ocupada)) << ultimo().toStdString();
        EXPECT_FALSE(leerCuenta(QStringLiteral("gil2")).existe);
        EXPECT_EQ(huella(QStringLiteral("usr1")), usr1);
        click(w(), "BtnCancelar");
    }
    EXPECT_TRUE(tabla.soltar());
    EXPECT_TRUE(m_dialogos.allAnswered());
}

TEST_F(Usuarios, EveryButtonHasANameAndEveryLabelShowsItsWholeText) {
    abrir();
    for (QAbstractButton* b : w().findChildren<QAbstractButton*>()) {
        EXPECT_FALSE(nombreAccesible(b).isEmpty()) << b->objectName().toStdString();
    }
    // The picture buttons say what their picture shows.
    const struct {
        const char* boton;
        const char* nombre;
    } imagenes[] = {{"BtnBibliotecas", "Bibliotecas"},
                    {"BtnPrimero", "Primero"},
                    {"BtnAnterior", "Anterior"},
                    {"BtnSiguiente", "Siguiente"},
                    {"BtnFinal", "Último"}};
    for (const auto& i : imagenes) {
        auto* b = c<QAbstractButton>(i.boton);
        EXPECT_EQ(nombreAccesible(b), QString::fromUtf8(i.nombre));
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(i.nombre));
    }
    // "Nombre de Usuario:" and the others keep their colons on screen.
    for (QLabel* l : w().findChildren<QLabel*>()) {
        if (!l->text().isEmpty() && l->isVisibleTo(&w())) {
            EXPECT_LE(l->sizeHint().width(), l->width()) << l->text().toStdString();
        }
    }
}

TEST_F(Usuarios, Screenshots) {
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    abrir();
    seleccionar(QStringLiteral("usr1"));
    EXPECT_TRUE(w().grab().save(dir + QStringLiteral("/usuarios_consulta.png")));
    click(w(), "OptCrearUsuario");
    caja("TxtNombre")->setText(QStringLiteral("Gilberto Díaz"));
    escribir("TxtLogin", QStringLiteral("gil2"));
    escribir("TxtContraseña", QStringLiteral("secreto"));
    escribir("TxtConfirmar", QStringLiteral("secreto"));
    elegirGrupo(QStringLiteral("Usuario-Nivel2"));
    ponerModulos({true, true, false, true, false, false});
    elegirBiblioteca(QStringLiteral("Norte"));
    EXPECT_TRUE(w().grab().save(dir + QStringLiteral("/usuarios_crear.png")));
    click(w(), "BtnCancelar");
    modificar(QStringLiteral("adm"));
    EXPECT_TRUE(w().grab().save(dir + QStringLiteral("/usuarios_modificar.png")));
    click(w(), "BtnCancelar");
    seleccionar(QStringLiteral("jefe"));
    click(w(), "OptEliminarUsuario");
    EXPECT_TRUE(w().grab().save(dir + QStringLiteral("/usuarios_eliminar.png")));
    EXPECT_TRUE(m_dialogos.shown().empty());
}

} // namespace
