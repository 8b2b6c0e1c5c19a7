// Connected sessions (one row per client address, client sessions only) and the server's log of
// the day.
#include "console/FrmInicio.h"
#include "console/FrmUsuariosConectados.h"
#include "console/monitoreo.h"
#include "core/session.h"
#include "platform/db.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

using namespace v7;
using namespace v7::test;

namespace {

QStringList textos(const QTreeWidget* lista, int columna = -1) {
    QStringList out;
    for (int i = 0; i < lista->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lista->topLevelItem(i);
        if (columna >= 0) {
            out << item->text(columna);
            continue;
        }
        QStringList fila;
        for (int c = 0; c < lista->columnCount(); ++c) {
            fila << item->text(c);
        }
        out << fila.join(QLatin1Char('|'));
    }
    return out;
}

void elegirPestania(const QWidget& w, int indice) {
    auto* tab = hijo<QTabBar>(w, "TabUsuarios");
    QTest::mouseClick(tab, Qt::LeftButton, {}, tab->tabRect(indice).center());
}

class VentanaMonitoreo : public PruebaConServidor {
protected:
    // An administrator's session, whose window reads the installation's data/pg_log (it may not ask the
    // server where its log is); the folder of today's log files.
    QString carpetaPropia() {
        EXPECT_TRUE(m_server->iniciarSesion(kAdmin));
        const QString carpeta = m_instalacion.path() + QStringLiteral("data/pg_log/");
        EXPECT_TRUE(QDir().mkpath(carpeta));
        sesion().RutaPostgres = m_instalacion.path();
        return carpeta;
    }
    static QString hoy() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }
    static QString nombreDeHoy(const char* hora) {
        return QStringLiteral("postgresql-") + hoy() + QLatin1Char('_') + QString::fromLatin1(hora) +
               QStringLiteral(".log");
    }

    ScriptedDialogs m_dialogs;
    TempDir m_instalacion;
};

TEST(LineaVisible, ControlCharactersAndDirectionMarksAreEscapedAndLongLinesCut) {
    struct Caso {
        QString linea;
        QString mostrada;
    };
    const Caso casos[] = {
        {QStringLiteral("LOG:  listo para aceptar conexiones"), QStringLiteral("LOG:  listo para aceptar conexiones")},
        {QStringLiteral("a\x1B[2Jb\rc\x7F"), QStringLiteral("a\\x1B[2Jb\\x0Dc\\x7F")},
        {QStringLiteral("STATEMENT:\tSELECT 1"), QStringLiteral("STATEMENT:    SELECT 1")},
        {QString(QChar(0x85)) + QStringLiteral("x"), QStringLiteral("\\x85x")},
        // A right-to-left override would show "usuario admin" reversed after it; isolates and marks too.
        {QStringLiteral("usuario ") + QChar(0x202E) + QStringLiteral("nimda"), QStringLiteral("usuario \\u202Enimda")},
        {QChar(0x2067) + QStringLiteral("x") + QChar(0x2069) + QChar(0x200F) + QChar(0x2028),
         QStringLiteral("\\u2067x\\u2069\\u200F\\u2028")},
        {QStringLiteral("señal recibida: ü €"), QStringLiteral("señal recibida: ü €")},
        {QString(kMaxCaracteresLinea + 1000, QLatin1Char('x')),
         QString(kMaxCaracteresLinea, QLatin1Char('x')) + QStringLiteral(" … [línea recortada: 1000 caracteres más]")},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(lineaVisible(c.linea), c.mostrada) << c.linea.left(40).toStdString();
    }
}

TEST(UltimaSesionTexto, TheBannerNamesWhoFromWhereAndTheMonthInSpanish) {
    const QLocale es(QLocale::Spanish, QLocale::Mexico);
    const QString inicio = QStringLiteral("El último usuario que inicio sesión fue ");
    struct Caso {
        UltimaSesion sesion;
        QString texto;
    };
    const Caso casos[] = {
        {UltimaSesion{}, inicio},
        {UltimaSesion{true, QStringLiteral("jefe"), QStringLiteral("10.0.0.7"),
                      QStringLiteral("2026-12-10 14:03:04.52-06")},
         inicio + QStringLiteral("'jefe' desde la dirección IP  10.0.0.7 el día  10 de diciembre de 2026, 14:03:04")},
        {UltimaSesion{true, std::nullopt, std::nullopt, QStringLiteral("2027-01-02 08:09:10")},
         inicio + QStringLiteral("- Desconocido - desde la dirección IP  ###.###.###.### el día  2 de enero de 2027, "
                                 "08:09:10")},
        {UltimaSesion{true, QStringLiteral("ana"), QStringLiteral("::1"), std::nullopt},
         inicio + QStringLiteral("'ana' desde la dirección IP  ::1 el día  - Desconocido -")},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(textoUltimaSesion(c.sesion, es), c.texto);
    }
}

TEST_F(VentanaMonitoreo, OneRowPerClientAddressAndNoneForTheServersOwnProcesses) {
    auto& c = PgCluster::instance();
    // The server's own processes are there, without a client address.
    ASSERT_NE(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE client_addr IS NULL AND "
                                      "backend_type <> 'client backend'")),
              QStringLiteral("0"));
    ASSERT_TRUE(m_server->iniciarSesion());
    // Two more sessions from the same address, the newest one of another login.
    db::Connection otra, ultima;
    db::DbError e;
    otra.setConnectionString(c.connectionString(kAdmin.usuario, kAdmin.clave));
    ASSERT_TRUE(otra.open(e)) << e.description.toStdString();
    ultima.setConnectionString(c.connectionString(kOperador.usuario, kOperador.clave));
    ASSERT_TRUE(ultima.open(e)) << e.description.toStdString();

    FrmUsuariosConectados w;
    ASSERT_TRUE(w.cargado());
    auto* lista = hijo<QTreeWidget>(w, "ListUsuarios");
    ASSERT_EQ(lista->topLevelItemCount(), 1) << textos(lista).join(QLatin1Char('\n')).toStdString();
    const QTreeWidgetItem* fila = lista->topLevelItem(0);
    EXPECT_EQ(fila->text(0), QStringLiteral("veliro7"));
    EXPECT_EQ(fila->text(1), kOperador.usuario); // the newest session of the address
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(fila->text(2))
                    .hasMatch())
        << fila->text(2).toStdString();
    EXPECT_EQ(fila->text(3), QStringLiteral("127.0.0.1"));
    EXPECT_GT(fila->text(4).toInt(), 0);
    // Each column as wide as its header and its text: the start time is not cut, the port not stretched.
    const QFontMetrics fm(lista->font());
    const QFontMetrics fmCabecera(lista->header()->font());
    for (int c = 0; c < 5; ++c) {
        SCOPED_TRACE(c);
        const int necesario =
            qMax(fm.horizontalAdvance(fila->text(c)), fmCabecera.horizontalAdvance(lista->headerItem()->text(c)));
        EXPECT_GE(lista->columnWidth(c), necesario);
        EXPECT_LT(lista->columnWidth(c), necesario + 60);
    }
    EXPECT_EQ(hijo<QLabel>(w, "EtConectados")->text(), QStringLiteral("Actualmente hay 1 usuario(s) conectado(s)"));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(VentanaMonitoreo, AFailingQueryIsShownAndTheWindowClosesWithoutEndingTheProgram) {
    ASSERT_TRUE(m_server->iniciarSesion());
    sesion().ConexionPrincipal->close();
    m_dialogs.answer(MsgResult::Ok);
    FrmUsuariosConectados w;
    EXPECT_FALSE(w.cargado());
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    // A Spanish sentence first, the driver's words after it, never the statement.
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se pudo leer la lista de usuarios conectados.\r\n")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("Detalle del servidor: "))) << texto.toStdString();
    EXPECT_FALSE(texto.contains(QStringLiteral("pg_stat_activity"))) << texto.toStdString();
    QTimer::singleShot(5000, &w, [&w] {
        ADD_FAILURE() << "the window stayed open";
        w.done(QDialog::Accepted);
    });
    EXPECT_EQ(w.exec(), QDialog::Rejected);
    EXPECT_TRUE(m_salidas.empty());
}

TEST_F(VentanaMonitoreo, TheLogTabShowsTheDaysLastFileAndSaysWhenThereIsNone) {
    // An administrator may not ask the server where it logs: the installation's data/pg_log is read.
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    TempDir instalacion;
    const QString carpeta = instalacion.path() + QStringLiteral("data/pg_log/");
    ASSERT_TRUE(QDir().mkpath(carpeta));
    sesion().RutaPostgres = instalacion.path();
    const QString hoy = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString ayer = QDate::currentDate().addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
    const std::pair<QString, QByteArray> archivos[] = {
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_140200.log"), "\xC3\xBAltimo: se\xC3\xB1"
                                                                              "al recibida\r\nsegunda l\xC3\xADnea\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_000000.log"), "primero\n"},
        {QStringLiteral("postgresql-") + ayer + QStringLiteral("_235959.log"), "ayer\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_091500.log"), "intermedio\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_150000.csv"), "otro formato\n"},
    };
    for (const auto& [nombre, contenido] : archivos) {
        QFile f(carpeta + nombre);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenido);
    }
    FrmUsuariosConectados w;
    w.show();
    elegirPestania(w, 1);
    auto* log = hijo<QTreeWidget>(w, "ListLog");
    EXPECT_EQ(textos(log), (QStringList{QStringLiteral("último: señal recibida"), QStringLiteral("segunda línea")}));
    EXPECT_EQ(log->headerItem()->text(0), QStringLiteral("Evento"));
    EXPECT_TRUE(w.tabResaltada(1));
    EXPECT_FALSE(w.tabResaltada(0));
    EXPECT_TRUE(hijo<QWidget>(w, "FrmBitacora")->isVisible());
    EXPECT_FALSE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    EXPECT_TRUE(m_dialogs.shown().empty());

    // A day without a file: the box with the date; the list keeps what it showed; the tabs still work.
    for (const auto& [nombre, contenido] : archivos) {
        QFile::remove(carpeta + nombre);
    }
    elegirPestania(w, 0);
    EXPECT_TRUE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    m_dialogs.answer(MsgResult::Ok);
    elegirPestania(w, 1);
    EXPECT_EQ(
        m_dialogs.texts(),
        QStringList{QStringLiteral("No se encontró el archivo con la bitácora correspondiente a la fecha ") + hoy});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(log->topLevelItemCount(), 2);
    EXPECT_TRUE(hijo<QTabBar>(w, "TabUsuarios")->isEnabled());
    elegirPestania(w, 0);
    EXPECT_TRUE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    EXPECT_TRUE(w.tabResaltada(0));
}

TEST_F(VentanaMonitoreo, TheConsoleOpensItTheServersOwnLogIsReadAndScreenshotsAreTaken) {
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }));
    // A superuser's window follows the server to its log folder, not the installation's.
    sesion().RutaPostgres = QStringLiteral("/nonexistent/");
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    bool abierta = false;
    alAbrirModal([&](QWidget* m) {
        abierta = true;
        EXPECT_EQ(m->objectName(), QStringLiteral("FrmUsuariosConectados"));
        EXPECT_EQ(m->windowTitle(), QStringLiteral("VELIRO7 -  Usuarios conectados"));
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/usuarios_conectados.png")));
        elegirPestania(*m, 1);
        const QStringList lineas = textos(hijo<QTreeWidget>(*m, "ListLog"));
        EXPECT_FALSE(lineas.filter(QStringLiteral("database system is ready to accept connections")).isEmpty())
            << lineas.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/bitacora.png")));
        click(*m, "BtnSalir");
    });
    click(consola, "BtnMonitoreo");
    EXPECT_TRUE(abierta);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
}

// Whatever lies at today's log name, the window reads only a regular file: a link planted there (the
// database's OS user can plant one) is refused and its target never shown, and a FIFO or a folder neither
// holds the window nor is read.
TEST_F(VentanaMonitoreo, TheLogTabNeverFollowsALinkNorWaitsOnAFifo) {
    const QString carpeta = carpetaPropia();
    const QString secreto = m_instalacion.path() + QStringLiteral("secreto.txt");
    escribir(secreto, "SECRETO-DE-ROOT\n");
    ASSERT_EQ(::chmod(QFile::encodeName(secreto).constData(), 0600), 0);
    escribir(carpeta + nombreDeHoy("000000"), "primera linea\n");

    FrmUsuariosConectados w;
    w.show();
    elegirPestania(w, 1);
    auto* log = hijo<QTreeWidget>(w, "ListLog");
    ASSERT_EQ(textos(log), QStringList{QStringLiteral("primera linea")});
    elegirPestania(w, 0);

    for (const ArchivoPlantado& c : archivosPlantados(secreto)) {
        SCOPED_TRACE(c.nombre);
        const QString ruta = carpeta + nombreDeHoy("235959");
        ASSERT_TRUE(c.plantar(ruta));
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        QElapsedTimer reloj;
        reloj.start();
        elegirPestania(w, 1);
        EXPECT_LT(reloj.elapsed(), 1000);
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Warning);
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QStringLiteral("No se muestra la bitácora del día.\r\n")));
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(ruta)) << m_dialogs.shown()[0].text.toStdString();
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(c.motivo)) << m_dialogs.shown()[0].text.toStdString();
        // The list keeps what it showed; nothing of the target reached it.
        EXPECT_EQ(textos(log), QStringList{QStringLiteral("primera linea")});
        EXPECT_TRUE(hijo<QTabBar>(w, "TabUsuarios")->isEnabled());
        elegirPestania(w, 0);
        ASSERT_TRUE(QFileInfo(ruta).isDir() ? QDir(ruta).removeRecursively() : QFile::remove(ruta));
    }
}

// Only the server's owner writes its logs. A database superuser (no OS access needed; an import file can do
// it too) may point log_directory at a root-only folder; root's files may be hard-linked into pg_log; the
// owner may make pg_log a link: in each case the tab says why it shows nothing, and nothing of the root-only
// file reaches the list.
TEST_F(VentanaMonitoreo, TheLogTabReadsOnlyTheServerOwnersFilesInARealFolder) {
    auto& c = PgCluster::instance();
    TempDir raiz; // root's, 0700
    const QString secreto = raiz.file(nombreDeHoy("235959"));
    escribir(secreto, "SECRETO-DE-ROOT\n");
    ASSERT_EQ(::chmod(QFile::encodeName(secreto).constData(), 0600), 0);
    const QString duenoServidor = c.osOwner();
    const QString enlazado = c.dataFolder() + QStringLiteral("/pg_log/") + nombreDeHoy("235959");
    auto ajustar = [&](const QString& directorio) {
        const QString sql = directorio.isEmpty()
                                ? QStringLiteral("ALTER SYSTEM RESET log_directory;\nSELECT pg_reload_conf();")
                                : QStringLiteral("ALTER SYSTEM SET log_directory = '") + directorio +
                                      QStringLiteral("';\nSELECT pg_reload_conf();");
        ASSERT_TRUE(c.psql(sql, nullptr, QStringLiteral("postgres")));
        const QString esperado = directorio.isEmpty() ? QStringLiteral("pg_log") : QDir::cleanPath(directorio);
        ASSERT_TRUE(esperarHasta([&] {
            return c.scalar(QStringLiteral("SELECT setting FROM pg_settings WHERE name = 'log_directory'")) == esperado;
        }));
    };
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        std::function<void()> deshacer;
        QString motivo;
    };
    const Caso casos[] = {
        {"log_directory set to a root-only folder",
         [&] {
             ASSERT_TRUE(m_server->iniciarSesion());
             ajustar(raiz.path());
         },
         [&] { ajustar(QString()); },
         QStringLiteral("El archivo ") + secreto + QStringLiteral(" pertenece al usuario \"root\" y no a \"") +
             duenoServidor + QStringLiteral("\"; por seguridad no se usa.")},
        {"a root-only file hard-linked into pg_log",
         [&] {
             ASSERT_TRUE(m_server->iniciarSesion());
             ASSERT_EQ(::link(QFile::encodeName(secreto).constData(), QFile::encodeName(enlazado).constData()), 0);
         },
         [&] { QFile::remove(enlazado); },
         QStringLiteral("pertenece al usuario \"root\" y no a \"") + duenoServidor + QLatin1Char('"')},
        {"pg_log a link to a root-only folder (the installation's, for an administrator)",
         [&] {
             ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
             const QString datos = m_instalacion.path() + QStringLiteral("data");
             ASSERT_TRUE(QDir().mkpath(datos));
             const passwd* pw = ::getpwnam(duenoServidor.toLocal8Bit().constData());
             ASSERT_NE(pw, nullptr);
             ASSERT_EQ(::chown(QFile::encodeName(datos).constData(), pw->pw_uid, pw->pw_gid), 0);
             ASSERT_TRUE(QFile::link(raiz.path(), datos + QStringLiteral("/pg_log")));
             sesion().RutaPostgres = m_instalacion.path();
         },
         [] {},
         QStringLiteral("/data/pg_log es un enlace simbólico en una carpeta que otro usuario puede cambiar; por "
                        "seguridad no se sigue.")},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        {
            // Undone however the case ends: the other tests read the server's own log.
            struct Deshacer {
                const std::function<void()>& accion;
                ~Deshacer() { accion(); }
            } deshacer{k.deshacer};
            k.preparar();
            m_dialogs.clear();
            m_dialogs.answer(MsgResult::Ok);
            FrmUsuariosConectados w;
            w.show();
            elegirPestania(w, 1);
            auto* log = hijo<QTreeWidget>(w, "ListLog");
            EXPECT_EQ(log->topLevelItemCount(), 0);
            EXPECT_FALSE(textos(log).join(QLatin1Char('\n')).contains(QStringLiteral("SECRETO")));
            ASSERT_EQ(m_dialogs.shown().size(), 1u);
            EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Warning);
            EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QStringLiteral("No se muestra la bitácora del día.\r\n")));
            EXPECT_TRUE(m_dialogs.shown()[0].text.contains(k.motivo)) << m_dialogs.shown()[0].text.toStdString();
            EXPECT_TRUE(hijo<QTabBar>(w, "TabUsuarios")->isEnabled());
        }
        EXPECT_EQ(leer(secreto), QByteArray("SECRETO-DE-ROOT\n"));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(secreto).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

// A real day's log of 300,000 lines with one 2 MB line among them: read and put into the list at once, the
// window's events running all along.
TEST_F(VentanaMonitoreo, AHugeLogIsShownAtOnceWhileTheWindowKeepsRunning) {
    const QString carpeta = carpetaPropia();
    constexpr int kLineas = 300000;
    QByteArray datos;
    datos.reserve(kLineas * 64 + 3 * 1024 * 1024);
    for (int i = 0; i < kLineas; ++i) {
        datos += "2026-12-10 14:03:04.123 CST [4242] LOG:  checkpoint n.";
        datos += QByteArray::number(i);
        datos += '\n';
        if (i == kLineas / 2) {
            datos += "2026-12-10 14:03:05.000 CST [4243] STATEMENT:  INSERT INTO t VALUES ('";
            datos += QByteArray(2 * 1024 * 1024, 'z');
            datos += "')\n";
        }
    }
    escribir(carpeta + nombreDeHoy("000000"), datos);
    ASSERT_LT(datos.size(), kLimiteBitacora);

    FrmUsuariosConectados w;
    w.show();
    auto* log = hijo<QTreeWidget>(w, "ListLog");
    Pausas pausas;
    QElapsedTimer reloj;
    reloj.start();
    elegirPestania(w, 1);
    const qint64 duracion = reloj.elapsed();
    const qint64 mayorPausa = pausas.mayor();
    ASSERT_EQ(log->topLevelItemCount(), kLineas + 1);
    EXPECT_LT(duracion, 3000);
    // The list itself takes the rows in one step on the windows' thread; everything else runs beside it.
    EXPECT_LT(mayorPausa, 500);
    std::cout << "300,000 lines and a 2 MB line shown in " << duracion << " ms; longest pause " << mayorPausa
              << " ms\n";
    EXPECT_EQ(log->topLevelItem(0)->text(0), QStringLiteral("2026-12-10 14:03:04.123 CST [4242] LOG:  checkpoint n.0"));
    const QString larga = log->topLevelItem(kLineas / 2 + 1)->text(0);
    EXPECT_TRUE(larga.startsWith(QStringLiteral("2026-12-10 14:03:05.000 CST [4243] STATEMENT:  INSERT")));
    EXPECT_TRUE(larga.contains(QStringLiteral(" … [línea recortada: "))) << larga.right(80).toStdString();
    EXPECT_EQ(log->topLevelItem(kLineas)->text(0),
              QStringLiteral("2026-12-10 14:03:04.123 CST [4242] LOG:  checkpoint n.") + QString::number(kLineas - 1));
    EXPECT_TRUE(m_dialogs.shown().empty());

    // Shown again on the next visit, as quickly.
    elegirPestania(w, 0);
    reloj.restart();
    elegirPestania(w, 1);
    EXPECT_LT(reloj.elapsed(), 3000);
    EXPECT_EQ(log->topLevelItemCount(), kLineas + 1);
}

// A log larger than what is read: its end is shown, after a line that says so; the line cut at the start
// of what was read is left out.
TEST_F(VentanaMonitoreo, AVeryLargeLogShowsItsEndAndSaysSo) {
    const QString carpeta = carpetaPropia();
    const QByteArray linea = QByteArray(99, 'a') + '\n';
    QByteArray datos;
    const qint64 tamano = kLimiteBitacora + 8 * 1024 * 1024 + 37;
    datos.reserve(tamano + 100);
    while (datos.size() + linea.size() <= tamano) {
        datos += linea;
    }
    datos += "ultima linea";
    escribir(carpeta + nombreDeHoy("000000"), datos);

    FrmUsuariosConectados w;
    w.show();
    elegirPestania(w, 1);
    auto* log = hijo<QTreeWidget>(w, "ListLog");
    ASSERT_GT(log->topLevelItemCount(), 2);
    EXPECT_EQ(log->topLevelItem(0)->text(0),
              QStringLiteral("[Se muestra solo el final de la bitácora: los últimos 32 MB de un archivo de 40 MB]"));
    EXPECT_EQ(log->topLevelItem(1)->text(0), QString::fromLatin1(linea.chopped(1)));
    EXPECT_EQ(log->topLevelItem(log->topLevelItemCount() - 1)->text(0), QStringLiteral("ultima linea"));
    EXPECT_LE(qint64(log->topLevelItemCount() - 2) * linea.size() + 12, kLimiteBitacora);
    EXPECT_TRUE(m_dialogs.shown().empty());
}

} // namespace
