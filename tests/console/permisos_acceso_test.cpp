// Client-address rules: the rules file read and rewritten as bytes (golden files come back unchanged,
// one edited row is one changed line), the loopback copy, the check that a save never locks this
// session out, every written file accepted by the test server with logins still working after the
// reload (also without pg_ctl), and the window's allow, deny, remove and save with their failures.
#include "console/FrmInicio.h"
#include "console/FrmPermisosAcceso.h"
#include "console/reglas_acceso.h"
#include "console/reglas_sesion.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/cajas_reales.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

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

QByteArray fijo(const char* nombre) {
    return leer(kFijos + QString::fromUtf8(nombre));
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

// The file's lines with their own line ends (the last one may have none).
QList<QByteArray> lineasConFin(const QByteArray& datos) {
    QList<QByteArray> l;
    for (qsizetype inicio = 0; inicio < datos.size();) {
        const qsizetype fin = datos.indexOf('\n', inicio);
        const qsizetype hasta = fin < 0 ? datos.size() : fin + 1;
        l << datos.mid(inicio, hasta - inicio);
        inicio = hasta;
    }
    return l;
}

// How two files differ line by line: the indexes of the lines of b that are not in a at the same place,
// once one added line (when b has one more) is taken out.
struct Diferencia {
    QList<int> cambiadas;
    int agregada = -1;
};
Diferencia diferencia(const QByteArray& a, const QByteArray& b) {
    QList<QByteArray> la = lineasConFin(a);
    QList<QByteArray> lb = lineasConFin(b);
    Diferencia d;
    if (lb.size() == la.size() + 1) {
        // The first place where they part is the added line.
        int i = 0;
        while (i < la.size() && la[i] == lb[i]) {
            ++i;
        }
        d.agregada = i;
        lb.removeAt(i);
    }
    for (int i = 0; i < qMax(la.size(), lb.size()); ++i) {
        if (la.value(i) != lb.value(i)) {
            d.cambiadas << i;
        }
    }
    return d;
}

// The golden cases: the file, the rows the window shows, then one row removed and one added as the
// window does it (a new row has no method of its own).
struct CasoReglas {
    const char* nombre;
    QVector<ReglaIp> filas;
    QString quitar;
    ReglaIp agregar;
    int advertencias = 0;       // lines the server loads with a warning
    bool entraPorSocket = true; // the superuser logs in through the socket with its password
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
        {"debian-15",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256")},
         QStringLiteral("10.0.0.0"),
         fila("10.30.0.0", "16", "SI", "aulas"),
         0,
         false}, // "peer" through the socket
        {"ejemplos",
         {fila("127.0.0.1", "32", "SI", "", "md5"), fila("192.168.0.0", "255.255.255.0", "SI", "aula", "trust"),
          fila("192.168.1.0", "24", "SI", "Oficina", "md5")},
         QStringLiteral("192.168.1.0"),
         fila("10.0.0.0", "8", "NO", "Red 10")},
        {"latin1",
         {fila("127.0.0.1", "32", "SI", "equipo local", "scram-sha-256"),
          fila("192.168.10.0", "24", "SI", "Dirección de la sala de lectura \x01 (público)", "md5"),
          fila("192.168.11.0", "24", "SI", "Depósito", "md5")},
         QStringLiteral("192.168.11.0"),
         fila("192.168.12.0", "24", "SI", "Hemeroteca de cómputo")},
        {"sin-salto-final",
         {fila("127.0.0.1", "32", "SI", "", "scram-sha-256"), fila("10.20.0.0", "16", "SI", "oficinas", "md5")},
         QString(),
         fila("10.21.0.0", "16", "NO", "")},
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
        reponer(m_original);
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
    // A regular file of the server's owner again, whatever a test left at the name (a link included).
    void reponer(const QByteArray& contenido) const {
        QFile::remove(m_ruta);
        escribir(m_ruta, contenido);
        if (const passwd* pw = ::getpwnam(PgCluster::instance().osOwner().toLocal8Bit().constData())) {
            (void)::chown(QFile::encodeName(m_ruta).constData(), pw->pw_uid, pw->pw_gid);
        }
        QFile::setPermissions(m_ruta, QFile::ReadOwner | QFile::WriteOwner);
    }

private:
    QString m_ruta;
    QByteArray m_original;
};

int vecesEnBitacora(const char* texto) {
    return int(PgCluster::instance().logTail(1000000).count(QString::fromUtf8(texto)));
}

const QString kPorIPv4 = QStringLiteral("127.0.0.1");
const QString kPorIPv6 = QStringLiteral("::1");
const QString kPorSocket; // the socket folder

// A login as the superuser with its password: over TCP to 127.0.0.1 or ::1, or through the socket folder.
bool entrar(const QString& host) {
    auto& c = PgCluster::instance();
    QProcess psql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), c.password());
    env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
    psql.setProcessEnvironment(env);
    psql.start(c.binFolder() + QStringLiteral("/psql"),
               {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-h"),
                host.isEmpty() ? QFileInfo(c.dataFolder()).absolutePath() : host, QStringLiteral("-p"),
                QString::number(c.port()), QStringLiteral("-U"), c.superuser(), QStringLiteral("-d"),
                QStringLiteral("postgres"), QStringLiteral("-c"), QStringLiteral("SELECT 1")});
    psql.waitForFinished(30000);
    return psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0 &&
           psql.readAllStandardOutput().trimmed() == "1";
}

// After a reload: the server took it (it says so in its log, and did not keep its old rules) and
// both kinds of login work under the new rules.
void esperarRecargaYEntrar(int recargasAntes, int rechazosAntes, bool porSocket = true) {
    EXPECT_TRUE(esperarHasta([&] { return vecesEnBitacora("received SIGHUP") > recargasAntes; }));
    EXPECT_TRUE(entrar(kPorIPv4)) << "TCP";
    EXPECT_TRUE(!porSocket || entrar(kPorSocket)) << "socket";
    EXPECT_EQ(vecesEnBitacora("was not reloaded"), rechazosAntes) << PgCluster::instance().logTail().toStdString();
}

// The test server listens on ::1 as well from the first call on (a restart), for sessions over IPv6.
void escucharTambienEnIPv6() {
    static bool hecho = false;
    if (hecho) {
        return;
    }
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("ALTER SYSTEM SET listen_addresses = '127.0.0.1,::1'"), nullptr,
                       QStringLiteral("postgres")));
    ASSERT_TRUE(c.stop());
    ASSERT_TRUE(c.start()) << c.logTail().toStdString();
    hecho = true;
}

// The session's shared connection opened again over ::1, as a login to "localhost" may take it.
void sesionPorIPv6() {
    auto& s = sesion();
    s.ServidorIP = kPorIPv6;
    s.CadenaConexion = cadenaConexionPrincipal(kPorIPv6, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString error;
    ASSERT_TRUE(ConexionServer(s.CadenaConexion, error)) << error.toStdString();
    ASSERT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT 1")), QStringLiteral("1"));
}

// ---------------------------------------------------------------- the file, line by line

const char* const kDorados[] = {"debian-15.conf", "stock-scram.conf",     "stock-trust.conf", "ejemplos.conf",
                                "latin1.conf",    "sin-salto-final.conf", "tabuladores.conf", "hostssl.conf",
                                "una-base.conf",  "opciones.conf"};

TEST(ReglasAcceso, GoldenFilesComeBackByteForByte) {
    for (const char* nombre : kDorados) {
        SCOPED_TRACE(nombre);
        const QByteArray original = fijo(nombre);
        ASSERT_FALSE(original.isEmpty());
        const ArchivoReglas a = leerReglas(original);
        EXPECT_FALSE(a.reglas.isEmpty());
        EXPECT_EQ(escribirReglas(a, a.reglas, true), original);
    }
    // The kinds of file the golden set stands for.
    EXPECT_TRUE(fijo("ejemplos.conf").contains("\r\n"));
    EXPECT_FALSE(fijo("sin-salto-final.conf").endsWith('\n'));
    EXPECT_FALSE(leerReglas(fijo("latin1.conf")).utf8);
}

TEST(ReglasAcceso, OneEditedRowIsOneLineAndOneAddedRowIsOneLineInTheFilesStyle) {
    for (const char* nombre : kDorados) {
        SCOPED_TRACE(nombre);
        const QByteArray original = fijo(nombre);
        const ArchivoReglas a = leerReglas(original);
        const QByteArray estilo = original.contains("\r\n") ? "\r\n" : "\n";

        // A file without a final line end is compared as if it had one (its last line gains one when a
        // row is added after it); whether it ends with one is checked apart.
        auto conFin = [&](const QByteArray& b) { return original.endsWith('\n') ? b : b + estilo; };
        auto enSuEstilo = [&](const QByteArray& l) {
            return l.endsWith(estilo) && l.endsWith("\r\n") == (estilo == "\r\n");
        };

        // The last row gets another comment: only its line changes, in the file's style.
        QVector<ReglaIp> filas = a.reglas;
        filas.last().comentario = QStringLiteral("revisado en la hemeroteca");
        const QByteArray editado = escribirReglas(a, filas, true);
        const Diferencia d = diferencia(conFin(original), conFin(editado));
        ASSERT_EQ(d.cambiadas.size(), 1) << editado.toStdString();
        EXPECT_EQ(d.agregada, -1);
        const QByteArray linea = lineasConFin(conFin(editado)).value(d.cambiadas[0]);
        EXPECT_TRUE(linea.contains("#revisado en la hemeroteca"));
        EXPECT_TRUE(enSuEstilo(linea)) << linea.toStdString();
        EXPECT_EQ(editado.endsWith('\n'), original.endsWith('\n'));

        // One row more: one line more, in the file's style, and the rest as it was.
        filas = a.reglas;
        filas << fila("172.16.0.0", "12", "SI", "nueva");
        const QByteArray agregado = escribirReglas(a, filas, true);
        const Diferencia e = diferencia(conFin(original), conFin(agregado));
        EXPECT_TRUE(e.cambiadas.isEmpty()) << agregado.toStdString();
        ASSERT_GE(e.agregada, 0);
        const QByteArray nueva = lineasConFin(conFin(agregado)).value(e.agregada);
        EXPECT_TRUE(
            nueva.startsWith("host    all         all         172.16.0.0/12          scram-sha-256     #nueva"));
        EXPECT_TRUE(enSuEstilo(nueva)) << nueva.toStdString();
        EXPECT_EQ(agregado.endsWith('\n'), original.endsWith('\n'));
    }
}

TEST(ReglasAcceso, AChangedRowIsWrittenInTheFilesOwnEncoding) {
    // A Windows-1252 file stays one: a changed row's comment is written in it, and reads back the same.
    const ArchivoReglas a = leerReglas(fijo("latin1.conf"));
    QVector<ReglaIp> filas = a.reglas;
    filas[2].comentario = QStringLiteral("Depósito y préstamo");
    const QByteArray escrito = escribirReglas(a, filas, true);
    EXPECT_TRUE(escrito.contains("#Dep\xf3sito y pr\xe9stamo\n"));
    EXPECT_EQ(leerReglas(escrito).reglas, filas);
    // A character Windows-1252 lacks goes as UTF-8 on that line alone, never as "?".
    filas[2].comentario = QStringLiteral("Сектор");
    const QByteArray mixto = escribirReglas(a, filas, true);
    EXPECT_TRUE(mixto.contains(QStringLiteral("#Сектор").toUtf8()));
    EXPECT_EQ(leerReglas(mixto).reglas, filas);
}

TEST(ReglasAcceso, TheLoopbackCopyNeverOverridesAnIPv6RuleOfTheFile) {
    // A file with a kept line X, then the 127.0.0.1 row, which is denied: the copy "::1/128 reject" is
    // written before the row only when no kept rule already decides ::1 for all databases and users.
    const QByteArray copia = "host    all         all         ::1/128          reject\n";
    const struct {
        const char* linea;
        bool conCopia;
    } tabla[] = {
        {"", true},
        {"local   all   all   md5\n", true},
        {"# host all all ::1/128 md5\n", true},
        {"host    all   all   ::1/128   md5\n", false},
        {"host    veliro7   jefe   ::1/128   md5\n", false},   // overriding it for veliro7 and jefe is overriding it
        {"host    replication   all   ::1/128   md5\n", true}, // "all" does not take in replication
        {"host    \"replication\"   all   ::1/128   md5\n", false}, // a database named so
        {"host    all   all   ::/0   md5\n", false},
        {"host    all   all   fe80::/10   md5\n", true},
        {"host    all   all   ::1   ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff   md5\n", false},
        {"host    all   all   ::1   ffff:ffff:ffff:ffff:ffff:ffff:ffff:0   md5\n", false},
        {"host    all   all   ::2/128   md5\n", true},
        {"hostssl   all   all   ::1/128   md5\n", false},
        {"host    all   all   samehost   md5\n", false},
        {"host    all   all   localhost   md5\n", false}, // a host name may be this machine
        {"host    veliro7   all   10.0.0.0/8   md5\n", true},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.linea);
        const QByteArray fija = t.linea;
        const QByteArray archivo = "local   all   all   scram-sha-256\n" + fija + "host all all 127.0.0.1/32 md5\n";
        const ArchivoReglas a = leerReglas(archivo);
        ASSERT_EQ(a.reglas.size(), 1);
        const QByteArray esperado = "local   all   all   scram-sha-256\n" + fija + (t.conCopia ? copia : QByteArray()) +
                                    "host    all         all         127.0.0.1/32          reject\n";
        EXPECT_EQ(escribirReglas(a, {fila("127.0.0.1", "32", "NO", "", "md5")}, true), esperado);
        // Nothing changed: nothing added.
        EXPECT_EQ(escribirReglas(a, a.reglas, true), archivo);
    }

    // The copy this window wrote goes with its row: kept as it was, rewritten with the row, or removed.
    const QByteArray propio = "local   all   all   scram-sha-256\r\n"
                              "host    all         all         ::1/128          md5\r\n"
                              "host    all         all         127.0.0.1/32          md5\r\n"
                              "host    all         all         10.1.0.0/16          md5\r\n";
    const ArchivoReglas a = leerReglas(propio);
    ASSERT_EQ(a.reglas.size(), 2);
    EXPECT_FALSE(a.loopbackIPv6Cubierto);
    EXPECT_EQ(escribirReglas(a, a.reglas, true), propio);
    EXPECT_EQ(escribirReglas(a, {fila("127.0.0.1", "32", "NO", "", "md5"), a.reglas[1]}, true),
              QByteArray("local   all   all   scram-sha-256\r\n"
                         "host    all         all         ::1/128          reject\r\n"
                         "host    all         all         127.0.0.1/32          reject\r\n"
                         "host    all         all         10.1.0.0/16          md5\r\n"));
    EXPECT_EQ(escribirReglas(a, {a.reglas[1]}, true),
              QByteArray("local   all   all   scram-sha-256\r\n"
                         "host    all         all         10.1.0.0/16          md5\r\n"));
}

ReglaServidor regla(int linea, const char* tipo, QStringList bases, QStringList usuarios, const char* direccion,
                    const char* mascara, const char* metodo, bool comillas = false) {
    ReglaServidor r;
    r.linea = linea;
    r.tipo = QString::fromUtf8(tipo);
    r.bases = std::move(bases);
    r.usuarios = std::move(usuarios);
    r.direccion = QString::fromUtf8(direccion);
    r.mascara = QString::fromUtf8(mascara);
    r.metodo = QString::fromUtf8(metodo);
    r.conComillas = comillas;
    return r;
}

TEST(ReglasAcceso, TheFirstRuleThatMatchesTheSessionDecides) {
    using T = DecisionSesion::Tipo;
    const QStringList all{QStringLiteral("all")};
    const ReglaServidor admite = regla(9, "host", all, all, "0.0.0.0", "0.0.0.0", "scram-sha-256");
    SesionCliente base;
    base.direccion = QStringLiteral("127.0.0.1");
    base.direccionServidor = QStringLiteral("127.0.0.1");
    base.usuario = QStringLiteral("jefe");
    base.baseDatos = QStringLiteral("veliro7");
    base.roles = QStringList{QStringLiteral("jefe"), QStringLiteral("v7_super")};
    SesionCliente ipv6 = base;
    ipv6.direccion = ipv6.direccionServidor = QStringLiteral("::1");
    SesionCliente socket = base;
    socket.direccion.clear();
    socket.direccionServidor.clear();
    SesionCliente remota = base;
    remota.direccion = QStringLiteral("192.168.1.20");
    remota.direccionServidor = QStringLiteral("192.168.1.5");
    SesionCliente conSsl = base;
    conSsl.ssl = true;
    SesionCliente grupoBase = base; // a role named as the database
    grupoBase.roles << QStringLiteral("veliro7");
    SesionCliente mismoNombre = base;
    mismoNombre.baseDatos = QStringLiteral("jefe");
    const QStringList super{QStringLiteral("+v7_super")};
    const QStringList admin{QStringLiteral("+v7_admin")};

    const struct {
        const char* caso;
        SesionCliente sesion;
        QVector<ReglaServidor> reglas;
        T tipo;
        int linea;
    } tabla[] = {
        {"127.0.0.1 admitted",
         base,
         {regla(1, "host", all, all, "127.0.0.1", "255.255.255.255", "md5")},
         T::Admitida,
         1},
        {"127.0.0.1 denied first",
         base,
         {regla(1, "host", all, all, "127.0.0.1", "255.255.255.255", "reject"), admite},
         T::Rechazada,
         1},
        {"another network",
         base,
         {regla(1, "host", all, all, "10.0.0.0", "255.0.0.0", "reject"), admite},
         T::Admitida,
         9},
        {"no rule at all", base, {}, T::SinRegla, 0},
        {"IPv6 rule, IPv4 session",
         base,
         {regla(1, "host", all, all, "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "md5")},
         T::SinRegla,
         0},
        {"IPv4 rule, IPv6 session", ipv6, {regla(1, "host", all, all, "0.0.0.0", "0.0.0.0", "md5")}, T::SinRegla, 0},
        {"::1 denied for the session's user",
         ipv6,
         {regla(1, "host", all, {QStringLiteral("jefe")}, "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "reject"),
          regla(2, "host", all, all, "::", "::", "md5")},
         T::Rechazada,
         1},
        {"::1 denied for another user",
         ipv6,
         {regla(1, "host", all, {QStringLiteral("adm")}, "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "reject"),
          regla(2, "host", all, all, "::", "::", "md5")},
         T::Admitida,
         2},
        {"local rule, TCP session", base, {regla(1, "local", all, all, "", "", "trust")}, T::SinRegla, 0},
        {"local rule, socket session",
         socket,
         {regla(1, "host", all, all, "0.0.0.0", "0.0.0.0", "reject"), regla(2, "local", all, all, "", "", "peer")},
         T::Admitida,
         2},
        {"all addresses", base, {regla(1, "host", all, all, "all", "", "reject"), admite}, T::Rechazada, 1},
        {"another database",
         base,
         {regla(1, "host", {QStringLiteral("otra")}, all, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"this database among others (@file)",
         base,
         {regla(1, "host", {QStringLiteral("otra"), QStringLiteral("veliro7")}, all, "all", "", "reject"), admite},
         T::Rechazada,
         1},
        {"replication only",
         base,
         {regla(1, "host", {QStringLiteral("replication")}, all, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"sameuser, other name",
         base,
         {regla(1, "host", {QStringLiteral("sameuser")}, all, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"sameuser, same name",
         mismoNombre,
         {regla(1, "host", {QStringLiteral("sameuser")}, all, "all", "", "reject"), admite},
         T::Rechazada,
         1},
        {"samerole, not a member",
         base,
         {regla(1, "host", {QStringLiteral("samerole")}, all, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"samegroup, a member",
         grupoBase,
         {regla(1, "host", {QStringLiteral("samegroup")}, all, "all", "", "reject"), admite},
         T::Rechazada,
         1},
        {"+group the user is in", base, {regla(1, "host", all, super, "all", "", "reject"), admite}, T::Rechazada, 1},
        {"+group the user is not in",
         base,
         {regla(1, "host", all, admin, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"hostssl without SSL", base, {regla(1, "hostssl", all, all, "all", "", "reject"), admite}, T::Admitida, 9},
        {"hostssl with SSL", conSsl, {regla(1, "hostssl", all, all, "all", "", "reject"), admite}, T::Rechazada, 1},
        {"hostnossl without SSL",
         base,
         {regla(1, "hostnossl", all, all, "all", "", "reject"), admite},
         T::Rechazada,
         1},
        {"hostnossl with SSL", conSsl, {regla(1, "hostnossl", all, all, "all", "", "reject"), admite}, T::Admitida, 9},
        {"hostgssenc without GSS",
         base,
         {regla(1, "hostgssenc", all, all, "all", "", "reject"), admite},
         T::Admitida,
         9},
        {"samehost, same machine",
         base,
         {regla(1, "host", all, all, "samehost", "", "reject"), admite},
         T::Rechazada,
         1},
        {"samenet, remote client", remota, {regla(1, "host", all, all, "samenet", "", "md5")}, T::Incierta, 1},
        {"host name allowing, nothing after",
         base,
         {regla(1, "host", all, all, "localhost", "", "md5")},
         T::Incierta,
         1},
        {"host name allowing, then an address",
         base,
         {regla(1, "host", all, all, "localhost", "", "md5"), admite},
         T::Admitida,
         9},
        {"host name denying", base, {regla(1, "host", all, all, "localhost", "", "reject"), admite}, T::Incierta, 1},
        {"quoted \"all\" may be a database",
         base,
         {regla(1, "host", all, all, "all", "", "reject", true), admite},
         T::Incierta,
         1},
        {"a line the server cannot use is no rule",
         base,
         {regla(1, "", {}, {}, "", "", ""), regla(2, "host", all, all, "127.0.0.1", "255.255.255.255", "md5")},
         T::Admitida,
         2},
        {"a /32 rule takes one address",
         base,
         {regla(1, "host", all, all, "127.0.0.2", "255.255.255.255", "reject"), admite},
         T::Admitida,
         9},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.caso);
        const DecisionSesion d = decidirSesion(t.reglas, t.sesion);
        EXPECT_EQ(int(d.tipo), int(t.tipo));
        EXPECT_EQ(d.linea, t.linea);
    }
}

// A row (all databases, all users, an address) decides for its own address unless an earlier line may take a
// connection from that address for some database and user.
TEST(ReglasAcceso, ARowDecidesForItsAddressUnlessAnEarlierLineMay) {
    const QStringList all{QStringLiteral("all")};
    const QStringList veliro{QStringLiteral("veliro7")};
    const QStringList jefe{QStringLiteral("jefe")};
    const QStringList replicacion{QStringLiteral("replication")};
    const ReglaServidor fila = regla(20, "host", all, all, "10.9.8.0", "255.255.255.0", "scram-sha-256");
    ReglaServidor sslApagado = regla(3, "hostssl", all, all, "0.0.0.0", "0.0.0.0", "scram-sha-256");
    sslApagado.error = QStringLiteral("hostssl record cannot match because SSL is disabled");
    const struct {
        const char* caso;
        ReglaServidor antes;
        int linea; // the line that decides
        bool cierta;
        bool parte = false;
    } tabla[] = {
        {"a wider network denied for one database", regla(3, "host", veliro, all, "10.9.0.0", "255.255.0.0", "reject"),
         3, true},
        {"one user from everywhere", regla(3, "host", all, jefe, "all", "", "md5"), 3, true},
        {"SSL connections from the network", regla(3, "hostssl", all, all, "10.0.0.0", "255.0.0.0", "md5"), 3, true},
        {"replication only", regla(3, "host", replicacion, all, "10.0.0.0", "255.0.0.0", "md5"), 20, true},
        {"a quoted \"replication\" is a database",
         regla(3, "host", replicacion, all, "10.0.0.0", "255.0.0.0", "md5", true), 3, false},
        {"local connections", regla(3, "local", all, all, "", "", "peer"), 20, true},
        {"IPv6 loopback", regla(3, "host", all, all, "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "md5"), 20,
         true},
        {"the other half of the network", regla(3, "host", all, all, "10.9.8.128", "255.255.255.128", "reject"), 3,
         true, true},
        {"one address of the network for one database",
         regla(3, "host", veliro, all, "10.9.8.77", "255.255.255.255", "reject"), 3, true, true},
        {"replication from one address of it",
         regla(3, "host", replicacion, all, "10.9.8.77", "255.255.255.255", "md5"), 20, true},
        {"another network", regla(3, "host", all, all, "10.9.9.0", "255.255.255.0", "reject"), 20, true},
        {"a host name", regla(3, "host", all, all, "aula.example.net", "", "reject"), 3, false},
        {"the server's networks", regla(3, "host", all, all, "samenet", "", "reject"), 3, false},
        {"hostssl while SSL is off", sslApagado, 20, true},
        {"a line the server cannot use", regla(3, "", {}, {}, "", "", ""), 20, true},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.caso);
        const std::optional<DecisionRegla> d =
            decidirRegla({regla(1, "local", all, all, "", "", "peer"), t.antes, fila}, 20, QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->linea, t.linea);
        EXPECT_EQ(d->cierta, t.cierta);
        EXPECT_EQ(d->parte, t.parte);
    }
    // Only a usable rule at that line is asked about.
    EXPECT_FALSE(decidirRegla({fila}, 19, QStringLiteral("127.0.0.1")).has_value());
}

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
        const QByteArray escrito = escritoTrasEditar(caso);
        reglas.poner(escrito);
        const ComprobacionSesion c = comprobarSesion(escrito);
        ASSERT_TRUE(c.consultada) << c.errorConsulta.toStdString();
        EXPECT_TRUE(c.rechazos.isEmpty()) << c.rechazos.value(0).error.toStdString();
        EXPECT_TRUE(c.admitida()) << textoSesionRechazada(c).toStdString();
        EXPECT_EQ(c.sesion.direccion, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(c.sesion.usuario, QStringLiteral("postgres"));
        EXPECT_EQ(PgCluster::instance().scalar(
                      QStringLiteral("SELECT count(*) FROM pg_hba_file_rules WHERE error IS NOT NULL")),
                  QString::number(caso.advertencias));
        const int recargas = vecesEnBitacora("received SIGHUP");
        const int rechazosAntes = vecesEnBitacora("was not reloaded");
        ReglasDelServidor::recargar();
        esperarRecargaYEntrar(recargas, rechazosAntes, caso.entraPorSocket);
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
    // Shows the window and waits until it has read the file.
    static void abrir(FrmPermisosAcceso& w) {
        w.show();
        ASSERT_TRUE(esperarHasta([&] { return w.cargado(); }));
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

const QString kHecho = QStringLiteral("Los cambios se han hecho correctamente");
const QString kConPgCtl = QStringLiteral("El servidor recargó su configuración con pg_ctl reload.");

TEST_F(VentanaPermisos, AllowDenyRemoveAndSaveAppliesTheRules) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
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
    ASSERT_EQ(m_dialogs.texts(), QStringList{kHecho + QStringLiteral("\r\n") + kConPgCtl});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Information);
    EXPECT_TRUE(hijo<QWidget>(w, "BtnPermisosGuardar")->isEnabled());

    // In the file the rows take the place of the server's loopback rule, in the list's order: the new
    // one written anew, the untouched one as it was; the file's own ::1 rule stays the only one; every
    // other line is as it was.
    QByteArray esperado = m_reglas.original();
    esperado.replace(kLineaServidor.toUtf8(),
                     "host    all         all         10.9.8.0/24          scram-sha-256     #Aula\n" +
                         kLineaServidor.toUtf8());
    EXPECT_EQ(leer(m_reglas.ruta()), esperado);
    EXPECT_EQ(leer(m_reglas.ruta() + QStringLiteral(".bak")), m_reglas.original());
    for (const QString& ruta : {m_reglas.ruta(), m_reglas.ruta() + QStringLiteral(".bak")}) {
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(ruta).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(QFileInfo(ruta).owner(), PgCluster::instance().osOwner()) << ruta.toStdString();
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    EXPECT_EQ(
        QDir(PgCluster::instance().dataFolder()).entryList({QStringLiteral(".pg_hba*")}, QDir::Files | QDir::Hidden),
        QStringList());
    esperarRecargaYEntrar(recargas, rechazos);
}

TEST_F(VentanaPermisos, GoldenFilesSavedThroughTheWindowKeepTheirBytes) {
    auto c = consola();
    for (const char* nombre :
         {"debian-15.conf", "stock-scram.conf", "ejemplos.conf", "latin1.conf", "sin-salto-final.conf"}) {
        SCOPED_TRACE(nombre);
        const QByteArray original = fijo(nombre);
        m_reglas.poner(original);
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        EXPECT_EQ(w.filas(), leerReglas(original).reglas);
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        click(w, "BtnPermisosGuardar");
        EXPECT_EQ(m_dialogs.texts(), QStringList{kHecho + QStringLiteral("\r\n") + kConPgCtl});
        EXPECT_EQ(leer(m_reglas.ruta()), original);
        EXPECT_EQ(leer(m_reglas.ruta() + QStringLiteral(".bak")), original);
    }

    // What the window shows of a Windows-1252 comment is its text; saved untouched, its bytes stay.
    m_reglas.poner(fijo("latin1.conf"));
    {
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        ASSERT_NE(filaDe(w, QStringLiteral("192.168.11.0")), nullptr);
        EXPECT_EQ(filaDe(w, QStringLiteral("192.168.11.0"))->text(3), QStringLiteral("Depósito"));
    }

    // The CRLF file: one row edited in the window and one added are one changed line and one more line,
    // both ending in CR LF.
    const QByteArray crlf = fijo("ejemplos.conf");
    m_reglas.poner(crlf);
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    clickEnFila(w, QStringLiteral("192.168.1.0"));
    caja(w, "TxtComentario")->setText(QStringLiteral("Oficina central"));
    click(w, "BtnPermisosPermitir");
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.50.0.0"), QStringLiteral("16"), QStringLiteral("Anexo"));
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    EXPECT_EQ(m_dialogs.texts(), QStringList{kHecho + QStringLiteral("\r\n") + kConPgCtl});
    const QByteArray guardado = leer(m_reglas.ruta());
    QList<QByteArray> esperado = lineasConFin(crlf);
    esperado[4] = "host    all         all         192.168.1.0/24          md5     #Oficina central\r\n";
    esperado << "host    all         all         10.50.0.0/16          scram-sha-256     #Anexo\r\n";
    EXPECT_EQ(lineasConFin(guardado), esperado) << guardado.toStdString();
}

TEST_F(VentanaPermisos, ASaveThatWouldLockThisSessionOutIsRefusedAndChangesNothing) {
    escucharTambienEnIPv6();
    auto c = consola();
    // A file this window wrote for a session over ::1: no IPv6 rule of its own, the loopback copy before
    // the 127.0.0.1 row.
    QByteArray conCopia = m_reglas.original();
    conCopia.replace("host    all             all             ::1/128                 scram-sha-256\n", "");
    conCopia.replace(kLineaServidor.toUtf8(),
                     "host    all         all         ::1/128          scram-sha-256\n" + kLineaServidor.toUtf8());
    ASSERT_FALSE(leerReglas(conCopia).loopbackIPv6Cubierto);

    const struct {
        const char* caso;
        bool porIPv6;
        std::function<void(FrmPermisosAcceso&)> accion;
        const char* motivo;
    } tabla[] = {
        {"127.0.0.1 denied", false,
         [](FrmPermisosAcceso& w) {
             agregar(w, "BtnPermisoDenegar", QStringLiteral("127.0.0.1"), QStringLiteral("32"));
         },
         "desde la dirección 127.0.0.1).\r\nLa primera regla que corresponde a esta conexión es la línea "},
        {"127.0.0.1 removed", false,
         [](FrmPermisosAcceso& w) {
             agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
             clickEnFila(w, QStringLiteral("127.0.0.1"));
             click(w, "BtnPermisosEliminar");
         },
         "desde la dirección 127.0.0.1).\r\nNinguna regla corresponde a esta conexión."},
        {"the session's user denied on ::1 (the copy)", true,
         [](FrmPermisosAcceso& w) {
             agregar(w, "BtnPermisoDenegar", QStringLiteral("127.0.0.1"), QStringLiteral("32"));
         },
         "desde la dirección ::1).\r\nLa primera regla que corresponde a esta conexión es la línea "},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.caso);
        if (t.porIPv6) {
            m_reglas.poner(conCopia);
            ReglasDelServidor::recargar();
            ASSERT_TRUE(esperarHasta([] { return entrar(kPorIPv6); }));
            sesionPorIPv6();
        }
        const QByteArray antes = leer(m_reglas.ruta());
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        t.accion(w);
        const int recargas = vecesEnBitacora("received SIGHUP");
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        click(w, "BtnPermisosGuardar");
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        const QString texto = m_dialogs.shown()[0].text;
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(texto.startsWith(QStringLiteral("No se guardaron los cambios: con estas reglas el servidor ya no "
                                                    "aceptaría la conexión de esta sesión (usuario jefe, base de datos "
                                                    "veliro7, ")))
            << texto.toStdString();
        EXPECT_TRUE(texto.contains(QString::fromUtf8(t.motivo))) << texto.toStdString();
        EXPECT_TRUE(texto.endsWith(QStringLiteral("El archivo de configuración quedó como estaba.")));
        // The file as it was, nothing reloaded, and the administrator still logs in.
        EXPECT_EQ(leer(m_reglas.ruta()), antes);
        EXPECT_EQ(vecesEnBitacora("received SIGHUP"), recargas);
        EXPECT_TRUE(entrar(kPorIPv4));
        EXPECT_TRUE(!t.porIPv6 || entrar(kPorIPv6));
    }
}

// An administrator's line before the rows denies a network to one database: a row allowed in the window for
// an address of that network would be shown as "SI" while the server goes by the earlier line. Typed and
// pressed from the keyboard, the save is refused in the real message box, which names that line; the file is
// as it was and nothing is reloaded. A row for an address that line does not take is saved.
TEST_F(VentanaPermisos, ARowAnEarlierLineOverridesIsNotSaved) {
    const QByteArray previa = "host    veliro7         all             10.9.0.0/16             reject\n";
    QByteArray conPrevia = m_reglas.original();
    const qsizetype donde = conPrevia.indexOf(kLineaServidor.toUtf8());
    ASSERT_GE(donde, 0);
    conPrevia.insert(donde, previa);
    const int lineaPrevia = int(conPrevia.left(donde).count('\n')) + 1;
    m_reglas.poner(conPrevia);
    ReglasDelServidor::recargar();
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto pulsar = [&](const char* boton) {
        hijo(w, boton)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    };
    auto permitir = [&](const QString& ip, const QString& mascara) {
        for (const auto& [caja, texto] : {std::pair{"TxtPermisosIP", ip}, std::pair{"TxtPermisosMascara", mascara}}) {
            hijo(w, caja)->setFocus();
            QApplication::processEvents(); // the box selects its text once it has the focus
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), texto);
        }
        pulsar("BtnPermisosPermitir");
    };

    permitir(QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    ASSERT_NE(filaDe(w, QStringLiteral("10.9.8.0")), nullptr);
    EXPECT_EQ(filaDe(w, QStringLiteral("10.9.8.0"))->text(2), QStringLiteral("SI"));
    const int recargas = vecesEnBitacora("received SIGHUP");
    {
        CajasReales cajas({CajasReales::tecla(Qt::Key_Return)});
        pulsar("BtnPermisosGuardar");
        ASSERT_EQ(cajas.vistas().size(), 1u);
        const CajasReales::Vista& v = cajas.vistas()[0];
        EXPECT_EQ(v.icono, QMessageBox::Critical);
        EXPECT_EQ(v.texto,
                  QStringLiteral("No se guardaron los cambios: el acceso que muestra la lista no sería el que decide "
                                 "el servidor.\r\nPara la dirección 10.9.8.0 (línea ") +
                      QString::number(lineaPrevia + 2) +
                      QStringLiteral(": host    all         all         10.9.8.0/24          scram-sha-256) decide "
                                     "antes la línea ") +
                      QString::number(lineaPrevia) + QStringLiteral(" (") + QString::fromUtf8(previa).trimmed() +
                      QStringLiteral("), que el servidor lee primero.\r\nCambie o quite esa línea del archivo de "
                                     "configuración, o cambie la dirección en la lista. El archivo de configuración "
                                     "quedó como estaba."));
    }
    EXPECT_EQ(leer(m_reglas.ruta()), conPrevia);
    EXPECT_EQ(vecesEnBitacora("received SIGHUP"), recargas);
    EXPECT_TRUE(w.isVisible());

    // Another network: saved and applied.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    clickEnFila(w, QStringLiteral("10.9.8.0"));
    pulsar("BtnPermisosEliminar");
    permitir(QStringLiteral("10.10.8.0"), QStringLiteral("24"));
    {
        CajasReales cajas({CajasReales::tecla(Qt::Key_Return)});
        pulsar("BtnPermisosGuardar");
        ASSERT_EQ(cajas.vistas().size(), 1u);
        EXPECT_EQ(cajas.vistas()[0].texto, kHecho + QStringLiteral("\r\n") + kConPgCtl);
    }
    EXPECT_TRUE(
        leer(m_reglas.ruta()).contains("host    all         all         10.10.8.0/24          scram-sha-256\n"));
    EXPECT_TRUE(leer(m_reglas.ruta()).contains(previa));
}

TEST_F(VentanaPermisos, WithoutPgCtlTheRulesAreAppliedOverTheSession) {
    escucharTambienEnIPv6();
    auto c = consola();
    sesionPorIPv6();
    // An installation folder with no pg_ctl (the cluster laid out by the distribution); the rules file is
    // the one the server names.
    sesion().RutaPostgres = m_instalacion.path();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    ASSERT_EQ(w.archivo(), m_reglas.ruta());
    ASSERT_TRUE(entrar(kPorIPv4));
    // 127.0.0.1 denied: the session over ::1 keeps the file's own ::1 rule.
    agregar(w, "BtnPermisoDenegar", QStringLiteral("127.0.0.1"), QStringLiteral("32"));
    const int recargas = vecesEnBitacora("received SIGHUP");
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_EQ(m_dialogs.texts()[0],
              kHecho + QStringLiteral("\r\nEsta instalación no tiene un pg_ctl que el programa pueda ejecutar: el "
                                      "servidor recargó su configuración con SELECT pg_reload_conf() por la conexión "
                                      "de esta sesión."));
    EXPECT_TRUE(leer(m_reglas.ruta()).contains("host    all         all         127.0.0.1/32          reject\n"));
    // Applied without a restart: a new login over 127.0.0.1 is refused, over ::1 it works.
    EXPECT_TRUE(esperarHasta([&] { return vecesEnBitacora("received SIGHUP") > recargas; }));
    EXPECT_TRUE(esperarHasta([] { return !entrar(kPorIPv4); }));
    EXPECT_TRUE(entrar(kPorIPv6));
}

TEST_F(VentanaPermisos, ASaveTheServerDidNotReloadIsNotReportedAsDone) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    // An installation whose pg_ctl fails (the rules file is still the one the server names).
    const QString bin = m_instalacion.path() + QStringLiteral("bin");
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(m_instalacion.path() + QStringLiteral("data")));
    escribir(m_instalacion.path() + QStringLiteral("data/PG_VERSION"), "15\n");
    escribir(bin + QStringLiteral("/pg_ctl"), "#!/bin/sh\necho 'pg_ctl: could not send reload signal' >&2\nexit 1\n");
    QFile::setPermissions(bin + QStringLiteral("/pg_ctl"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString instalacion = sesion().RutaPostgres;
    sesion().RutaPostgres = m_instalacion.path();
    m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    sesion().RutaPostgres = instalacion;
    ASSERT_EQ(m_dialogs.texts().size(), 2);
    // The console's own message, then the window's: saved, not applied, and why.
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith(
        QStringLiteral("El servidor NO se puede reiniciar debido a que NO esta en ejecución.")))
        << m_dialogs.texts()[0].toStdString();
    EXPECT_EQ(m_dialogs.texts()[1], QStringLiteral("Los cambios se guardaron en el archivo de configuración, pero el "
                                                   "servidor no los aplicó.\r\nEl servidor no está en ejecución."));
    EXPECT_EQ(m_dialogs.shown()[1].icon, MsgIcon::Critical);
    // Saved (and checked), waiting for the next reload.
    EXPECT_TRUE(leer(m_reglas.ruta()).contains("host    all         all         10.9.8.0/24          scram-sha-256\n"));
}

TEST_F(VentanaPermisos, ALineTheServerRefusesPutsThePreviousFileBack) {
    // The administrator's own line, which the server cannot load: kept by the window, refused by the check.
    const QByteArray roto = m_reglas.original() + "host all all 10.0.0.0/8 ldap ldapserver=ldap.example.net\n";
    m_reglas.poner(roto);
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    const int recargas = vecesEnBitacora("received SIGHUP");
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
    EXPECT_EQ(vecesEnBitacora("received SIGHUP"), recargas);
}

TEST_F(VentanaPermisos, AFileTheServerCannotCheckForThisLoginIsPutBack) {
    // An administrator's login may not read pg_hba_file_rules: nothing unchecked stays in place.
    auto c = consola(kAdmin);
    const QByteArray original = fijo("stock-scram.conf");
    sesion().RutaPostgres = instalacionCon(original);
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnPermisosGuardar");
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se pudo verificar el archivo de configuración con el servidor; los "
                                                "cambios no se aplicaron.\r\n")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("Detalle del servidor: ")));
    EXPECT_TRUE(texto.contains(QStringLiteral("pg_hba_file_rules")));
    EXPECT_FALSE(texto.contains(QStringLiteral("SELECT")));
    EXPECT_TRUE(texto.endsWith(QStringLiteral("\r\nSe restauró el archivo anterior.")));
    EXPECT_EQ(leer(w.archivo()), original);
    EXPECT_EQ(leer(w.archivo() + QStringLiteral(".bak")), original);
}

TEST_F(VentanaPermisos, AFileThatCannotBeWrittenStaysAsItWas) {
    // An administrator may not ask the server where its file is: the installation's is used.
    auto c = consola(kAdmin);
    const QByteArray original = fijo("stock-scram.conf");
    sesion().RutaPostgres = instalacionCon(original);
    const QString datos = sesion().RutaPostgres + QStringLiteral("data");
    const QString ruta = datos + QStringLiteral("/pg_hba.conf");
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    ASSERT_EQ(w.archivo(), ruta);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));

    // The folder belongs to the server's owner and is read-only, and the save runs as that owner and
    // group (root would write anyway).
    const passwd* duenio = ::getpwnam(PgCluster::instance().osOwner().toLocal8Bit().constData());
    ASSERT_NE(duenio, nullptr);
    QFile::setPermissions(m_instalacion.path(), QFile::permissions(m_instalacion.path()) | QFile::ExeOther);
    ASSERT_EQ(::chown(QFile::encodeName(datos).constData(), duenio->pw_uid, duenio->pw_gid), 0);
    ASSERT_EQ(::chown(QFile::encodeName(ruta).constData(), duenio->pw_uid, duenio->pw_gid), 0);
    ASSERT_TRUE(QFile::setPermissions(datos, QFile::ReadOwner | QFile::ExeOwner));
    m_dialogs.answer(MsgResult::Ok);
    const bool comoRoot = ::geteuid() == 0;
    ASSERT_TRUE(!comoRoot || (::setegid(duenio->pw_gid) == 0 && ::seteuid(duenio->pw_uid) == 0));
    click(w, "BtnPermisosGuardar");
    ASSERT_TRUE(!comoRoot || (::seteuid(0) == 0 && ::setegid(0) == 0));
    QFile::setPermissions(datos, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_EQ(texto, QStringLiteral("No se guardaron los cambios: no se pudo escribir el archivo de configuración ") +
                         ruta + QStringLiteral("\r\nNo se tiene permiso para usar el archivo ") + ruta +
                         QStringLiteral(".bak.\r\nEl archivo de configuración no se modificó."));
    EXPECT_EQ(leer(ruta), original);
    EXPECT_EQ(QDir(datos).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("pg_hba.conf")});
}

TEST_F(VentanaPermisos, ALinkAtTheFileOrItsCopyIsNeverWrittenThrough) {
    auto c = consola();
    TempDir otro;
    const QString objetivo = otro.file(QStringLiteral("objetivo"));
    for (const QString& enlace : {m_reglas.ruta(), m_reglas.ruta() + QStringLiteral(".bak")}) {
        SCOPED_TRACE(enlace.toStdString());
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
        // Planted after the window read the file.
        escribir(objetivo, "contenido ajeno\n");
        const QByteArray antes = leer(m_reglas.ruta());
        QFile::remove(m_reglas.ruta() + QStringLiteral(".bak"));
        if (enlace == m_reglas.ruta()) {
            QFile::remove(enlace);
        }
        ASSERT_TRUE(QFile::link(objetivo, enlace));
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        click(w, "BtnPermisosGuardar");
        ASSERT_EQ(m_dialogs.texts().size(), 1);
        EXPECT_TRUE(m_dialogs.texts()[0].contains(QStringLiteral("es un enlace simbólico; por seguridad no se sigue.")))
            << m_dialogs.texts()[0].toStdString();
        EXPECT_TRUE(m_dialogs.texts()[0].endsWith(QStringLiteral("El archivo de configuración no se modificó.")));
        EXPECT_EQ(leer(objetivo), "contenido ajeno\n");
        EXPECT_TRUE(QFileInfo(enlace).isSymLink());
        QFile::remove(enlace);
        if (enlace == m_reglas.ruta()) {
            m_reglas.reponer(antes);
        } else {
            EXPECT_EQ(leer(m_reglas.ruta()), antes);
        }
    }
}

// The server's owner may change the folders of its rules file: one swapped for a link to a root-only folder
// (before the window reads, or between reading and saving) is neither read nor written, and a rules file of
// another user than the server's is not read. The box says why; the root-only file keeps its bytes and
// owner and gets no copy beside it.
TEST_F(VentanaPermisos, ARulesFolderSwappedForALinkOrAFileOfAnotherUserIsNeitherReadNorWritten) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as the server's owner";
    }
    // An administrator's session reads the installation's data/pg_hba.conf; the installation is the
    // server owner's, as the test server's is.
    auto c = consola(kAdmin);
    const passwd* duenio = ::getpwnam(PgCluster::instance().osOwner().toLocal8Bit().constData());
    ASSERT_NE(duenio, nullptr);
    const QString inst = m_instalacion.path() + QStringLiteral("inst/");
    const QString datos = inst + QStringLiteral("data");
    const QString ruta = datos + QStringLiteral("/pg_hba.conf");
    const QByteArray original = fijo("stock-scram.conf");
    auto delDueno = [&](const QString& r) {
        ASSERT_EQ(::chown(QFile::encodeName(r).constData(), duenio->pw_uid, duenio->pw_gid), 0);
    };
    ASSERT_TRUE(QDir().mkpath(datos));
    escribir(ruta, original);
    delDueno(inst);
    delDueno(datos);
    delDueno(ruta);
    sesion().RutaPostgres = inst;
    TempDir raiz; // root's, 0700
    const QByteArray secreto = "host all all 10.66.0.0/16 trust # SECRETO\n";
    escribir(raiz.file(QStringLiteral("pg_hba.conf")), secreto);
    ASSERT_EQ(::chmod(QFile::encodeName(raiz.file(QStringLiteral("pg_hba.conf"))).constData(), 0600), 0);
    const QString aparte = inst + QStringLiteral("data.real");
    auto cambiarPorEnlace = [&] {
        ASSERT_TRUE(QDir().rename(datos, aparte));
        ASSERT_TRUE(QFile::link(raiz.path(), datos));
    };
    auto reponer = [&] {
        ASSERT_TRUE(QFile::remove(datos));
        ASSERT_TRUE(QDir().rename(aparte, datos));
    };
    const QString enlace = QStringLiteral("La carpeta ") + datos +
                           QStringLiteral(" es un enlace simbólico en una carpeta que otro usuario puede cambiar; por "
                                          "seguridad no se sigue.");

    // Swapped before the window reads: nothing is listed, the box says why, the window closes.
    cambiarPorEnlace();
    m_dialogs.answer(MsgResult::Ok);
    {
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        EXPECT_TRUE(w.filas().isEmpty());
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_EQ(m_dialogs.shown()[0].text, QStringLiteral("Ocurrió el Error No. 75\r\nCausa: ") + enlace +
                                                 QStringLiteral("\r\n[Rutina] LeerArchivoConfiguracion"));
        EXPECT_TRUE(esperarHasta([&] { return !w.isVisible(); }, 3000));
    }
    reponer();

    // Swapped between reading and saving: nothing is written there, the box says why.
    {
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        EXPECT_EQ(w.filas(), leerReglas(original).reglas);
        agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
        cambiarPorEnlace();
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        click(w, "BtnPermisosGuardar");
        EXPECT_EQ(m_dialogs.texts(),
                  QStringList{QStringLiteral("No se guardaron los cambios: no se pudo escribir el archivo de "
                                             "configuración ") +
                              ruta + QStringLiteral("\r\n") + enlace +
                              QStringLiteral("\r\nEl archivo de configuración no se modificó.")});
        reponer();
    }
    EXPECT_EQ(leer(ruta), original);
    EXPECT_FALSE(QFileInfo::exists(ruta + QStringLiteral(".bak")));

    // A rules file of root's in the server owner's folder: not read.
    ASSERT_EQ(::chown(QFile::encodeName(ruta).constData(), 0, 0), 0);
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    {
        FrmPermisosAcceso w(c.get(), c.get());
        abrir(w);
        EXPECT_TRUE(w.filas().isEmpty());
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(QStringLiteral("El archivo ") + ruta +
                                                       QStringLiteral(" pertenece al usuario \"root\" y no a \"") +
                                                       PgCluster::instance().osOwner() + QLatin1Char('"')))
            << m_dialogs.shown()[0].text.toStdString();
    }

    EXPECT_EQ(leer(raiz.file(QStringLiteral("pg_hba.conf"))), secreto);
    EXPECT_EQ(QDir(raiz.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("pg_hba.conf")});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(raiz.file(QStringLiteral("pg_hba.conf"))).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(VentanaPermisos, ASaveBehindALockedCatalogNeverFreezesTheWindow) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
    agregar(w, "BtnPermisosPermitir", QStringLiteral("10.9.8.0"), QStringLiteral("24"));
    const QByteArray antes = leer(m_reglas.ruta());

    // Another session holds the role memberships the check reads.
    auto& cl = PgCluster::instance();
    QProcess candado;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), cl.password());
    env.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("v7-candado"));
    candado.setProcessEnvironment(env);
    candado.start(cl.binFolder() + QStringLiteral("/psql"),
                  {QStringLiteral("-X"), QStringLiteral("-h"), cl.host(), QStringLiteral("-p"),
                   QString::number(cl.port()), QStringLiteral("-U"), cl.superuser(), QStringLiteral("-d"),
                   QStringLiteral("veliro7"), QStringLiteral("-c"),
                   QStringLiteral("BEGIN; LOCK TABLE pg_catalog.pg_auth_members IN ACCESS EXCLUSIVE MODE; "
                                  "SELECT pg_sleep(120);")});
    ASSERT_TRUE(esperarHasta(
        [&] {
            return cl.scalar(
                       QStringLiteral("SELECT count(*) FROM pg_locks WHERE granted AND mode = "
                                      "'AccessExclusiveLock' AND relation = 'pg_catalog.pg_auth_members'::regclass")) ==
                   QStringLiteral("1");
        },
        30000));

    // A 10 ms timer keeps firing while the save waits for the lock, until the lock limit ends it.
    m_dialogs.answer(MsgResult::Ok);
    Pausas pausas;
    click(w, "BtnPermisosGuardar");
    pausas.detener();
    const qint64 total = pausas.reloj().largo();
    cl.psql(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
                           "'v7-candado'"));
    candado.waitForFinished(30000);

    EXPECT_TRUE(pausas.siempreAtendio()) << pausas.informe();
    EXPECT_GE(total, kPlazosInteractivos.bloqueoMs - 500);
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    const QString texto = m_dialogs.texts()[0];
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se pudo verificar el archivo de configuración con el servidor; los "
                                                "cambios no se aplicaron.\r\nOtra sesión está usando estos datos")))
        << texto.toStdString();
    EXPECT_EQ(leer(m_reglas.ruta()), antes);
}

TEST_F(VentanaPermisos, RefusedInputsLeaveTheListAsItWas) {
    auto c = consola();
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
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
    // An administrator's login may not ask the server where its file is: the installation's is read.
    auto c = consola(kAdmin);
    TempDir otro;
    const QString secreto = otro.file(QStringLiteral("secreto"));
    escribir(secreto, "host all all 10.66.0.0/16 trust # secreto\n");
    enum class Que { SinCarpeta, SinArchivo, Enlace, Tuberia };
    const struct {
        Que que;
        const char* titulo;
        const char* inicio;
        const char* motivo;
    } tabla[] = {
        {Que::SinCarpeta, "Permisos de conexión",
         "No se encontró el archivo de configuración \"pg_hba.conf\"\r\nPor favor, verifique que el archivo "
         "exista.\r\n",
         ""},
        {Que::SinArchivo, "V7Tools", "Ocurrió el Error No. 53\r\nCausa: ", "No se encontró el archivo "},
        {Que::Enlace, "V7Tools",
         "Ocurrió el Error No. 75\r\nCausa: ", "es un enlace simbólico; por seguridad no se sigue."},
        {Que::Tuberia, "V7Tools", "Ocurrió el Error No. 75\r\nCausa: ", "no es un archivo común"},
    };
    for (const auto& t : tabla) {
        SCOPED_TRACE(t.inicio);
        TempDir instalacion;
        const QString datos = instalacion.path() + QStringLiteral("data");
        const QString ruta = datos + QStringLiteral("/pg_hba.conf");
        if (t.que != Que::SinCarpeta) {
            ASSERT_TRUE(QDir().mkpath(datos));
        }
        if (t.que == Que::Enlace) {
            ASSERT_TRUE(QFile::link(secreto, ruta));
        } else if (t.que == Que::Tuberia) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(ruta).constData(), 0600), 0);
        }
        sesion().RutaPostgres = instalacion.path();
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        FrmPermisosAcceso w(c.get(), c.get());
        EXPECT_EQ(w.timerDescargar()->interval(), 250);
        QElapsedTimer reloj;
        reloj.start();
        w.show();
        ASSERT_TRUE(esperarHasta([&] { return w.cargado(); }, 3000));
        EXPECT_LT(reloj.elapsed(), 1000);
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].title, QString::fromUtf8(t.titulo));
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QString::fromUtf8(t.inicio)))
            << m_dialogs.shown()[0].text.toStdString();
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(QString::fromUtf8(t.motivo)))
            << m_dialogs.shown()[0].text.toStdString();
        // Nothing of a file behind a link is shown.
        EXPECT_TRUE(w.filas().isEmpty());
        EXPECT_TRUE(esperarHasta([&] { return !w.isVisible(); }, 3000));
    }
}

TEST_F(VentanaPermisos, WithoutRowsThereIsNothingToRemoveOrSave) {
    auto c = consola(kAdmin);
    const QByteArray soloLocal = "local   all   all   scram-sha-256\n";
    sesion().RutaPostgres = instalacionCon(soloLocal);
    FrmPermisosAcceso w(c.get(), c.get());
    abrir(w);
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
        // Every button can be found by its name, as a screen reader names it.
        for (QAbstractButton* b : m->findChildren<QAbstractButton*>()) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
            ASSERT_NE(a, nullptr);
            EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty()) << b->objectName().toStdString();
        }
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/permisos.png")));
        click(*m, "BtnSalirForma");
    });
    click(consola, "BtnPermisos");
    EXPECT_TRUE(abierta);
    EXPECT_EQ(leer(m_reglas.ruta()), m_reglas.original()); // closed without saving
}

} // namespace
