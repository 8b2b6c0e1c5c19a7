#include "core/scripts.h"
#include "core/session.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::TempDir;

namespace {

QByteArray contenido(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class Scripts : public ::testing::Test {
protected:
    void SetUp() override {
        reiniciarSesion();
        sesion().RutaPostgres = QStringLiteral("/opt/pg 15/");
    }
    void TearDown() override { reiniciarSesion(); }
    TempDir dir;
};

TEST_F(Scripts, WritersLayOutShellScriptsLineByLine) {
    const QString bat = dir.file(QStringLiteral("v7 test.bat"));
    // The caller's Windows-style lines are translated; its sh lines are kept, the last one run through exec
    // (the tool itself is the child that dies with the program).
    const QString comando =
        QStringLiteral("set PGDATA=/opt/pg 15/data/\r\nSET LC_ALL=C\r\npg_ctl status > '/w/out.txt'");
    struct Case {
        const char* name;
        std::function<void()> write;
        QByteArray expected;
    };
    const Case cases[] = {
        {"CrearArchivoBat, password",
         [&] {
             ASSERT_EQ(CrearArchivoBat(bat, QStringLiteral("pg_dump -f 'a b' veliro7"), QStringLiteral("pw")), "OK");
         },
         "export PGPASSWORD='pw'\n"
         "export PATH='/opt/pg 15/bin':\"$PATH\"\n"
         "exec pg_dump -f 'a b' veliro7\n"},
        {"CrearArchivoBat, no password, several lines",
         [&] { ASSERT_EQ(CrearArchivoBat(bat, comando, QString()), "OK"); },
         "export PATH='/opt/pg 15/bin':\"$PATH\"\n"
         "export PGDATA='/opt/pg 15/data/'\n"
         "export LC_ALL='C'\n"
         "exec pg_ctl status > '/w/out.txt'\n"},
        {"CrearArchivoBat, PATH line in the command",
         [&] {
             ASSERT_EQ(CrearArchivoBat(bat, QStringLiteral("PATH=%PATH%;/app/\r\n7za t 'x.zip'"), QString()), "OK");
         },
         "export PATH='/opt/pg 15/bin':\"$PATH\"\n"
         "export PATH='/app/':\"$PATH\"\n"
         "exec 7za t 'x.zip'\n"},
        {"CrearBatDirectorio, drive line dropped, empty password kept",
         [&] {
             ASSERT_FALSE(CrearBatDirectorio(bat, QStringLiteral("C:"), QStringLiteral("/srv/it's"),
                                             QStringLiteral("pg_restore -l x"), QString())
                              .hayError());
         },
         "cd '/srv/it'\\''s'\n"
         "export PGPASSWORD=''\n"
         "exec pg_restore -l x\n"},
        {"CrearBatDirectorio, other first line kept",
         [&] {
             ASSERT_FALSE(CrearBatDirectorio(bat, QStringLiteral("umask 077"), QStringLiteral("/srv"),
                                             QStringLiteral("ls"), QStringLiteral("k"))
                              .hayError());
         },
         "umask 077\n"
         "cd '/srv'\n"
         "export PGPASSWORD='k'\n"
         "exec ls\n"},
        {"CrearBatRuta",
         [&] { CrearBatRuta(bat, QStringLiteral("/usr/lib/postgresql/15/bin"), QStringLiteral("psql -l"), QString()); },
         "export PATH='/usr/lib/postgresql/15/bin':\"$PATH\"\n"
         "export PGPASSWORD=''\n"
         "exec psql -l\n"},
    };
    for (const Case& c : cases) {
        // An older file of that name, readable by all, is replaced by a private one.
        QFile old(bat);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old content that is longer than any script here, to show truncation\n");
        old.close();
        QFile::setPermissions(bat, QFile::Permissions(0x6644));
        c.write();
        EXPECT_EQ(contenido(bat), c.expected) << c.name;
        EXPECT_EQ(QFileInfo(bat).permissions() &
                      ~(QFile::ReadUser | QFile::WriteUser | QFile::ReadOwner | QFile::WriteOwner),
                  QFile::Permissions())
            << c.name;
    }
}

TEST_F(Scripts, PasswordReachesTheChildIntactAndRunsNothing) {
    const QString out = dir.file(QStringLiteral("out.txt"));
    const QString marker = dir.file(QStringLiteral("pwned"));
    const QString clave = QStringLiteral("a'b $(touch ") + marker + QStringLiteral(") ; touch ") + marker +
                          QStringLiteral(" `touch ") + marker + QStringLiteral("` \"q\" \\ ñ");
    const QString bat = dir.file(QStringLiteral("v7.Backup.bat"));
    ASSERT_EQ(CrearArchivoBat(bat, QStringLiteral("printf %s \"$PGPASSWORD\" > ") + citarSh(out), clave), "OK");
    int estado = -1;
    EXPECT_EQ(EjecutarArchivoBat(bat, &estado), QString());
    EXPECT_EQ(estado, 0);
    EXPECT_EQ(QString::fromUtf8(contenido(out)), clave);
    EXPECT_FALSE(QFile::exists(marker));
    // The script held a password: gone once its run ended.
    EXPECT_FALSE(QFile::exists(bat));
}

TEST_F(Scripts, EveryPasswordScriptIsDeletedAfterItsRunButOthersStay) {
    const QString conClave1 = dir.file(QStringLiteral("a.bat"));
    const QString conClave2 = dir.file(QStringLiteral("b.bat"));
    const QString sinClave = dir.file(QStringLiteral("c.bat"));
    const QString rutaBin = dir.file(QStringLiteral("d.bat"));
    ASSERT_FALSE(
        CrearBatDirectorio(conClave1, QString(), dir.path(), QStringLiteral("exit 4"), QStringLiteral("x")).hayError());
    ASSERT_EQ(CrearArchivoBat(conClave2, QStringLiteral("true"), QStringLiteral("x")), "OK");
    ASSERT_EQ(CrearArchivoBat(sinClave, QStringLiteral("true"), QString()), "OK");
    // Even an empty password line marks a script to delete.
    CrearBatRuta(rutaBin, QStringLiteral("/bin"), QStringLiteral("true"), QString());

    int estado = -1;
    EXPECT_TRUE(EjecutarShellEspera(conClave1, false, &estado));
    EXPECT_EQ(estado, 4);
    EXPECT_FALSE(QFile::exists(conClave1));
    EXPECT_EQ(EjecutarArchivoBat(conClave2), QString());
    EXPECT_FALSE(QFile::exists(conClave2));
    EXPECT_EQ(EjecutarArchivoBat(sinClave), QString());
    EXPECT_TRUE(QFile::exists(sinClave));
    EXPECT_TRUE(EjecutarShellEspera(rutaBin, true));
    EXPECT_FALSE(QFile::exists(rutaBin));
}

TEST_F(Scripts, PasswordScriptNeverRunIsDeletedAtExit) {
    const QString conClave = dir.file(QStringLiteral("olvidado.bat"));
    const QString sinClave = dir.file(QStringLiteral("otro.bat"));
    EXPECT_EXIT(
        {
            if (CrearArchivoBat(conClave, QStringLiteral("true"), QStringLiteral("pw")) == QLatin1String("OK") &&
                CrearArchivoBat(sinClave, QStringLiteral("true"), QString()) == QLatin1String("OK") &&
                QFile::exists(conClave)) {
                std::exit(0);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(QFile::exists(conClave));
    EXPECT_TRUE(QFile::exists(sinClave));
}

TEST_F(Scripts, FailuresOfTheWriters) {
    const QString faltante = dir.file(QStringLiteral("no such folder/v7.Backup.bat"));
    const QString r = CrearArchivoBat(faltante, QStringLiteral("true"), QStringLiteral("pw"));
    EXPECT_TRUE(r.startsWith(QStringLiteral("Ocurrió el error no. 76\r\n"))) << r.toStdString();
    EXPECT_TRUE(r.endsWith(QStringLiteral("\r\n") + faltante)) << r.toStdString();
    EXPECT_EQ(r.split(QStringLiteral("\r\n")).size(), 3);

    const ErrorSistema e = CrearBatDirectorio(faltante, QString(), dir.path(), QStringLiteral("true"), QString());
    EXPECT_EQ(e.numero, 76);
    EXPECT_FALSE(e.descripcion.isEmpty());

    test::ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    CrearBatRuta(faltante, QStringLiteral("/bin"), QStringLiteral("true"), QString());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("76, ") + e.descripcion);
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(dialogs.shown()[0].title, kProgramTitle); // no title of its own
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("no such folder"))));
}

TEST_F(Scripts, RunnersReportTheInterpreterNotTheTool) {
    // A script that fails inside still ran: empty text; only its exit status (and its output) tell.
    const QString bat = dir.file(QStringLiteral("with blanks/v7 fail.bat"));
    ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("with blanks"))));
    ASSERT_EQ(CrearArchivoBat(bat,
                              QStringLiteral("echo refused > ") + citarSh(dir.file(QStringLiteral("o.txt"))) +
                                  QStringLiteral("\r\nexit 1"),
                              QString()),
              "OK");
    int estado = -1;
    EXPECT_EQ(EjecutarArchivoBat(bat, &estado), QString());
    EXPECT_EQ(estado, 1);
    EXPECT_EQ(contenido(dir.file(QStringLiteral("o.txt"))), QByteArray("refused\n"));

    // Any command line, not only a script file.
    EXPECT_EQ(EjecutarArchivoBat(QStringLiteral("exit 9"), &estado), QString());
    EXPECT_EQ(estado, 9);
    const ResultadoScript r = ejecutarScript(QStringLiteral("kill -9 $$"));
    EXPECT_TRUE(r.iniciado);
    EXPECT_EQ(r.estado, 137);
}

TEST_F(Scripts, WaitKeepsTimersFiringAndNestedWaitsApart) {
    int ticks = 0;
    int interno = -1;
    qint64 internoMs = 0;
    QString textoInterno = QStringLiteral("not run");
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 2) {
            QElapsedTimer dentro;
            dentro.start();
            textoInterno = EjecutarArchivoBat(QStringLiteral("sleep 0.1; exit 5"), &interno);
            internoMs = dentro.elapsed();
        }
    });
    QElapsedTimer reloj;
    reloj.start();
    timer.start();
    int externo = -1;
    EXPECT_EQ(EjecutarArchivoBat(QStringLiteral("sleep 0.5; exit 7"), &externo), QString());
    const qint64 externoMs = reloj.elapsed();
    timer.stop();
    EXPECT_EQ(externo, 7);
    EXPECT_EQ(textoInterno, QString());
    EXPECT_EQ(interno, 5);
    // Ticks in proportion to the time the timer could fire (not while its own handler waited, nor before its
    // first two intervals): one each 20 ms when idle, and at least one each 100 ms on a busy machine.
    const qint64 libre = qMax<qint64>(0, externoMs - internoMs - 40);
    EXPECT_GE(ticks, 2 + libre / 100) << externoMs << " ms in all, " << internoMs << " ms in the inner wait";
}

TEST(ScriptQuoting, CitarShAndErrorNumbers) {
    EXPECT_EQ(citarSh(QString()), QStringLiteral("''"));
    EXPECT_EQ(citarSh(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));
    EXPECT_EQ(exportarSh(QStringLiteral("PGDATA"), QStringLiteral("/a b/")), QStringLiteral("export PGDATA='/a b/'"));
    struct Case {
        int err;
        int numero;
    };
    for (const Case c : {Case{0, 0}, Case{ENOENT, 53}, Case{ENOTDIR, 76}, Case{EACCES, 70}, Case{ENOSPC, 61},
                         Case{EROFS, 75}, Case{EIO, 1000 + EIO}}) {
        EXPECT_EQ(errorSistema(c.err).numero, c.numero) << c.err;
        EXPECT_EQ(errorSistema(c.err).descripcion.isEmpty(), c.err == 0) << c.err;
    }
}

} // namespace
