#include "core/marca_restauracion.h"
#include "platform/archivo_seguro.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

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
