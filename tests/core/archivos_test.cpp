#include "core/archivos.h"
#include "core/session.h"
#include "platform/archiver.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <zip.h>

using namespace v7;
using namespace v7::test;

namespace {

class Archivos : public ::testing::Test {
protected:
    void SetUp() override {
        reiniciarSesion();
        qputenv("V7_HOME", QFile::encodeName(programa.path()));
        sesion().RutaTemporal = trabajo.path();
        ASSERT_TRUE(QDir().mkpath(programa.file(QStringLiteral("r20261209"))));
        carpeta = programa.file(QStringLiteral("r20261209"));
        escribir(carpeta + QStringLiteral("/base.backup"), QByteArray(200000, 'b'));
        escribir(carpeta + QStringLiteral("/rolesv7.sql"), "CREATE ROLE x;\n");
        escribir(carpeta + QStringLiteral("/checksum.dat"), "0A0B\n");
        escribir(carpeta + QStringLiteral("/sin punto"), "no dot in this name\n");
    }
    void TearDown() override {
        qunsetenv("V7_HOME");
        reiniciarSesion();
    }
    // A 7za of the program folder's own, which is looked up before the one on PATH.
    void falso7za(const QByteArray& cuerpo) {
        const QString p = programa.file(QStringLiteral("7za"));
        escribir(p, "#!/bin/sh\n" + cuerpo);
        QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    TempDir programa, trabajo, destino;
    QString carpeta;
};

TEST_F(Archivos, PackTestAndExtractOverExistingFiles) {
    ASSERT_TRUE(archiver::sieteZa().endsWith(QStringLiteral("/7za")));
    ASSERT_NE(archiver::sieteZa(), programa.file(QStringLiteral("7za")));
    const QString zip = destino.file(QStringLiteral("mi respaldo.zip"));
    EXPECT_EQ(ComprimirRespaldo(zip, carpeta), QString());
    EXPECT_EQ(entradas(zip), (QStringList{"base.backup", "checksum.dat", "rolesv7.sql", "sin punto"}));
    // The work files stay in config/ for the next run to overwrite.
    const QString config = programa.file(QStringLiteral("config/"));
    for (const char* f : {"r_backup.bat", "r_backup.txt", "r_integral.bat", "r_integral.txt"}) {
        EXPECT_TRUE(QFile::exists(config + QString::fromLatin1(f))) << f;
    }
    EXPECT_TRUE(leer(config + QStringLiteral("r_integral.txt")).contains("Everything is Ok"));

    const QString salida = trabajo.file(QStringLiteral("TempVeliro"));
    ASSERT_TRUE(QDir().mkpath(salida));
    escribir(salida + QStringLiteral("/rolesv7.sql"), "stale\n");
    EXPECT_TRUE(Unzip2(zip, salida)); // no prompt: stdin is /dev/null and 7za is told yes
    EXPECT_EQ(leer(salida + QStringLiteral("/rolesv7.sql")), QByteArray("CREATE ROLE x;\n"));
    EXPECT_EQ(leer(salida + QStringLiteral("/base.backup")), QByteArray(200000, 'b'));
    EXPECT_EQ(leer(salida + QStringLiteral("/sin punto")), QByteArray("no dot in this name\n"));
    EXPECT_TRUE(QFile::exists(trabajo.file(QStringLiteral("Unzip.bat"))));
}

TEST_F(Archivos, CorruptedArchiveIsAFailure) {
    const QString zip = destino.file(QStringLiteral("r.zip"));
    ASSERT_EQ(ComprimirRespaldo(zip, carpeta), QString());
    QFile f(zip);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(100);
    f.write(QByteArray(64, 'X'));
    f.close();

    test::ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    EXPECT_FALSE(Unzip2(zip, destino.path()));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Warning);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("Unzip2: Error No. 2\r\n")))
        << dialogs.shown()[0].text.toStdString();
}

TEST_F(Archivos, ComprimirRespaldoJudgesOutputExitStatusAndSize) {
    const QString zip = destino.file(QStringLiteral("r.zip"));
    struct Case {
        const char* name;
        QByteArray script; // $1 is "a" or "t", $3 the archive for "a"
        QString esperado;
    };
    const Case cases[] = {
        {"pack says Ok but fails", "echo 'Everything is Ok'; exit 1\n",
         QStringLiteral("No se logro crear el archivo de respaldo: ") + zip + QStringLiteral("\r\nEverything is Ok")},
        // 7za's own error lines follow (a full disk says so), not its progress.
        {"pack without Ok", "echo 'Scanning'; echo 'ERROR: No space left on device'; echo 'Archive size: 0'\n",
         QStringLiteral("No se logro crear el archivo de respaldo: ") + zip +
             QStringLiteral("\r\nERROR: No space left on device")},
        {"test fails", "if [ \"$1\" = a ]; then echo data > \"$3\"; echo 'Everything is Ok'; else exit 2; fi\n",
         QStringLiteral("El respaldo se realizó, sin embargo, al parecer el archivo esta corrupto")},
        {"empty archive", "[ \"$1\" = a ] && : > \"$3\"; echo 'Everything is Ok'\n",
         QStringLiteral("No se encontro el archivo con el respaldo\r\n") + zip},
        {"no archive", "echo 'Everything is Ok'\n", QStringLiteral("No se generó el respaldo en la ubicación ") + zip},
        {"all well", "[ \"$1\" = a ] && echo data > \"$3\"; echo 'Everything is Ok'\n", QString()},
    };
    for (const Case& c : cases) {
        QFile::remove(zip);
        falso7za(c.script);
        EXPECT_EQ(ComprimirRespaldo(zip, carpeta), c.esperado) << c.name;
    }
    // An older archive of the same name does not pass when the packing script cannot even be written
    // (its path taken by a folder).
    escribir(zip, "older archive");
    const QString bat = programa.file(QStringLiteral("config/r_backup.bat"));
    QFile::remove(bat);
    ASSERT_TRUE(QDir().mkpath(bat + QStringLiteral("/x")));
    EXPECT_EQ(ComprimirRespaldo(zip, carpeta), QStringLiteral("No se logro crear el archivo de respaldo: ") + zip);
}

TEST_F(Archivos, MissingFolderIsNotPacked) {
    const QString zip = destino.file(QStringLiteral("r.zip"));
    EXPECT_TRUE(ComprimirRespaldo(zip, programa.file(QStringLiteral("no such folder")))
                    .startsWith(QStringLiteral("No se logro crear el archivo de respaldo: ") + zip + "\r\n"));
}

// A destination that is not there is never made: a backup meant for an unmounted disk must not land on
// the local one. While 7za writes, nobody else can open the archive.
TEST_F(Archivos, DestinationMustExistAndStayPrivate) {
    const QString noCreado = QStringLiteral("No se logro crear el archivo de respaldo: ");
    const struct {
        QString archivo, motivo;
    } casos[] = {
        {QStringLiteral("respaldos/r.zip"), QStringLiteral("La ruta del archivo no es absoluta")},
        {destino.file(QStringLiteral("montaje/r.zip")), QStringLiteral("No se ha encontrado la ruta de acceso: ")},
    };
    for (const auto& c : casos) {
        EXPECT_TRUE(ComprimirRespaldo(c.archivo, carpeta).startsWith(noCreado + c.archivo + "\r\n" + c.motivo))
            << c.archivo.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(destino.file(QStringLiteral("montaje"))));

    // A 7za that records what others could see of its archive folder while it writes.
    falso7za("if [ \"$1\" = a ]; then stat -L -c %a \"$(dirname \"$3\")\" > \"$(dirname \"$0\")/visto\"; "
             "echo data > \"$3\"; stat -c %a \"$3\" >> \"$(dirname \"$0\")/visto\"; fi; echo 'Everything is Ok'\n");
    const QString zip = destino.file(QStringLiteral("r.zip"));
    ASSERT_EQ(ComprimirRespaldo(zip, carpeta), QString());
    EXPECT_EQ(leer(programa.file(QStringLiteral("visto"))), QByteArray("700\n600\n"));
    EXPECT_EQ(QFileInfo(zip).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    EXPECT_EQ(QDir(destino.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("r.zip")});
}

// Each step is told with the archive's private name while it is made, and the archive in place afterwards
// is known as this process's own until something else takes its name.
TEST_F(Archivos, StepsAndThePlacedArchive) {
    const QString zip = destino.file(QStringLiteral("mi respaldo.zip"));
    QStringList vistos;
    QString privado;
    EXPECT_FALSE(respaldoColocado(zip));
    ASSERT_EQ(ComprimirRespaldo(zip, carpeta,
                                [&](FaseEmpaque fase, const QString& temporal) {
                                    vistos << (fase == FaseEmpaque::Empacando ? QStringLiteral("empacando")
                                                                              : QStringLiteral("probando"));
                                    privado = temporal;
                                    EXPECT_EQ(QFileInfo::exists(temporal), fase == FaseEmpaque::Probando);
                                }),
              QString());
    EXPECT_EQ(vistos, (QStringList{"empacando", "probando"}));
    const QFileInfo enCurso(privado);
    EXPECT_EQ(enCurso.fileName(), QStringLiteral("mi respaldo.zip"));
    EXPECT_EQ(QFileInfo(enCurso.path()).path(), QDir::cleanPath(destino.path()));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\.mi respaldo\\.zip\\.") + QString::number(::getpid()) +
                                   QStringLiteral("-[A-Za-z0-9]{6}$"))
                    .match(QFileInfo(enCurso.path()).fileName())
                    .hasMatch())
        << privado.toStdString();
    EXPECT_TRUE(respaldoColocado(zip));
    EXPECT_TRUE(respaldoColocado(destino.path() + QStringLiteral("/./mi respaldo.zip")));
    EXPECT_FALSE(respaldoColocado(destino.file(QStringLiteral("otro.zip"))));
    // Another file at that name is not ours.
    QFile::remove(zip);
    escribir(zip, "someone else's");
    EXPECT_FALSE(respaldoColocado(zip));
}

// Only the packing folders of processes that are gone, holding nothing but their archive, are swept.
TEST_F(Archivos, OrphanPackingFoldersAreSwept) {
    QProcess terminado;
    terminado.start(QStringLiteral("sleep"), {QStringLiteral("0.05")});
    ASSERT_TRUE(terminado.waitForStarted());
    const QString muerto = QString::number(terminado.processId());
    ASSERT_TRUE(terminado.waitForFinished());
    const QString vivo = QString::number(::getpid());
    auto carpetaCon = [&](const QString& nombre, const QStringList& miembros) {
        const QString ruta = destino.file(nombre);
        EXPECT_TRUE(QDir().mkpath(ruta));
        for (const QString& m : miembros) {
            escribir(ruta + QLatin1Char('/') + m, "data");
        }
        return ruta;
    };
    const QString ajena = carpeta; // what a link points to must stay
    struct Caso {
        const char* nombre;
        QString ruta;
        bool barrida;
    };
    const Caso casos[] = {
        {"dead process, its complete archive", carpetaCon(".r.zip." + muerto + "-1.tmp", {"r.zip"}), true},
        {"dead process, empty", carpetaCon(".b_20240101.zip." + muerto + "-2.tmp", {}), true},
        {"dead process, 7za's work file", carpetaCon(".c.zip." + muerto + "-3.tmp", {"c.zip.tmp"}), true},
        {"live process", carpetaCon(".r.zip." + vivo + "-4.tmp", {"r.zip"}), false},
        {"dead process, something else inside", carpetaCon(".r.zip." + muerto + "-5.tmp", {"r.zip", "nota.txt"}),
         false},
        {"not a packing folder's name", carpetaCon("r.zip." + muerto + "-6.tmp", {"r.zip"}), false},
        {"a link", destino.file(".r.zip." + muerto + "-7.tmp"), false},
        {"a file", destino.file(".r.zip." + muerto + "-8.tmp"), false},
    };
    // As packing folders are named now: ".<archive>.<pid>-" and six random letters and digits.
    const Caso actuales[] = {
        {"dead process, its archive (current name)", carpetaCon(".r.zip." + muerto + "-Xy3kQ9", {"r.zip"}), true},
        {"live process (current name)", carpetaCon(".r.zip." + vivo + "-Ab12Cd", {"r.zip"}), false},
        {"not six characters", carpetaCon(".r.zip." + muerto + "-Ab12C", {"r.zip"}), false},
    };
    ASSERT_TRUE(QFile::link(ajena, casos[6].ruta));
    escribir(casos[7].ruta, "a file");
    // The pid of a folder last changed before its process began was given again to someone else.
    const QString reusado = carpetaCon(".d.zip." + vivo + "-9.tmp", {"d.zip"});
    const utimbuf antiguo{946684800, 946684800}; // 2000-01-01
    ASSERT_EQ(::utime(QFile::encodeName(reusado).constData(), &antiguo), 0);

    QStringList barridas = barrerEmpaquesHuerfanos(destino.file(QStringLiteral("hoy.zip")));
    barridas.sort();
    QStringList esperadas{reusado};
    for (const auto& tabla : {std::vector<Caso>(std::begin(casos), std::end(casos)),
                              std::vector<Caso>(std::begin(actuales), std::end(actuales))}) {
        for (const Caso& c : tabla) {
            EXPECT_EQ(QFileInfo::exists(c.ruta) || QFileInfo(c.ruta).isSymLink(), !c.barrida) << c.nombre;
            if (c.barrida) {
                esperadas << c.ruta;
            }
        }
    }
    esperadas.sort();
    EXPECT_EQ(barridas, esperadas);
    EXPECT_TRUE(QFileInfo::exists(ajena + QStringLiteral("/base.backup")));
}

// Whoever may write the backup folder cannot stop the backup by planting the packing folder's name ahead of
// it (the names earlier versions used, this process's pid and a counter, planted as links and folders): each
// run picks a name of its own, and what was planted, and what its links point to, stays as it was.
TEST_F(Archivos, APlantedPackingFolderNameCannotStopTheBackup) {
    TempDir victima;
    escribir(victima.file(QStringLiteral("dentro.txt")), "victim");
    QStringList plantados;
    for (int n = 1; n <= 20; ++n) {
        const QString nombre = destino.file(QStringLiteral(".r.zip.%1-%2.tmp").arg(::getpid()).arg(n));
        ASSERT_TRUE(n % 2 == 0 ? QFile::link(victima.path(), nombre) : QDir().mkdir(nombre));
        plantados << nombre;
    }
    const QString zip = destino.file(QStringLiteral("r.zip"));
    QStringList privados;
    for (int corrida = 0; corrida < 2; ++corrida) {
        ASSERT_EQ(ComprimirRespaldo(zip, carpeta,
                                    [&](FaseEmpaque fase, const QString& temporal) {
                                        if (fase == FaseEmpaque::Empacando) {
                                            privados << QFileInfo(temporal).path();
                                        }
                                    }),
                  QString());
    }
    ASSERT_EQ(privados.size(), 2);
    EXPECT_NE(privados[0], privados[1]);
    EXPECT_EQ(entradas(zip), (QStringList{"base.backup", "checksum.dat", "rolesv7.sql", "sin punto"}));
    for (const QString& p : plantados) {
        EXPECT_TRUE(QFileInfo(p).isSymLink() || QFileInfo(p).isDir()) << p.toStdString();
    }
    EXPECT_EQ(QDir(victima.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("dentro.txt")});
    EXPECT_EQ(leer(victima.file(QStringLiteral("dentro.txt"))), QByteArray("victim"));
}

// A destination reached through a link that another user could have planted is refused: nothing is packed
// into the folder it points to.
TEST_F(Archivos, ADestinationThroughAnotherUsersLinkIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand a folder to another user";
    }
    TempDir victima;
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QString ajena = destino.file(QStringLiteral("ajena"));
    ASSERT_TRUE(QDir().mkdir(ajena));
    ASSERT_EQ(::chown(QFile::encodeName(ajena).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_TRUE(QFile::link(victima.path(), ajena + QStringLiteral("/respaldos")));
    const QString zip = ajena + QStringLiteral("/respaldos/r.zip");
    const QString r = ComprimirRespaldo(zip, carpeta);
    EXPECT_TRUE(
        r.startsWith(QStringLiteral("No se logro crear el archivo de respaldo: ") + zip + QStringLiteral("\r\n")))
        << r.toStdString();
    EXPECT_TRUE(r.contains(QStringLiteral("es un enlace simbólico en una carpeta que otro usuario puede cambiar")))
        << r.toStdString();
    EXPECT_TRUE(QDir(victima.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(Archivos, RespaldarZipsOneDumpWithoutFolders) {
    const QString backup = destino.file(QStringLiteral("acervo 12.backup"));
    QByteArray dump;
    for (int i = 0; i < 50000; ++i) {
        dump += QByteArray::number(i) + ",";
    }
    escribir(backup, dump);
    EXPECT_EQ(Respaldar(backup), QStringLiteral("OK"));
    const QString zip = destino.file(QStringLiteral("acervo 12.zip"));
    EXPECT_FALSE(QFile::exists(backup));
    EXPECT_EQ(entradas(zip), QStringList{QStringLiteral("acervo 12.backup")});
    QProcess p;
    p.start(QStringLiteral("7za"), {QStringLiteral("x"), QStringLiteral("-so"), zip});
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.readAllStandardOutput(), dump);

    // Failures give the library's code and keep the dump.
    EXPECT_EQ(Respaldar(destino.file(QStringLiteral("missing.backup"))), QStringLiteral("12"));
    const QString sinExtension = destino.file(QStringLiteral("dump.bin"));
    escribir(sinExtension, "x");
    EXPECT_EQ(Respaldar(sinExtension), QStringLiteral("16")); // would be its own archive
    EXPECT_TRUE(QFile::exists(sinExtension));
    const QString sinCarpeta = destino.file(QStringLiteral("x.backup/y.backup"));
    ASSERT_TRUE(QDir().mkpath(destino.file(QStringLiteral("x.backup"))));
    escribir(sinCarpeta, "y");
    EXPECT_EQ(Respaldar(sinCarpeta), QStringLiteral("15")); // x.zip/ folder does not exist
    EXPECT_TRUE(QFile::exists(sinCarpeta));
}

} // namespace
