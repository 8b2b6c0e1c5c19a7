// The backup schedule: its window driven step by step, the cron file, settings file and description it
// leaves, the cron line run as cron runs it, and the removal.
#include "autobackup/configuracion.h"
#include "autobackup/ejecucion.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "maintenance/FrmProgTareas.h"
#include "maintenance/programacion.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"
#include "tests/support/cajas_reales.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QTimeEdit>

#include <gtest/gtest.h>
#include <zip.h>

#include <sys/stat.h>

using namespace v7;
using namespace v7::test;

namespace {

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int modo(const QString& ruta) {
    struct stat st {};
    return ::stat(QFile::encodeName(ruta).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList miembrosZip(const QString& ruta) {
    QStringList miembros;
    int err = 0;
    if (zip_t* z = zip_open(QFile::encodeName(ruta).constData(), ZIP_RDONLY, &err)) {
        for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
            miembros << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
        }
        zip_close(z);
    }
    miembros.sort();
    return miembros;
}

// The command of a crontab line of /etc/cron.d (five time fields and the user before it), as cron hands
// it to the shell: "\%" becomes "%", an unescaped "%" ends it.
QString comandoCron(const QString& linea, QString* usuario) {
    QString resto = linea;
    for (int campo = 0; campo < 6; ++campo) {
        resto = resto.trimmed();
        const qsizetype blanco = resto.indexOf(QLatin1Char(' '));
        if (campo == 5 && usuario != nullptr) {
            *usuario = resto.left(blanco);
        }
        resto = resto.mid(blanco + 1);
    }
    QString comando;
    bool escapado = false;
    for (const QChar c : resto) {
        if (escapado) {
            if (c == u'%') {
                comando.chop(1);
            }
            comando += c;
            escapado = false;
            continue;
        }
        if (c == u'%') {
            break;
        }
        escapado = c == u'\\';
        comando += c;
    }
    return comando;
}

void captura(QWidget& w, const char* nombre) {
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    EXPECT_TRUE(w.grab().save(dir + QLatin1Char('/') + QLatin1String(nombre) + QStringLiteral(".png"))) << nombre;
}

TEST(LineaCron, EachFrequencyAndWhatCannotBeWritten) {
    const QString home = QStringLiteral("/opt/v7/");
    const QString reg = QStringLiteral("/etc/veliro7/registry.ini");
    const QString cmd =
        QStringLiteral(" root V7_HOME='/opt/v7/' V7_REGISTRY='/etc/veliro7/registry.ini' '/opt/v7/V7backup'");
    struct Caso {
        FrecuenciaRespaldo frecuencia;
        const char* dias;
        QTime hora;
        QString carpeta;
        QString esperada; // empty: refused
    };
    using F = FrecuenciaRespaldo;
    const Caso casos[] = {
        {F::Diaria, "MON,THU", QTime(2, 30), home, QStringLiteral("30 2 * * 1,4") + cmd},
        {F::Diaria, "MON,TUE,WED,THU,FRI,SAT,SUN", QTime(0, 0), home, QStringLiteral("0 0 * * 1,2,3,4,5,6,0") + cmd},
        {F::Semanal, "SUN", QTime(23, 5), home, QStringLiteral("5 23 * * 0") + cmd},
        {F::Mensual, "31", QTime(8, 0), home, QStringLiteral("0 8 31 * *") + cmd},
        // A quote is the shell's business, a "%" cron's.
        {F::Semanal, "FRI", QTime(1, 2), QStringLiteral("/opt/it's 100%"),
         QStringLiteral("2 1 * * 5 root V7_HOME='/opt/it'\\''s 100\\%/' V7_REGISTRY='/etc/veliro7/registry.ini' "
                        "'/opt/it'\\''s 100\\%/V7backup'")},
        {F::Mensual, "32", QTime(8, 0), home, QString()},
        {F::Mensual, "", QTime(8, 0), home, QString()},
        {F::Diaria, "", QTime(8, 0), home, QString()},
        {F::Semanal, "DOM", QTime(8, 0), home, QString()},
        {F::Diaria, "MON", QTime(), home, QString()},
        {F::Diaria, "MON", QTime(8, 0), QStringLiteral("/opt/a\nb"), QString()},
        {F::Diaria, "MON", QTime(8, 0), QStringLiteral("/opt/a\\%b"), QString()},
    };
    for (const Caso& c : casos) {
        QString error;
        const QString linea =
            lineaCron(ProgramaRespaldo{c.frecuencia, QString::fromLatin1(c.dias), c.hora}, c.carpeta, reg, &error);
        EXPECT_EQ(linea, c.esperada) << c.dias << " " << c.carpeta.toStdString();
        EXPECT_EQ(error.isEmpty(), !c.esperada.isEmpty()) << c.dias << " " << error.toStdString();
    }
    // What cron hands the shell is what the line meant.
    EXPECT_EQ(comandoCron(casos[4].esperada, nullptr),
              QStringLiteral("V7_HOME='/opt/it'\\''s 100%/' V7_REGISTRY='/etc/veliro7/registry.ini' "
                             "'/opt/it'\\''s 100%/V7backup'"));
}

// The summary names the archive as V7backup writes it, for any path.
TEST(ArchivoDelRespaldo, TheNameV7backupWrites) {
    const QDate fecha(2026, 12, 10);
    for (const char* ruta :
         {"/r/auto.zip", "/r/auto.ZIP", "/r/a.zip.zip", "/r/sin extension", "/r.zip/auto", "/r/auto.zip.bak", ""}) {
        const QString r = QString::fromUtf8(ruta);
        EXPECT_EQ(archivoDelRespaldo(r, fecha.toString(QStringLiteral("yyyyMMdd"))), autobackup::rutaFechada(r, fecha))
            << ruta;
    }
    EXPECT_EQ(archivoDelRespaldo(QStringLiteral("/r/auto.zip")), QStringLiteral("/r/auto_AAAAMMDD.zip"));
}

class Programacion : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        m_oldCron = qgetenv("V7_CRON_DIR");
        qputenv("V7_CRON_DIR", QFile::encodeName(m_cron.path()));
        m_programa = paths::programFolder();
        ASSERT_TRUE(QFile::link(QStringLiteral(V7_BACKUP_EXE), m_programa + QStringLiteral("V7backup")));
        ASSERT_TRUE(QDir().mkpath(m_server->carpeta().path() + QStringLiteral("respaldos")));
        m_destino = m_server->carpeta().path() + QStringLiteral("respaldos/respaldo diario.zip");
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'Falso' WHERE descripcion IN "
                           "('RESPALDOCONFIG', 'RESPALDOOK');"
                           "INSERT INTO config_veliro.configuracion VALUES ('VER_V7BACKUP', 'R1.00 - 2017/10/09');"
                           "INSERT INTO catalogos.usuarios (nombre) VALUES ('marca');")));
    }
    void TearDown() override {
        if (m_oldCron.isNull()) {
            qunsetenv("V7_CRON_DIR");
        } else {
            qputenv("V7_CRON_DIR", m_oldCron);
        }
        m_server.reset();
    }

    static QString valor(const char* clave) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT coalesce(string_agg(valor, ','), '<none>') FROM config_veliro.configuracion "
                           "WHERE descripcion = '%1'")
                .arg(QLatin1String(clave)));
    }
    QString tarea() const { return m_cron.file(QStringLiteral("RespaldoVELIRO")); }
    QString configuracion() const { return m_programa + QStringLiteral("config/v7.respaldo.dat"); }
    QString descripcion() const { return m_programa + QStringLiteral("config/logrespaldo.txt"); }
    // The line every schedule's task ends with.
    QString comando() const {
        return QStringLiteral(" root V7_HOME='") + m_programa + QStringLiteral("' V7_REGISTRY='") +
               m_server->registro() + QStringLiteral("' '") + m_programa + QStringLiteral("V7backup'\n");
    }
    void sinArchivos() const {
        for (const QString& f : {tarea(), configuracion(), descripcion()}) {
            EXPECT_FALSE(QFileInfo::exists(f)) << f.toStdString();
        }
    }

    // The step panel in front (the only one shown).
    static QString pasoVisible(const FrmProgTareas& w) {
        QString visible;
        for (const char* p : {"Panel1", "Panel2", "Panel3", "Panel4", "Panel5"}) {
            if (hijo(w, p)->isVisibleTo(&w)) {
                EXPECT_TRUE(visible.isEmpty()) << "two steps shown";
                visible = QString::fromLatin1(p);
            }
        }
        return visible;
    }
    static void siguiente(const FrmProgTareas& w) { click(w, "BtnSiguiente"); }
    // Step 3 typed in, Enter in the port box.
    void datosConexion(FrmProgTareas& w, const QString& ruta, const QString& ip, const QString& puerto,
                       const char* capturaAntes = nullptr) {
        for (const auto& [caja, texto] :
             {std::pair{"TxtRutaRespaldo", ruta}, std::pair{"TxtIP", ip}, std::pair{"TxtPuerto", puerto}}) {
            auto* c = hijo<QLineEdit>(w, caja);
            c->clear();
            QTest::keyClicks(c, texto);
        }
        if (capturaAntes != nullptr) {
            captura(w, capturaAntes);
        }
        QTest::keyClick(hijo<QLineEdit>(w, "TxtPuerto"), Qt::Key_Return);
    }
    QString puerto() const { return QString::number(PgCluster::instance().port()); }

    std::unique_ptr<ServidorPreparado> m_server;
    TempDir m_cron;
    QByteArray m_oldCron;
    QString m_programa;
    QString m_destino;
};

TEST_F(Programacion, WizardSchedulesDailyWeeklyMonthlyAndTheCronLineWritesTheArchive) {
    ScriptedDialogs dialogs;
    {
        FrmProgTareas w;
        w.show();
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Configuración del respaldo"));
        EXPECT_FALSE(hijo(w, "PanelTareaActual")->isVisible());
        EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel1"));
        EXPECT_TRUE(hijo<QRadioButton>(w, "OptDiario")->isChecked());
        EXPECT_FALSE(hijo(w, "BtnAnterior")->isEnabled());
        captura(w, "programacion-1-frecuencia");

        siguiente(w);
        EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel3"));
        EXPECT_EQ(w.pasoAsistente(), 21);
        for (const char* dia :
             {"ChkLunes", "ChkMartes", "ChkMiercoles", "ChkJueves", "ChkViernes", "ChkSabado", "ChkDomingo"}) {
            EXPECT_TRUE(hijo<QCheckBox>(w, dia)->isChecked()) << dia;
        }
        // The labels untick the days the schedule does not take.
        for (const char* etiqueta : {"EtMartes", "EtMiercoles", "EtViernes", "EtSabado", "EtDomingo"}) {
            click(w, etiqueta);
        }
        hijo<QTimeEdit>(w, "DtpDiario")->setTime(QTime(2, 30));
        captura(w, "programacion-2-dias");
        siguiente(w);
        EXPECT_EQ(w.diasTarea(), QStringLiteral("MON,THU"));
        EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel4"));
        EXPECT_FALSE(hijo(w, "TxtWinPass")->isVisible());
        EXPECT_FALSE(hijo(w, "lblWinUser")->isVisible());

        datosConexion(w, m_destino, QStringLiteral("127.0.0.1"), puerto(), "programacion-3-conexion");
        EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel5"));
        EXPECT_EQ(hijo<QPushButton>(w, "BtnSiguiente")->text(), QStringLiteral("Finalizar"));
        // The days, the time of day and the name V7backup gives each day's archive.
        const QString dias = QStringLiteral(
            "El programador de tareas del sistema realizará esta tarea los dias \r\n- Lunes\r\n- Jueves\r\na las "
            "02:30");
        const QString ubicacion = QStringLiteral("El respaldo se generará en la siguiente ubicación: ") +
                                  m_server->carpeta().path() +
                                  QStringLiteral("respaldos/respaldo diario_AAAAMMDD.zip\r\n(AAAAMMDD: el año, mes "
                                                 "y día de cada respaldo)");
        EXPECT_EQ(hijo<QLabel>(w, "EtDiasTarea")->text(), dias);
        EXPECT_EQ(hijo<QLabel>(w, "EtRutaRespaldo")->text(), ubicacion);
        captura(w, "programacion-4-resumen");
        sinArchivos(); // nothing before Finalizar

        dialogs.answer(MsgResult::Ok);
        siguiente(w);
        EXPECT_EQ(dialogs.texts(),
                  QStringList{QStringLiteral("El respaldo automático ha sido programado correctamente")});
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(w.result(), QDialog::Accepted);

        EXPECT_EQ(leer(tarea()), (QStringLiteral("30 2 * * 1,4") + comando()).toUtf8());
        EXPECT_EQ(modo(tarea()), 0644);
        EXPECT_EQ(leer(configuracion()), (cifrarConClave(kJefe.usuario, false) + QStringLiteral("\r\n") +
                                          cifrarConClave(kJefe.clave, false) + QStringLiteral("\r\n127.0.0.1\r\n") +
                                          puerto() + QStringLiteral("\r\n") + m_destino + QStringLiteral("\r\n"))
                                             .toUtf8());
        EXPECT_EQ(modo(configuracion()), 0600);
        EXPECT_EQ(modo(m_programa + QStringLiteral("config")), 0700);
        const auto leida = autobackup::leerConfiguracionRespaldo(configuracion());
        EXPECT_EQ(leida.campos.usuario, kJefe.usuario);
        EXPECT_EQ(leida.campos.clave, kJefe.clave);
        EXPECT_EQ(leida.campos.ruta, m_destino);
        EXPECT_EQ(leer(descripcion()), (dias + QStringLiteral("\r\n") + ubicacion + QStringLiteral("\r\n")).toUtf8());
        EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Verdadero"));
        EXPECT_EQ(valor("RESPALDOOK"), QStringLiteral("Verdadero"));
    }

    // The task's line as cron runs it: a bare environment, cron's PATH and HOME, from "/".
    {
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'Falso' WHERE descripcion = 'RESPALDOOK'")));
        QString usuario;
        const QString linea = QString::fromUtf8(leer(tarea())).trimmed();
        const QString cmd = comandoCron(linea, &usuario);
        EXPECT_EQ(usuario, QStringLiteral("root"));
        QProcess p;
        p.setProgram(QStringLiteral("/usr/bin/env"));
        p.setArguments({QStringLiteral("-i"), QStringLiteral("PATH=/usr/bin:/bin"), QStringLiteral("HOME=/root"),
                        QStringLiteral("SHELL=/bin/sh"), QStringLiteral("LOGNAME=root"), QStringLiteral("/bin/sh"),
                        QStringLiteral("-c"), cmd});
        p.setWorkingDirectory(QStringLiteral("/"));
        p.setStandardInputFile(QProcess::nullDevice());
        p.start();
        ASSERT_TRUE(p.waitForFinished(300000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QString fechado = m_server->carpeta().path() + QStringLiteral("respaldos/respaldo diario_") +
                                QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".zip");
        EXPECT_EQ(miembrosZip(fechado), (QStringList{QStringLiteral("base.backup"), QStringLiteral("checksum.dat"),
                                                     QStringLiteral("rolesv7.sql")}));
        EXPECT_EQ(valor("RESPALDOOK"), QStringLiteral("Verdadero"));
    }

    // Next time the window shows the schedule; removing it brings the wizard, which schedules weekly.
    struct Siguiente {
        const char* opcion;
        const char* captura;
        QString linea;
    };
    const Siguiente siguientes[] = {
        {"OptSemanal", "programacion-2-semanal", QStringLiteral("30 2 * * 0") + comando()},
        {"OptMensual", "programacion-2-mensual", QStringLiteral("45 23 15 * *") + comando()},
    };
    for (const Siguiente& s : siguientes) {
        FrmProgTareas w;
        w.show();
        ASSERT_TRUE(hijo(w, "PanelTareaActual")->isVisible());
        EXPECT_FALSE(hijo(w, "PanelCentral")->isVisible());
        const QString log = hijo<QLabel>(w, "EtLog")->text();
        EXPECT_TRUE(log.startsWith(QStringLiteral("Actualmente ya se encuentra activado un respaldo automático, a "
                                                  "continuación se muestran los detalles:\r\n\r\n")));
        EXPECT_TRUE(log.endsWith(QString::fromUtf8(leer(descripcion())))) << log.toStdString();
        if (s.opcion == std::string("OptSemanal")) {
            captura(w, "programacion-actual");
        }
        dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
        click(w, "BtnEliminarRespaldo");
        EXPECT_EQ(dialogs.texts().last(),
                  QStringLiteral("La programación del respaldo ha sido eliminada correctamente"));
        sinArchivos();
        EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Falso"));
        EXPECT_FALSE(hijo(w, "PanelTareaActual")->isVisible());
        EXPECT_TRUE(hijo(w, "PanelCentral")->isVisible());
        EXPECT_FALSE(hijo(w, "BtnEliminarRespaldo")->isEnabled());

        // The label selects its option.
        click(w, s.opcion == std::string("OptSemanal") ? "EtSemanal" : "EtMensual");
        EXPECT_TRUE(hijo<QRadioButton>(w, s.opcion)->isChecked());
        siguiente(w);
        if (s.opcion == std::string("OptSemanal")) {
            EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel3"));
            EXPECT_FALSE(hijo(w, "ChkLunes")->isVisible());
            auto* cmb = hijo<QComboBox>(w, "CmbDias");
            EXPECT_TRUE(cmb->isVisible());
            EXPECT_EQ(cmb->currentIndex(), 0);
            cmb->setCurrentIndex(6);
            hijo<QTimeEdit>(w, "DtpDiario")->setTime(QTime(2, 30));
        } else {
            EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel2"));
            auto* cmb = hijo<QComboBox>(w, "CmbDiaMes");
            EXPECT_EQ(cmb->count(), 31);
            EXPECT_EQ(cmb->currentText(), QStringLiteral("1"));
            cmb->setCurrentIndex(14);
            hijo<QTimeEdit>(w, "DtpMensual")->setTime(QTime(23, 45));
        }
        captura(w, s.captura);
        siguiente(w);
        datosConexion(w, m_destino, QStringLiteral("127.0.0.1"), puerto());
        if (s.opcion == std::string("OptSemanal")) {
            EXPECT_EQ(w.diasTarea(), QStringLiteral("SUN"));
            EXPECT_EQ(hijo<QLabel>(w, "EtDiasTarea")->text(),
                      QStringLiteral("El programador de tareas del sistema realizará esta tarea cada semana el día "
                                     "Domingo a las 02:30"));
        } else {
            EXPECT_EQ(w.diasTarea(), QStringLiteral("15"));
            EXPECT_EQ(hijo<QLabel>(w, "EtDiasTarea")->text(),
                      QStringLiteral("El programador de tareas del sistema realizará esta tarea cada mes el día 15 "
                                     "a las 23:45"));
        }
        dialogs.answer(MsgResult::Ok);
        siguiente(w);
        // A schedule made right after a removal keeps its files.
        EXPECT_EQ(QString::fromUtf8(leer(tarea())), s.linea);
        EXPECT_TRUE(QFileInfo::exists(configuracion()));
        EXPECT_TRUE(QFileInfo::exists(descripcion()));
        EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Verdadero"));
    }

    // The last removal leaves none of the schedule's files, and nothing that holds the login: the config
    // folder keeps only what V7backup's runs keep there.
    FrmProgTareas w;
    w.show();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(w, "BtnEliminarRespaldo");
    sinArchivos();
    QDirIterator it(m_programa, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString ruta = it.next();
        if (QFileInfo(ruta).isSymLink()) {
            continue;
        }
        const QByteArray contenido = leer(ruta);
        EXPECT_FALSE(contenido.contains(kJefe.clave.toUtf8())) << ruta.toStdString();
        EXPECT_FALSE(contenido.contains(cifrarConClave(kJefe.clave, false).toUtf8())) << ruta.toStdString();
    }
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Programacion, ConnectionDataIsCheckedInOrderAndAWrongServerOrPortIsRefused) {
    ScriptedDialogs dialogs;
    FrmProgTareas w;
    w.show();
    siguiente(w);
    siguiente(w);
    ASSERT_EQ(w.pasoAsistente(), 3);
    const QString sinConexion = QStringLiteral("No se pudo establecer una conexión al servidor, verifique la "
                                               "información proporcionada e inténtelo nuevamente");
    struct Caso {
        QString ruta, ip, puerto;
        QString mensaje;
        const char* foco; // nullptr: the focus stays
    };
    const QString ip = QStringLiteral("127.0.0.1");
    const Caso casos[] = {
        {QString(), QString(), QString(), QStringLiteral("Proporcione la ruta del respaldo"), "TxtRutaRespaldo"},
        {m_destino, QString(), QString(), QStringLiteral("Proporcione la dirección IP del servidor"), "TxtIP"},
        {m_destino, ip, QString(), QStringLiteral("Proporcione el puerto de conexión con el servidor"), "TxtPuerto"},
        {m_destino, ip, QStringLiteral("0"), QStringLiteral("El puerto debe ser un número entre 1 y 65535"),
         "TxtPuerto"},
        // Nothing listens there; the server listens on 127.0.0.1 only.
        {m_destino, ip, QStringLiteral("1"), sinConexion, nullptr},
        {m_destino, QStringLiteral("127.0.0.2"), puerto(), sinConexion, nullptr},
        // Above the 16-bit range that once wrapped around to the right port.
        {m_destino, ip, QString::number(PgCluster::instance().port() + 65536),
         QStringLiteral("El puerto debe ser un número entre 1 y 65535"), "TxtPuerto"},
    };
    for (const Caso& c : casos) {
        dialogs.answer(MsgResult::Ok);
        hijo(w, "BtnSiguiente")->setFocus();
        datosConexion(w, c.ruta, c.ip, c.puerto);
        ASSERT_EQ(dialogs.shown().size(), 1u) << c.mensaje.toStdString();
        EXPECT_EQ(dialogs.shown()[0].text, c.mensaje);
        EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_EQ(w.pasoAsistente(), 3);
        EXPECT_EQ(pasoVisible(w), QStringLiteral("Panel4"));
        if (c.foco != nullptr) {
            EXPECT_EQ(w.focusWidget(), hijo(w, c.foco)) << c.foco;
        }
        sinArchivos();
        EXPECT_FALSE(QFileInfo::exists(m_programa + QStringLiteral("config")));
        dialogs.clear();
    }
    EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Falso"));

    // The address and port boxes take digits (and dots for the address) only.
    auto* txtIp = hijo<QLineEdit>(w, "TxtIP");
    txtIp->clear();
    QTest::keyClicks(txtIp, QStringLiteral("12a7.0;0.1 "));
    EXPECT_EQ(txtIp->text(), QStringLiteral("127.00.1"));
    auto* txtPuerto = hijo<QLineEdit>(w, "TxtPuerto");
    txtPuerto->clear();
    QTest::keyClicks(txtPuerto, QStringLiteral("5.4x32"));
    EXPECT_EQ(txtPuerto->text(), QStringLiteral("5432"));
}

TEST_F(Programacion, DayStepAndGoingBack) {
    ScriptedDialogs dialogs;
    FrmProgTareas w;
    w.show();
    siguiente(w);
    for (const char* dia :
         {"ChkLunes", "ChkMartes", "ChkMiercoles", "ChkJueves", "ChkViernes", "ChkSabado", "ChkDomingo"}) {
        QTest::keyClick(hijo(w, dia), Qt::Key_Space);
    }
    dialogs.answer(MsgResult::Ok);
    siguiente(w);
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("Debe seleccionar almenos un dia")});
    EXPECT_EQ(w.pasoAsistente(), 21);
    EXPECT_EQ(w.focusWidget(), hijo(w, "ChkLunes"));

    // Back to the first step and forward again ticks every day again.
    click(w, "BtnAnterior");
    EXPECT_EQ(w.pasoAsistente(), 1);
    EXPECT_FALSE(hijo(w, "BtnAnterior")->isEnabled());
    siguiente(w);
    EXPECT_TRUE(hijo<QCheckBox>(w, "ChkDomingo")->isChecked());

    // Weekly shows the list; back and daily again shows the boxes.
    click(w, "BtnAnterior");
    click(w, "EtSemanal");
    siguiente(w);
    EXPECT_TRUE(hijo(w, "CmbDias")->isVisible());
    click(w, "BtnAnterior");
    click(w, "EtDiario");
    siguiente(w);
    EXPECT_FALSE(hijo(w, "CmbDias")->isVisible());
    EXPECT_TRUE(hijo(w, "ChkLunes")->isVisible());
    EXPECT_TRUE(hijo(w, "EtLunes")->isVisible());

    // A task that cannot be created: the window stays at its last step, Anterior gives Siguiente back.
    ASSERT_TRUE(QFile::remove(m_programa + QStringLiteral("V7backup")));
    siguiente(w);
    datosConexion(w, m_destino, QStringLiteral("127.0.0.1"), puerto());
    ASSERT_EQ(w.pasoAsistente(), 4);
    dialogs.answer(MsgResult::Ok);
    siguiente(w);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_TRUE(dialogs.shown()[1].text.startsWith(QStringLiteral(
        "No se logró configurar el respaldo automático.\r\nPor favor, inténtelo nuevamente\r\nNo se encontró el "
        "programa de respaldo automático ")))
        << dialogs.shown()[1].text.toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.pasoAsistente(), 4);
    EXPECT_FALSE(hijo(w, "BtnSiguiente")->isEnabled());
    sinArchivos();
    click(w, "BtnAnterior");
    EXPECT_EQ(w.pasoAsistente(), 3);
    EXPECT_TRUE(hijo(w, "BtnSiguiente")->isEnabled());
    EXPECT_EQ(hijo<QPushButton>(w, "BtnSiguiente")->text(), QStringLiteral("Sigui&ente >"));
}

// From the keyboard, on the real window and the real question box: the page of a schedule opens on Salir,
// so Enter only closes it; Enter on "Eliminar programación" asks first, and Enter on the question answers
// No. Only Yes removes the schedule.
TEST_F(Programacion, EnterNeverRemovesTheSchedule) {
    ASSERT_EQ(AgregarTareaVista(ProgramaRespaldo{FrecuenciaRespaldo::Semanal, QStringLiteral("MON"), QTime(3, 0)}),
              QString());
    ASSERT_TRUE(GrabarConfiguracionRespaldo(QStringLiteral("127.0.0.1"), puerto(), m_destino));
    ASSERT_EQ(grabarDescripcionRespaldo({QStringLiteral("cada semana")}), QString());
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'Verdadero' WHERE descripcion = "
                       "'RESPALDOCONFIG'")));
    const QByteArray tareaAntes = leer(tarea());
    auto intacta = [&] {
        EXPECT_EQ(leer(tarea()), tareaAntes);
        EXPECT_TRUE(QFileInfo::exists(configuracion()));
        EXPECT_TRUE(QFileInfo::exists(descripcion()));
        EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Verdadero"));
    };
    auto enter = [] {
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    };

    {
        FrmProgTareas w;
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        auto* salir = hijo(w, "PanelTareaActual")->findChild<QWidget*>(QStringLiteral("BtnSalir"));
        ASSERT_EQ(QApplication::focusWidget(), salir);
        enter();
        EXPECT_FALSE(w.isVisible());
        intacta();
    }

    FrmProgTareas w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), hijo(w, "BtnEliminarRespaldo"));
    {
        CajasReales cajas({CajasReales::tecla(Qt::Key_Return)});
        enter();
        ASSERT_EQ(cajas.vistas().size(), 1u);
        EXPECT_EQ(cajas.vistas()[0].titulo, QStringLiteral("Eliminar programación"));
        EXPECT_TRUE(cajas.vistas()[0].texto.endsWith(QStringLiteral("¿ Desea eliminar la programación ?")))
            << cajas.vistas()[0].texto.toStdString();
        EXPECT_EQ(cajas.vistas()[0].porDefecto, QMessageBox::No);
    }
    intacta();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(hijo(w, "PanelTareaActual")->isVisible());
    EXPECT_TRUE(hijo(w, "BtnEliminarRespaldo")->isEnabled());
    // The window back in front, as the desktop gives it back once the box has gone (offscreen does not).
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ASSERT_EQ(QApplication::focusWidget(), hijo(w, "BtnEliminarRespaldo"));

    // Yes, then Enter on the notice: the schedule is gone and the wizard comes to view.
    {
        CajasReales cajas({CajasReales::boton(QMessageBox::Yes), CajasReales::tecla(Qt::Key_Return)});
        enter();
        ASSERT_EQ(cajas.vistas().size(), 2u);
        EXPECT_EQ(cajas.vistas()[1].texto,
                  QStringLiteral("La programación del respaldo ha sido eliminada correctamente"));
    }
    sinArchivos();
    EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Falso"));
    EXPECT_TRUE(hijo(w, "PanelCentral")->isVisible());
}

TEST_F(Programacion, RemovalOfATaskAlreadyGoneAndARemovalThatFails) {
    ScriptedDialogs dialogs;
    // A task removed by hand: the schedule's files still go and the flag is cleared.
    ASSERT_EQ(grabarDescripcionRespaldo({QStringLiteral("cada semana")}), QString());
    ASSERT_TRUE(GrabarConfiguracionRespaldo(QStringLiteral("127.0.0.1"), puerto(), m_destino));
    QFile otro(m_programa + QStringLiteral("config/otro.txt")); // not the schedule's
    ASSERT_TRUE(otro.open(QIODevice::WriteOnly));
    otro.close();
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'Verdadero' WHERE descripcion = "
                       "'RESPALDOCONFIG'")));
    {
        FrmProgTareas w;
        w.show();
        EXPECT_EQ(hijo<QLabel>(w, "EtLog")->text().section(QStringLiteral("\r\n"), 2),
                  QStringLiteral("cada semana\r\n"));
        dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
        click(w, "BtnEliminarRespaldo");
        ASSERT_EQ(dialogs.texts().size(), 2);
        EXPECT_EQ(dialogs.texts()[1], QStringLiteral("La programación del respaldo ha sido eliminada correctamente"));
        sinArchivos();
        EXPECT_TRUE(otro.exists());
        EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Falso"));
    }
    // A task file that cannot be removed: the manual-removal message; files and flag stay.
    dialogs.clear();
    ASSERT_EQ(grabarDescripcionRespaldo({QStringLiteral("cada mes")}), QString());
    ASSERT_TRUE(QDir().mkpath(tarea() + QStringLiteral("/dentro")));
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'Verdadero' WHERE descripcion = "
                       "'RESPALDOCONFIG'")));
    FrmProgTareas w;
    w.show();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(w, "BtnEliminarRespaldo");
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Warning);
    EXPECT_TRUE(dialogs.shown()[1].text.startsWith(
        QStringLiteral("No se logró eliminar la tarea automáticamente, por favor,\r\neliminela manualmente desde el "
                       "programador de tareas \r\ndel sistema")));
    EXPECT_TRUE(QFileInfo::exists(descripcion()));
    EXPECT_TRUE(hijo(w, "PanelTareaActual")->isVisible());
    EXPECT_FALSE(hijo(w, "BtnEliminarRespaldo")->isEnabled());
    EXPECT_EQ(valor("RESPALDOCONFIG"), QStringLiteral("Verdadero"));
}

} // namespace

namespace {

// The address and port start from the session's, where the address box can hold it.
TEST_F(Programacion, AddressAndPortStartFromTheSession) {
    struct Caso {
        QString servidor;
        int puerto;
        QString ip, textoPuerto;
    };
    const Caso casos[] = {
        {QStringLiteral("127.0.0.1"), 5433, QStringLiteral("127.0.0.1"), QStringLiteral("5433")},
        // The box takes digits and dots only: a host name is left for the user to type.
        {QStringLiteral("localhost"), 5432, QString(), QStringLiteral("5432")},
    };
    for (const Caso& c : casos) {
        sesion().ServidorIP = c.servidor;
        sesion().PuertoBD = c.puerto;
        FrmProgTareas w;
        EXPECT_EQ(hijo<QLineEdit>(w, "TxtIP")->text(), c.ip) << c.servidor.toStdString();
        EXPECT_EQ(hijo<QLineEdit>(w, "TxtPuerto")->text(), c.textoPuerto) << c.servidor.toStdString();
    }
}

// A login or password the settings file cannot hold (it would be stored as "?" and V7backup would log in
// with another password) is refused at the connection step, before anything is written; Latin letters
// outside ASCII pass on to the connection check.
TEST_F(Programacion, ALoginOrPasswordOutsideWindows1252IsRefusedBeforeAnythingIsWritten) {
    const QString sinConexion = QStringLiteral("No se pudo establecer una conexión al servidor, verifique la "
                                               "información proporcionada e inténtelo nuevamente");
    struct Caso {
        QString usuario, clave;
        QString mensaje; // its beginning
    };
    const Caso casos[] = {
        {kJefe.usuario, QStringLiteral("clave\u0142"),
         QStringLiteral("La contraseña del usuario de la sesión tiene "
                        "caracteres que el archivo de configuración")},
        {kJefe.usuario, QStringLiteral("\u03A9mega"), QStringLiteral("La contraseña del usuario de la sesión")},
        {kJefe.usuario, QStringLiteral("a\U0001F600"), QStringLiteral("La contraseña del usuario de la sesión")},
        {QStringLiteral("jefe\u0416"), kJefe.clave, QStringLiteral("El nombre del usuario de la sesión tiene")},
        // In Windows-1252: on to the connection, which this password does not open.
        {kJefe.usuario, QStringLiteral("año€é"), sinConexion},
    };
    ScriptedDialogs dialogs;
    for (const Caso& c : casos) {
        sesion().UsuarioBD = c.usuario;
        sesion().ClaveBD = c.clave;
        FrmProgTareas w;
        w.show();
        siguiente(w);
        siguiente(w);
        ASSERT_EQ(w.pasoAsistente(), 3);
        dialogs.clear();
        dialogs.answer(MsgResult::Ok);
        datosConexion(w, m_destino, QStringLiteral("127.0.0.1"), puerto());
        ASSERT_EQ(dialogs.shown().size(), 1u) << c.clave.toStdString();
        EXPECT_TRUE(dialogs.shown()[0].text.startsWith(c.mensaje)) << dialogs.shown()[0].text.toStdString();
        EXPECT_FALSE(dialogs.shown()[0].text.contains(c.clave));
        EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
        EXPECT_EQ(w.pasoAsistente(), 3);
        sinArchivos();
        // The writer refuses it on its own too.
        EXPECT_EQ(GrabarConfiguracionRespaldo(QStringLiteral("127.0.0.1"), puerto(), m_destino),
                  c.mensaje == sinConexion);
        QFile::remove(configuracion());
    }
}

// The schedule's files are written and read only as regular files at their own names: a link planted at
// the task, the config folder or the description is neither followed nor shown.
TEST_F(Programacion, PlantedLinksAreNotFollowed) {
    TempDir otro;
    const QString blanco = otro.file(QStringLiteral("blanco"));
    {
        QFile f(blanco);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("de root\n");
    }
    const ProgramaRespaldo programa{FrecuenciaRespaldo::Semanal, QStringLiteral("MON"), QTime(3, 0)};

    ASSERT_TRUE(QFile::link(blanco, tarea()));
    EXPECT_FALSE(AgregarTareaVista(programa).isEmpty());
    EXPECT_EQ(leer(blanco), QByteArray("de root\n"));
    ASSERT_TRUE(QFile::remove(tarea()));

    ASSERT_EQ(::chmod(QFile::encodeName(otro.path()).constData(), 0755), 0);
    ASSERT_TRUE(QFile::link(otro.path(), m_programa + QStringLiteral("config")));
    EXPECT_FALSE(GrabarConfiguracionRespaldo(QStringLiteral("127.0.0.1"), puerto(), m_destino));
    EXPECT_FALSE(grabarDescripcionRespaldo({QStringLiteral("x")}).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(otro.file(QStringLiteral("v7.respaldo.dat"))));
    EXPECT_EQ(modo(otro.path()), 0755); // no chmod through the link
    ASSERT_TRUE(QFile::remove(m_programa + QStringLiteral("config")));

    ASSERT_TRUE(QDir().mkpath(m_programa + QStringLiteral("config")));
    ASSERT_TRUE(QFile::link(blanco, descripcion()));
    EXPECT_FALSE(leerDescripcionRespaldo().has_value());
    FrmProgTareas w;
    EXPECT_FALSE(hijo<QLabel>(w, "EtLog")->text().contains(QStringLiteral("de root")));
    EXPECT_TRUE(hijo(w, "PanelTareaActual")->isHidden());
}

} // namespace
