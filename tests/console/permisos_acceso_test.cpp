// Client-address rules: the rules file read and rewritten (golden files), every written file
// accepted by the test server with logins still working after the reload, and the window's allow,
// deny, remove and save with their failures.
#include "console/FrmInicio.h"
#include "console/FrmPermisosAcceso.h"
#include "console/reglas_acceso.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7;
using namespace v7::test;

namespace {

const QString kFijos = QStringLiteral(V7_SOURCE_DIR "/tests/console/reglas/");

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void escribir(const QString& ruta, const QByteArray& datos) {
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << ruta.toStdString();
    f.write(datos);
}

ReglaIp fila(const char* direccion, const char* mascara, const char* acceso, const char* comentario,
             const char* metodo = "") {
    return ReglaIp{QString::fromUtf8(direccion), QString::fromUtf8(mascara), QString::fromUtf8(acceso),
                   QString::fromUtf8(comentario), QString::fromUtf8(metodo)};
}

std::string mostrar(const QVector<ReglaIp>& filas) {
    QStringList l;
    for (const ReglaIp& r : filas) {
        l << QStringList{r.direccion, r.mascara, r.acceso, r.comentario, r.metodo}.join(QLatin1Char('|'));
    }
    return l.join(QLatin1Char('\n')).toStdString();
}

// The golden cases: the file, the rows the window shows, then one row removed and one added as the
// window does it (a new row has no method of its own).
struct CasoReglas {
    const char* nombre;
    QVector<ReglaIp> filas;
    QString quitar;
    ReglaIp agregar;
    int advertencias = 0; // lines the server loads with a warning
};

const std::vector<CasoReglas>& casos() {
    static const std::vector<CasoReglas> c = {
        {"stock-trust",
         {fila("127.0.0.1", "32", "SI", "", "trust")},
         QStringLiteral("127.0.0.1"),
         fila("127.0.0.1", "32", "SI", "equipo local")},
        {"stock-scram",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256")},
         QStringLiteral("127.0.0.1"),
         fila("127.0.0.1", "255.255.255.255", "SI", "")},
        {"ejemplos",
         {fila("127.0.0.1", "32", "SI", "", "md5"), fila("192.168.0.0", "255.255.255.0", "SI", "aula", "trust"),
          fila("192.168.1.0", "24", "SI", "Oficina", "md5")},
         QStringLiteral("192.168.1.0"),
         fila("10.0.0.0", "8", "NO", "Red 10")},
        {"tabuladores",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256"), fila("10.1.0.0", "255.255.0.0", "SI", "sucursal", "md5")},
         QStringLiteral("10.1.0.0"),
         fila("10.2.0.0", "16", "SI", "sucursal 2")},
        {"hostssl",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256"),
          fila("192.168.5.0", "24", "SI", "laboratorio", "password")},
         QStringLiteral("192.168.5.0"),
         fila("192.168.6.0", "24", "SI", ""),
         1},
        {"una-base",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256"), fila("10.7.0.0", "16", "NO", "sin acceso", "reject")},
         QStringLiteral("10.7.0.0"),
         fila("10.8.0.0", "255.255.0.0", "SI", "")},
        {"opciones",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256"),
          fila("10.10.0.0", "16", "SI", "con comentario", "scram-sha-256"),
          fila("10.11.0.0", "16", "SI", "", "scram-sha-256")},
         QStringLiteral("10.11.0.0"),
         fila("10.12.0.0", "16", "SI", "")},
    };
    return c;
}

QByteArray escritoTrasEditar(const CasoReglas& caso, ArchivoReglas* leido = nullptr) {
    const ArchivoReglas a = leerReglas(leer(kFijos + QString::fromUtf8(caso.nombre) + QStringLiteral(".conf")));
    if (leido != nullptr) {
        *leido = a;
    }
    QVector<ReglaIp> filas = a.reglas;
    filas.removeIf([&](const ReglaIp& r) { return r.direccion == caso.quitar; });
    filas.append(caso.agregar);
    return escribirReglas(a, filas, true);
}

// ---------------------------------------------------------------- the test server

// The test server's own rules file, put back and reloaded when the test ends: the other tests of
// this program log in through it.
class ReglasDelServidor {
public:
    ReglasDelServidor()
        : m_ruta(PgCluster::instance().dataFolder() + QStringLiteral("/pg_hba.conf")), m_original(leer(m_ruta)) {}
    ~ReglasDelServidor() {
        escribir(m_ruta, m_original);
        QFile::remove(m_ruta + QStringLiteral(".bak"));
        recargar();
    }
    const QString& ruta() const { return m_ruta; }
    const QByteArray& original() const { return m_original; }
    void poner(const QByteArray& contenido) const { escribir(m_ruta, contenido); }
    static void recargar() {
        auto& c = PgCluster::instance();
        EXPECT_EQ(
            c.runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("reload"), QStringLiteral("-D"), c.dataFolder()}),
            0);
    }

private:
    QString m_ruta;
    QByteArray m_original;
};

int vecesEnBitacora(const char* texto) {
    return int(PgCluster::instance().logTail(1000000).count(QString::fromUtf8(texto)));
}

// A login as the superuser with its password: over TCP to 127.0.0.1, or through the socket folder.
bool entrar(bool porSocket) {
    auto& c = PgCluster::instance();
    QProcess psql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), c.password());
    env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
    psql.setProcessEnvironment(env);
    const QString host = porSocket ? QFileInfo(c.dataFolder()).absolutePath() : c.host();
    psql.start(c.binFolder() + QStringLiteral("/psql"),
               {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-h"), host,
                QStringLiteral("-p"), QString::number(c.port()), QStringLiteral("-U"), c.superuser(),
                QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"), QStringLiteral("SELECT 1")});
    psql.waitForFinished(30000);
    return psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0 &&
           psql.readAllStandardOutput().trimmed() == "1";
}

// After a reload: the server took it (it says so in its log, and did not keep its old rules) and
// both kinds of login work under the new rules.
void esperarRecargaYEntrar(int recargasAntes, int rechazosAntes) {
    EXPECT_TRUE(esperarHasta([&] { return vecesEnBitacora("received SIGHUP") > recargasAntes; }));
    EXPECT_TRUE(entrar(false)) << "TCP";
    EXPECT_TRUE(entrar(true)) << "socket";
    EXPECT_EQ(vecesEnBitacora("was not reloaded"), rechazosAntes) << PgCluster::instance().logTail().toStdString();
}

// ---------------------------------------------------------------- the file, line by line

TEST(ReglasAcceso, RowsAndWrittenTextMatchTheGoldenFiles) {
    for (const CasoReglas& caso : casos()) {
        SCOPED_TRACE(caso.nombre);
        ArchivoReglas leido;
        const QByteArray escrito = escritoTrasEditar(caso, &leido);
        EXPECT_EQ(leido.reglas, caso.filas) << mostrar(leido.reglas);
        const QString esperado = kFijos + QString::fromUtf8(caso.nombre) + QStringLiteral(".esperado");
        if (escrito != leer(esperado)) {
            // The text actually written, for a reviewer to compare.
            QDir().mkpath(QStringLiteral("reglas-salida"));
            escribir(QStringLiteral("reglas-salida/") + QFileInfo(esperado).fileName(), escrito);
            ADD_FAILURE() << "differs from " << esperado.toStdString() << "; written to "
                          << QDir::current().filePath(QStringLiteral("reglas-salida")).toStdString();
        }
        // Read back and written again unchanged: the same bytes (the loopback copy is not doubled).
        const ArchivoReglas otraVez = leerReglas(escrito);
        EXPECT_EQ(escribirReglas(otraVez, otraVez.reglas, true), escrito);
    }
}

TEST(ReglasAcceso, OnlyPlainIPv4RulesForEveryoneAreRows) {
    const struct {
        const char* linea;
        bool esFila;
    } tabla[] = {
        {"host all all 10.0.0.0/8 md5 # c", true},
        {"host\tall\tall\t10.0.0.0 255.0.0.0\treject", true},
        {"host all all 10.0.0.0/8", false},                          // no method
        {"host all all 10.0.0.0/8 md5 clientcert=verify-ca", false}, // options
        {"host all all 10.0.0.0/8 nomethod", false},                 // unknown method
        {"HOST all all 10.0.0.0/8 md5", false},                      // the server's keywords are lower case
        {"host all all 10.0.0.01/8 md5", false},                     // a leading zero reads as octal
        {"host all all 10.0.0.0/33 md5", false},                     // mask out of range
        {"host all all 10.0.0.0 255.0.255.0 md5", false},            // non-contiguous mask
        {"host all all 10.0.0.0 md5", false},                        // address without mask
        {"host all all samenet md5", false},                         // keyword address
        {"host all all ::1/128 md5", false},                         // IPv6
        {"hostnossl all all 10.0.0.0/8 md5", false},
        {"host all all,jefe 10.0.0.0/8 md5", false},
        {"# host all all 10.0.0.0/8 md5", false},
    };
    for (const auto& t : tabla) {
        EXPECT_EQ(reglaDeLinea(QString::fromUtf8(t.linea), nullptr), t.esFila) << t.linea;
    }
}

TEST(ReglasAcceso, InputChecks) {
    const struct {
        const char* direccion;
        const char* mascara;
        ErrorEntrada error;
    } tabla[] = {
        {"192.168.1.0", "24", ErrorEntrada::Ninguno},
        {"0.0.0.0", "0", ErrorEntrada::Ninguno},
        {"255.255.255.255", "32", ErrorEntrada::Ninguno},
        {"10.0.0.0", "255.255.255.254", ErrorEntrada::Ninguno},
        {"10.0.0.0", "0.0.0.0", ErrorEntrada::Ninguno},
        {"", "24", ErrorEntrada::DireccionVacia},
        {"10.0.0.0", "", ErrorEntrada::MascaraVacia},
        {"999.1.1.1", "24", ErrorEntrada::DireccionNoValida},
        {"10.0.0", "24", ErrorEntrada::DireccionNoValida},
        {"10.0.0.0.0", "24", ErrorEntrada::DireccionNoValida},
        {"10..0.0", "24", ErrorEntrada::DireccionNoValida},
        {"192.168.010.1", "24", ErrorEntrada::DireccionNoValida},
        {"10.0.0.0", "33", ErrorEntrada::MascaraNoValida},
        {"10.0.0.0", "08", ErrorEntrada::MascaraNoValida},
        {"10.0.0.0", "255.0.255.0", ErrorEntrada::MascaraNoValida},
        {"10.0.0.0", "255.255.256.0", ErrorEntrada::MascaraNoValida},
        {"10.0.0.0", "255.255.255", ErrorEntrada::MascaraNoValida},
    };
    for (const auto& t : tabla) {
        EXPECT_EQ(validarEntrada(QString::fromUtf8(t.direccion), QString::fromUtf8(t.mascara)), t.error)
            << t.direccion << " " << t.mascara;
    }
    // A comment is one line whatever was pasted into it: it cannot start a rule of its own.
    const QString linea = lineaRegla(fila("10.0.0.0", "8", "SI", "Aula\r\nhost all all 0.0.0.0/0 trust"));
    EXPECT_EQ(linea, QStringLiteral("host    all         all         10.0.0.0/8          scram-sha-256     #Aula  host "
                                    "all all 0.0.0.0/0 trust"));
}

TEST(ReglasAcceso, EveryWrittenFileIsAcceptedAndLoginsWorkAfterTheReload) {
    ASSERT_EQ(conectarSesion(), QString());
    ReglasDelServidor reglas;
    for (const CasoReglas& caso : casos()) {
        SCOPED_TRACE(caso.nombre);
        reglas.poner(escritoTrasEditar(caso));
        QVector<RechazoRegla> rechazos;
        QString error;
        ASSERT_TRUE(verificarArchivoReglas(&rechazos, &error)) << error.toStdString();
        EXPECT_TRUE(rechazos.isEmpty()) << rechazos.value(0).error.toStdString();
        EXPECT_EQ(PgCluster::instance().scalar(
                      QStringLiteral("SELECT count(*) FROM pg_hba_file_rules WHERE error IS NOT NULL")),
                  QString::number(caso.advertencias));
        const int recargas = vecesEnBitacora("received SIGHUP");
        const int rechazosAntes = vecesEnBitacora("was not reloaded");
        ReglasDelServidor::recargar();
        esperarRecargaYEntrar(recargas, rechazosAntes);
    }
    reiniciarSesion();
}

// ---------------------------------------------------------------- the window

class VentanaPermisos : public PruebaConServidor {
protected:
    std::unique_ptr<FrmInicio> consola(const Login& login = kJefe) {
        VentanasConsola v = VentanasConsola::predeterminadas();
        v.login = [this, login](QWidget*) { return m_server->iniciarSesion(login) ? QStringLiteral("OK") : QString(); };
        auto c = std::make_unique<FrmInicio>(v);
        EXPECT_TRUE(c->Form_Load());
        return c;
    }
    // A copy of the test server's installation folder holding only a rules file: for logins that may
    // not ask the server where its file is.
    QString instalacionCon(const QByteArray& reglas) {
        const QString datos = m_instalacion.path() + QStringLiteral("data");
        EXPECT_TRUE(QDir().mkpath(datos));
        escribir(datos + QStringLiteral("/pg_hba.conf"), reglas);
        return m_instalacion.path();
    }

    static QLineEdit* caja(const QWidget& w, const char* name) { return hijo<QLineEdit>(w, name); }
    static void escribirEn(const QWidget& w, const char* name, const QString& texto) {
        caja(w, name)->clear();
        QTest::keyClicks(caja(w, name), texto);
    }
    static void pegarEn(const QWidget& w, const char* name, const QString& texto) {
        QApplication::clipboard()->setText(texto);
        QTest::keySequence(caja(w, name), QKeySequence::Paste);
    }
    static void agregar(const QWidget& w, const char* boton, const QString& ip, const QString& mascara,
                        const QString& comentario = QString()) {
        escribirEn(w, "TxtPermisosIP", ip);
        escribirEn(w, "TxtPermisosMascara", mascara);
        caja(w, "TxtComentario")->setText(comentario);
        click(w, boton);
    }
    static QString conteo(const QWidget& w) { return hijo<QLabel>(w, "EtPermisosDirecciones")->text(); }
    static QTreeWidgetItem* filaDe(const QWidget& w, const QString& direccion) {
        auto* l = hijo<QTreeWidget>(w, "ListIP");
        for (int i = 0; i < l->topLevelItemCount(); ++i) {
            if (l->topLevelItem(i)->text(0) == direccion) {
                return l->topLevelItem(i);
            }
        }
        return nullptr;
    }
    static void clickEnFila(const QWidget& w, const QString& direccion) {
        auto* l = hijo<QTreeWidget>(w, "ListIP");
        QTreeWidgetItem* item = filaDe(w, direccion);
        ASSERT_NE(item, nullptr);
        l->scrollToItem(item);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(item).center());
    }

    ScriptedDialogs m_dialogs;
    ReglasDelServidor m_reglas;
    TempDir m_instalacion;
};

const QString kLineaServidor =
    QStringLiteral("host    all             all             127.0.0.1/32            scram-sha-256\n");

TEST_F(VentanaPermisos, AllowDenyRemoveAndSaveAppliesTheRules) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    w.show();
    ASSERT_EQ(w.archivo(), m_reglas.ruta());
    EXPECT_EQ(w.filas(), QVector<ReglaIp>{fila("127.0.0.1", "32", "SI", "", "scram-sha-256")});
    EXPECT_EQ(conteo(w), QStringLiteral("1"));

    // Allowing a new address adds a row and empties the boxes; denying keeps them.
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"), QStringLiteral("Aula"));
    EXPECT_EQ(conteo(w), QStringLiteral("2"));
    EXPECT_TRUE(caja(w, "TxtPermisosIP")->text().isEmpty());
    agregar(w, "BtnPermisoDenegar", QStringLiteral("10.9.9.0"), QStringLiteral("255.255.255.0"),
            QStringLiteral("Prueba"));
    EXPECT_EQ(conteo(w), QStringLiteral("3"));
    EXPECT_EQ(caja(w, "TxtPermisosIP")->text(), QStringLiteral("10.9.9.0"));
    // The same address again is the same row, changed in place.
    escribirEn(w, "TxtPermisosMascara", QStringLiteral("25"));
    click(w, "BtnPermisosPermitir");
    EXPECT_EQ(conteo(w), QStringLiteral("3"));
    EXPECT_EQ(w.filas().value(2), fila("10.9.9.0", "25", "SI", "Prueba"));

    // A click on a row puts it in the boxes; Eliminar removes the clicked row.
    clickEnFila(w, QStringLiteral("10.9.8.0"));
    EXPECT_EQ(caja(w, "TxtPermisosIP")->text(), QStringLiteral("10.9.8.0"));
    EXPECT_EQ(caja(w, "TxtPermisosMascara")->text(), QStringLiteral("24"));
    EXPECT_EQ(caja(w, "TxtComentario")->text(), QStringLiteral("Aula"));
    clickEnFila(w, QStringLiteral("10.9.9.0"));
    click(w, "BtnPermisosEliminar");
    EXPECT_EQ(conteo(w), QStringLiteral("2"));
    EXPECT_EQ(filaDe(w, QStringLiteral("10.9.9.0")), nullptr);

    // Sorted by address, ascending (the first click on the first column reverses it).
    auto* header = hijo<QTreeWidget>(w, "ListIP")->header();
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    }
    ASSERT_EQ(w.filas().value(0).direccion, QStringLiteral("10.9.8.0"));

    // The save: the window stays locked while the reload runs; clicks in the meantime do nothing.
    const int recargas = vecesEnBitacora("received SIGHUP");
    const int rechazos = vecesEnBitacora("was not reloaded");
    Muestreo muestreo(w);
    muestreo.alMuestrear([&](int) {
        click(w, "BtnSalirForma");
        click(w, "BtnPermisosGuardar");
    });
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    muestreo.detener();
    EXPECT_TRUE(muestreo.siempreBloqueada()) << muestreo.habilitadosAlgunaVez().join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Los cambios se han hecho correctamente")});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Information);
    EXPECT_TRUE(hijo<QWidget>(w, "BtnPermisosGuardar")->isEnabled());

    // In the file the rows take the place of the server's loopback rule, in the list's order, the
    // loopback one preceded by its IPv6 copy; every other line is as it was.
    QByteArray esperado = m_reglas.original();
    esperado.replace(kLineaServidor.toUtf8(),
                     "host    all         all         10.9.8.0/24          scram-sha-256     #Aula\n"
                     "host    all         all         ::1/128          scram-sha-256\n"
                     "host    all         all         127.0.0.1/32          scram-sha-256\n");
    EXPECT_EQ(leer(m_reglas.ruta()), esperado);
    EXPECT_EQ(leer(m_reglas.ruta() + QStringLiteral(".bak")), m_reglas.original());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(m_reglas.ruta()).constData(), &st), 0);
    EXPECT_EQ(QFileInfo(m_reglas.ruta()).owner(), PgCluster::instance().osOwner());
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(QFile::exists(m_reglas.ruta() + QStringLiteral(".v7tmp")));
    esperarRecargaYEntrar(recargas, rechazos);
}

TEST_F(VentanaPermisos, ALineTheServerRefusesPutsThePreviousFileBack) {
    // The administrator's own line, which the server cannot load: kept by the window, refused by the check.
    const QByteArray roto = m_reglas.original() + "host all all 10.0.0.0/8 ldap ldapserver=ldap.example.net\n";
    m_reglas.poner(roto);
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_TRUE(texto.startsWith(QStringLiteral("El servidor no acepta el archivo de configuración; los cambios no se "
                                                "aplicaron.\r\nLínea ")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral(": host all all 10.0.0.0/8 ldap ldapserver=ldap.example.net\r\nError: "
                                              "authentication method \"ldap\" requires argument")))
        << texto.toStdString();
    EXPECT_TRUE(texto.endsWith(QStringLiteral("Se restauró el archivo anterior.")));
    EXPECT_EQ(leer(m_reglas.ruta()), roto);
}

TEST_F(VentanaPermisos, AFileTheServerCannotCheckForThisLoginIsPutBack) {
    // An administrator's login may not read pg_hba_file_rules: nothing unchecked stays in place.
    auto c = consola(kAdmin);
    const QByteArray original = leer(kFijos + QStringLiteral("stock-scram.conf"));
    sesion().RutaPostgres = instalacionCon(original);
    FrmPermisosAcceso w(c.get(), c.get());
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se pudo verificar el archivo de configuración con el servidor; los "
                                                "cambios no se aplicaron.\r\nError: ")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("pg_hba_file_rules")));
    EXPECT_TRUE(texto.endsWith(QStringLiteral("\r\nSe restauró el archivo anterior.")));
    EXPECT_EQ(leer(w.archivo()), original);
    EXPECT_EQ(leer(w.archivo() + QStringLiteral(".bak")), original);
}

TEST_F(VentanaPermisos, AFileThatCannotBeWrittenStaysAsItWas) {
    // An administrator may not ask the server where its file is: the installation's is used.
    auto c = consola(kAdmin);
    const QByteArray original = leer(kFijos + QStringLiteral("stock-scram.conf"));
    sesion().RutaPostgres = instalacionCon(original);
    const QString datos = sesion().RutaPostgres + QStringLiteral("data");
    const QString ruta = datos + QStringLiteral("/pg_hba.conf");
    FrmPermisosAcceso w(c.get(), c.get());
    ASSERT_EQ(w.archivo(), ruta);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));

    // The folder belongs to the server's owner and is read-only, and the save runs as that owner
    // (root would write anyway).
    const passwd* duenio = ::getpwnam(PgCluster::instance().osOwner().toLocal8Bit().constData());
    ASSERT_NE(duenio, nullptr);
    QFile::setPermissions(m_instalacion.path(), QFile::permissions(m_instalacion.path()) | QFile::ExeOther);
    ASSERT_EQ(::chown(QFile::encodeName(datos).constData(), duenio->pw_uid, duenio->pw_gid), 0);
    ASSERT_EQ(::chown(QFile::encodeName(ruta).constData(), duenio->pw_uid, duenio->pw_gid), 0);
    ASSERT_TRUE(QFile::setPermissions(datos, QFile::ReadOwner | QFile::ExeOwner));
    m_dialogs.answer(MsgResult::Ok);
    const bool comoRoot = ::geteuid() == 0;
    ASSERT_TRUE(!comoRoot || ::seteuid(duenio->pw_uid) == 0);
    click(w, "BtnPermisosGuardar");
    ASSERT_TRUE(!comoRoot || ::seteuid(0) == 0);
    QFile::setPermissions(datos, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se guardaron los cambios: no se pudo escribir el archivo de "
                                                "configuración ") +
                                 ruta + QStringLiteral("\r\nOcurrio el error no. 70\r\nPermiso denegado")))
        << texto.toStdString();
    EXPECT_TRUE(texto.endsWith(QStringLiteral("El archivo de configuración no se modificó.")));
    EXPECT_EQ(leer(ruta), original);
    EXPECT_EQ(QDir(datos).entryList(QDir::Files), QStringList{QStringLiteral("pg_hba.conf")});
}

TEST_F(VentanaPermisos, ASaveTheServerDidNotReloadIsNotReportedAsDone) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    // The reload cannot find the server's data folder, so pg_ctl is never run.
    const QString instalacion = sesion().RutaPostgres;
    sesion().RutaPostgres = QStringLiteral("/nonexistent/");
    m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    sesion().RutaPostgres = instalacion;
    ASSERT_EQ(m_dialogs.texts().size(), 2);
    const QString motivo = m_dialogs.texts()[0]; // the console's own
    EXPECT_TRUE(motivo.startsWith(QStringLiteral("No se encontró la carpeta de datos del servidor PostgreSQL: ")))
        << motivo.toStdString();
    EXPECT_EQ(m_dialogs.texts()[1], QStringLiteral("Los cambios se guardaron en el archivo de configuración, pero el "
                                                   "servidor no los aplicó.\r\n") +
                                        motivo);
    EXPECT_EQ(m_dialogs.shown()[1].icon, MsgIcon::Critical);
    // Saved (and checked), waiting for the next reload.
    EXPECT_TRUE(leer(m_reglas.ruta()).contains("host    all         all         10.9.8.0/24          scram-sha-256\n"));
}

TEST_F(VentanaPermisos, RefusedInputsLeaveTheListAsItWas) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    w.show();
    const QVector<ReglaIp> antes = w.filas();
    const QString direccionNoValida = textoErrorEntrada(ErrorEntrada::DireccionNoValida);
    const QString mascaraNoValida = textoErrorEntrada(ErrorEntrada::MascaraNoValida);
    const struct {
        const char* direccion;
        const char* mascara;
        QString mensaje;
        const char* foco;
    } tabla[] = {
        {"999.1.1.1", "24", direccionNoValida, "TxtPermisosIP"},
        {"192.168.010.1", "24", direccionNoValida, "TxtPermisosIP"},
        {"10.0.0.0", "33", mascaraNoValida, "TxtPermisosMascara"},
        {"10.0.0.0", "255.0.255.0", mascaraNoValida, "TxtPermisosMascara"},
        {"", "24", QStringLiteral("Introduzca una dirección IP"), "TxtPermisosIP"},
        {"10.0.0.0", "", QStringLiteral("Introduzca la máscara de subred"), "TxtPermisosMascara"},
    };
    for (const auto& t : tabla) {
        for (const char* boton : {"BtnPermisosPermitir", "BtnPermisoDenegar"}) {
            SCOPED_TRACE(std::string(t.direccion) + " " + t.mascara + " " + boton);
            m_dialogs.clear();
            m_dialogs.answer(MsgResult::Ok);
            agregar(w, boton, QString::fromUtf8(t.direccion), QString::fromUtf8(t.mascara));
            EXPECT_EQ(m_dialogs.texts(), QStringList{t.mensaje});
            EXPECT_EQ(w.focusWidget(), caja(w, t.foco));
            EXPECT_EQ(w.filas(), antes);
        }
    }

    // Neither typed nor pasted text brings a blank or "#" into the address and mask boxes.
    escribirEn(w, "TxtPermisosIP", QStringLiteral("1 0#.x/"));
    EXPECT_EQ(caja(w, "TxtPermisosIP")->text(), QStringLiteral("10."));
    caja(w, "TxtPermisosIP")->clear();
    pegarEn(w, "TxtPermisosIP", QStringLiteral("0.0.0.0/0 trust #"));
    EXPECT_EQ(caja(w, "TxtPermisosIP")->text(), QString());
    pegarEn(w, "TxtPermisosMascara", QStringLiteral("0 #"));
    EXPECT_EQ(caja(w, "TxtPermisosMascara")->text(), QString());
    pegarEn(w, "TxtPermisosMascara", QStringLiteral("24 "));
    EXPECT_EQ(caja(w, "TxtPermisosMascara")->text(), QString());
    pegarEn(w, "TxtPermisosIP", QStringLiteral("10.0.0.0"));
    EXPECT_EQ(caja(w, "TxtPermisosIP")->text(), QStringLiteral("10.0.0.0"));
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosPermitir");
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Introduzca la máscara de subred")});
    EXPECT_EQ(w.filas(), antes);
}

TEST_F(VentanaPermisos, AnUnreadableFileIsReportedAndTheWindowClosesItself) {
    auto c = consola(kAdmin);
    const struct {
        bool conCarpeta;
        const char* titulo;
        const char* inicio;
    } tabla[] = {
        {false, "Permisos de conexión",
         "No se encontró el archivo de configuración \"pg_hba.conf\"\r\nPor favor, verifique que el archivo "
         "exista.\r\n"},
        {true, "V7Tools", "Ocurrió el Error No. 53\r\nCausa: "},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.titulo);
        TempDir instalacion;
        if (t.conCarpeta) {
            ASSERT_TRUE(QDir().mkpath(instalacion.path() + QStringLiteral("data")));
        }
        sesion().RutaPostgres = instalacion.path();
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmPermisosAcceso w(c.get(), c.get());
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].title, QString::fromUtf8(t.titulo));
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QString::fromUtf8(t.inicio)))
            << m_dialogs.shown()[0].text.toStdString();
        EXPECT_EQ(w.timerDescargar()->interval(), 250);
        w.show();
        EXPECT_TRUE(esperarHasta([&] { return !w.isVisible(); }, 3000));
    }
}

TEST_F(VentanaPermisos, WithoutRowsThereIsNothingToRemoveOrSave) {
    auto c = consola(kAdmin);
    const QByteArray soloLocal = "local   all   all   scram-sha-256\n";
    sesion().RutaPostgres = instalacionCon(soloLocal);
    FrmPermisosAcceso w(c.get(), c.get());
    EXPECT_TRUE(w.filas().isEmpty());
    EXPECT_EQ(conteo(w), QStringLiteral("0"));
    m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    click(w, "BtnPermisosEliminar");
    click(w, "BtnPermisosGuardar");
    EXPECT_EQ(m_dialogs.texts(),
              (QStringList{QStringLiteral("No hay elementos para elminar"),
                           QStringLiteral("No se guardaron los cambios porque no hay direcciones IP en la lista")}));
    EXPECT_EQ(QDir(sesion().RutaPostgres + QStringLiteral("data")).entryList(QDir::Files),
              QStringList{QStringLiteral("pg_hba.conf")});
    EXPECT_EQ(leer(sesion().RutaPostgres + QStringLiteral("data/pg_hba.conf")), soloLocal);
}

TEST_F(VentanaPermisos, TheConsoleOpensItAndAScreenshotIsTaken) {
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    bool abierta = false;
    alAbrirModal([&](QWidget* m) {
        abierta = true;
        EXPECT_EQ(m->objectName(), QStringLiteral("FrmPermisosAcceso"));
        EXPECT_EQ(m->parentWidget(), &consola);
        EXPECT_EQ(m->windowTitle(), QStringLiteral("Permisos de Acceso al Servidor"));
        agregar(*m, "BtnPermisoDenegar", QStringLiteral("192.168.20.0"), QStringLiteral("255.255.255.0"),
                QStringLiteral("Sala de consulta"));
        clickEnFila(*m, QStringLiteral("127.0.0.1"));
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/permisos.png")));
        click(*m, "BtnSalirForma");
    });
    click(consola, "BtnPermisos");
    EXPECT_TRUE(abierta);
    EXPECT_EQ(leer(m_reglas.ruta()), m_reglas.original()); // closed without saving
}

} // namespace
