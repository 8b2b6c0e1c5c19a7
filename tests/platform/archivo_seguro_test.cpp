#include "core/marca_restauracion.h"
#include "platform/archivo_seguro.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7::archivo;

namespace {

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no se pudo leer>");
}

void escribir(const QString& ruta, const QByteArray& datos) {
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(datos);
}

// What someone else could plant at a name the kit chose: each is refused at once with a Spanish reason.
TEST(ArchivoSeguro, RefusesWhatIsNotAPlainFile) {
    v7::test::TempDir dir;
    const QString secreto = dir.file(QStringLiteral("secreto"));
    escribir(secreto, "solo root");
    const QString enlace = dir.file(QStringLiteral("enlace"));
    ASSERT_TRUE(QFile::link(secreto, enlace));
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString cero = dir.file(QStringLiteral("cero"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), cero));
    const QString grande = dir.file(QStringLiteral("grande"));
    escribir(grande, QByteArray(3000, 'x'));

    struct Caso {
        QString ruta;
        const char* contiene;
    };
    const Caso casos[] = {
        {enlace, "enlace"},      {fifo, "no es un archivo común"},
        {cero, "enlace"},        {QStringLiteral("/dev/zero"), "no es un archivo común"},
        {dir.path(), "carpeta"}, {dir.file(QStringLiteral("nada")), "No se encontró"},
        {grande, "máximo"},
    };
    for (const Caso& c : casos) {
        QElapsedTimer t;
        t.start();
        const Lectura l = leerRegular(c.ruta, 1000);
        EXPECT_FALSE(l.ok()) << c.ruta.toStdString();
        EXPECT_TRUE(l.datos.isEmpty()) << c.ruta.toStdString();
        EXPECT_TRUE(l.motivo.contains(QString::fromUtf8(c.contiene))) << l.motivo.toStdString();
        EXPECT_LT(t.elapsed(), 1000) << c.ruta.toStdString();
    }
    // A log keeps its newest lines.
    escribir(grande, QByteArray(2000, 'a') + QByteArray(1000, 'z'));
    const Lectura fin = leerRegular(grande, 1000, SiExcede::UltimaParte);
    ASSERT_TRUE(fin.ok());
    EXPECT_TRUE(fin.recortado);
    EXPECT_EQ(fin.tamano, 3000);
    EXPECT_EQ(fin.datos, QByteArray(1000, 'z'));
}

TEST(ArchivoSeguro, AtomicReplaceKeepsOwnerAndNeverWritesThroughALink) {
    v7::test::TempDir dir;
    const QString ruta = dir.file(QStringLiteral("pg_hba.conf"));
    escribir(ruta, "viejo\n");
    ASSERT_EQ(::chmod(QFile::encodeName(ruta).constData(), 0640), 0);
    ASSERT_EQ(escribirAtomico(ruta, "nuevo\n"), QString());
    EXPECT_EQ(leer(ruta), QByteArray("nuevo\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ruta).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const QString objetivo = dir.file(QStringLiteral("objetivo"));
    escribir(objetivo, "intacto");
    const QString enlace = dir.file(QStringLiteral("enlace.conf"));
    ASSERT_TRUE(QFile::link(objetivo, enlace));
    EXPECT_TRUE(escribirAtomico(enlace, "ataque").contains(QStringLiteral("enlace")));
    EXPECT_EQ(leer(objetivo), QByteArray("intacto"));
    EXPECT_TRUE(QFileInfo(enlace).isSymLink());

    OpcionesEscritura exigir;
    exigir.exigirExistente = true;
    EXPECT_FALSE(escribirAtomico(dir.file(QStringLiteral("nuevo.conf")), "x", exigir).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("nuevo.conf"))));
    // Nothing temporary is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3);
}

// The walk to a folder follows a link only where nobody but root could have put it; a link in another
// user's folder, or in a folder everyone may write, stops it with its reason.
TEST(Carpeta, AFolderIsReachedWithoutALinkSomeoneElseCouldHavePlanted) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand folders to another user";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    v7::test::TempDir dir;
    const QString destino = dir.file(QStringLiteral("destino"));
    ASSERT_TRUE(QDir().mkpath(destino + QStringLiteral("/sub")));
    escribir(destino + QStringLiteral("/sub/archivo"), "dato");
    const QString ajena = dir.file(QStringLiteral("ajena"));
    const QString publica = dir.file(QStringLiteral("publica"));
    const QString propia = dir.file(QStringLiteral("propia"));
    for (const QString& c : {ajena, publica, propia}) {
        ASSERT_TRUE(QDir().mkdir(c));
        ASSERT_TRUE(QFile::link(destino, c + QStringLiteral("/enlace")));
        ASSERT_TRUE(QFile::link(QStringLiteral("../destino/sub"), c + QStringLiteral("/relativo")));
    }
    ASSERT_EQ(::chown(QFile::encodeName(ajena).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(publica).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(propia).constData(), 0755), 0);
    escribir(dir.file(QStringLiteral("un-archivo")), "x");

    const QString kEnlaceAjeno = QStringLiteral("es un enlace simbólico en una carpeta que otro usuario puede cambiar");
    struct Caso {
        QString ruta;
        int error; // 0: reached
        QString motivo;
    };
    const Caso casos[] = {
        {destino + QStringLiteral("/sub"), 0, QString()},
        {propia + QStringLiteral("/enlace/sub"), 0, QString()},
        {propia + QStringLiteral("/relativo"), 0, QString()},
        {ajena + QStringLiteral("/enlace/sub"), ELOOP,
         QStringLiteral("La carpeta ") + ajena + QStringLiteral("/enlace ") + kEnlaceAjeno},
        {ajena + QStringLiteral("/relativo"), ELOOP, kEnlaceAjeno},
        {publica + QStringLiteral("/enlace"), ELOOP, kEnlaceAjeno},
        {dir.file(QStringLiteral("no-existe/sub")), ENOENT, QStringLiteral("No se encontró la carpeta ")},
        {dir.file(QStringLiteral("un-archivo/sub")), ENOTDIR, QStringLiteral("no es una carpeta")},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.ruta.toStdString());
        const Carpeta carpeta = Carpeta::abrir(c.ruta);
        EXPECT_EQ(carpeta.numeroError(), c.error) << carpeta.motivo().toStdString();
        EXPECT_EQ(carpeta.ok(), c.error == 0);
        EXPECT_TRUE(carpeta.motivo().contains(c.motivo)) << carpeta.motivo().toStdString();
        if (carpeta.ok()) {
            EXPECT_EQ(carpeta.leerRegular(QStringLiteral("archivo"), 100).datos, QByteArray("dato"));
        }
    }

    // Once reached, the folder is what it was, whatever is done to the names on the way.
    const Carpeta sub = Carpeta::abrir(destino + QStringLiteral("/sub"));
    ASSERT_TRUE(sub.ok());
    ASSERT_TRUE(QDir().rename(destino, dir.file(QStringLiteral("movida"))));
    ASSERT_TRUE(QFile::link(ajena, destino));
    EXPECT_EQ(sub.leerRegular(QStringLiteral("archivo"), 100).datos, QByteArray("dato"));
    EXPECT_EQ(leer(sub.rutaEstable() + QStringLiteral("/archivo")), QByteArray("dato"));
    EXPECT_EQ(sub.escribirAtomico(QStringLiteral("nuevo"), "n"), QString());
    EXPECT_EQ(leer(dir.file(QStringLiteral("movida/sub/nuevo"))), QByteArray("n"));
    EXPECT_FALSE(QFileInfo::exists(ajena + QStringLiteral("/sub")));
}

// Made and handed to another user through its own descriptor; anything at the name that is not the folder
// just made is never handed over. Files of another user than the one asked for are refused by name.
TEST(Carpeta, CreationAndOwnersGoThroughTheDescriptor) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand folders to another user";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    v7::test::TempDir dir;
    const Carpeta c = Carpeta::abrir(dir.path());
    ASSERT_TRUE(c.ok());

    const Carpeta hecha = c.crearSubcarpeta(QStringLiteral("pg_log"), 0700, nobody->pw_uid, nobody->pw_gid);
    ASSERT_TRUE(hecha.ok()) << hecha.motivo().toStdString();
    EXPECT_EQ(v7::test::duenoDe(dir.file(QStringLiteral("pg_log"))), nobody->pw_uid);
    EXPECT_EQ(hecha.dueno(), nobody->pw_uid);
    EXPECT_TRUE(hecha.rechazoPorDueno(nobody->pw_uid).isEmpty());
    EXPECT_TRUE(hecha.rechazoPorDueno(0).contains(QStringLiteral("pertenece al usuario \"nobody\"")));

    const QString victima = dir.file(QStringLiteral("victima"));
    ASSERT_TRUE(QDir().mkdir(victima));
    ASSERT_TRUE(QFile::link(victima, dir.file(QStringLiteral("enlace"))));
    const Carpeta plantada = c.crearSubcarpeta(QStringLiteral("enlace"), 0700, nobody->pw_uid, nobody->pw_gid);
    EXPECT_FALSE(plantada.ok());
    EXPECT_EQ(plantada.numeroError(), ELOOP);
    EXPECT_EQ(v7::test::duenoDe(victima), 0u);

    // Temporary folders: private, a name of their own each time.
    const Carpeta t1 = c.crearCarpetaTemporal(QStringLiteral(".x."));
    const Carpeta t2 = c.crearCarpetaTemporal(QStringLiteral(".x."));
    ASSERT_TRUE(t1.ok() && t2.ok());
    EXPECT_NE(t1.ruta(), t2.ruta());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/\\.x\\.[A-Za-z0-9]{6}$")).match(t1.ruta()).hasMatch())
        << t1.ruta().toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(t1.ruta()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A file of someone else than the one asked for.
    escribir(dir.file(QStringLiteral("de-root")), "root");
    const Lectura ajeno = c.leerRegular(QStringLiteral("de-root"), 100, SiExcede::Rechazar, nobody->pw_uid);
    EXPECT_FALSE(ajeno.ok());
    EXPECT_EQ(ajeno.numeroError, EPERM);
    EXPECT_TRUE(ajeno.motivo.contains(QStringLiteral("pertenece al usuario \"root\" y no a \"nobody\"")))
        << ajeno.motivo.toStdString();
    EXPECT_TRUE(ajeno.datos.isEmpty());

    // Created anew only; moved without replacing what stands at the name unless asked to.
    EXPECT_LT(c.crearNuevo(QStringLiteral("enlace")), 0);
    EXPECT_EQ(errno, EEXIST);
    const int fd = t1.crearNuevo(QStringLiteral("dato"));
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(t1.mover(QStringLiteral("dato"), c, QStringLiteral("enlace"), false), EEXIST);
    EXPECT_TRUE(QFileInfo(dir.file(QStringLiteral("enlace"))).isSymLink());
    EXPECT_EQ(t1.mover(QStringLiteral("dato"), c, QStringLiteral("dato"), false), 0);
    EXPECT_TRUE(QFileInfo(dir.file(QStringLiteral("dato"))).isFile());
    EXPECT_EQ(c.borrar(QFileInfo(t1.ruta()).fileName()), 0);
    EXPECT_FALSE(QFileInfo::exists(t1.ruta()));
}

TEST(MarcaRestauracion, StandsUntilRemovedAndAnUnreadableOneStillCounts) {
    v7::test::TempDir dir;
    qputenv("V7_HOME", QFile::encodeName(dir.path()));
    EXPECT_FALSE(v7::leerMarcaRestauracion().has_value());
    v7::MarcaRestauracion m;
    m.archivo = QStringLiteral("/respaldos/veliro7 20261210.zip");
    m.inicio = QDateTime(QDate(2026, 12, 10), QTime(9, 30));
    m.usuario = QStringLiteral("postgres");
    m.proceso = 4242;
    ASSERT_EQ(v7::marcarRestauracion(m), QString());
    const auto leida = v7::leerMarcaRestauracion();
    ASSERT_TRUE(leida.has_value());
    EXPECT_EQ(leida->archivo, m.archivo);
    EXPECT_EQ(leida->inicio, m.inicio);
    EXPECT_EQ(leida->proceso, 4242);
    EXPECT_TRUE(v7::textoRestauracionPendiente(*leida).contains(QStringLiteral("no terminó")));
    EXPECT_EQ(QFileInfo(v7::rutaMarcaRestauracion()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
              QFile::Permissions());
    ASSERT_EQ(v7::borrarMarcaRestauracion(), QString());
    EXPECT_FALSE(v7::leerMarcaRestauracion().has_value());

    // A link planted at the mark's name is not read, but the mark stands.
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc/hostname"), v7::rutaMarcaRestauracion()));
    const auto plantada = v7::leerMarcaRestauracion();
    ASSERT_TRUE(plantada.has_value());
    EXPECT_TRUE(plantada->archivo.isEmpty());
    ASSERT_EQ(v7::borrarMarcaRestauracion(), QString());
    qunsetenv("V7_HOME");
}

} // namespace
