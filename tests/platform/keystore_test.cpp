#include "platform/keystore.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace v7::keystore;
using v7::test::TempDir;

namespace {

QString slurp(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromUtf8(f.readAll());
}

void spit(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

const QString kGlobals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals");

TEST(KeyStore, MissingFileKeyOrValueReadsEmpty) {
    TempDir dir;
    KeyStore store(dir.file(QStringLiteral("no/such/registry.ini")));
    ReadResult r = store.read(kGlobals, QStringLiteral("RutaPg"));
    EXPECT_FALSE(r.error.isSet());
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(r.value.isEmpty());
    EXPECT_TRUE(store.subkeys(QStringLiteral("HKEY_LOCAL_MACHINE")).isEmpty());
}

TEST(KeyStore, ReadsKeysAndNamesCaseInsensitivelyFromAHandWrittenFile) {
    TempDir dir;
    const QString file = dir.file(QStringLiteral("registry.ini"));
    spit(file, "\xEF\xBB\xBF; written by the setup\r\n"
               "[HKEY_LOCAL_MACHINE\\Software\\VELIRO7\\Globals]\r\n"
               "RutaPg=/opt/veliro7/pg\r\n"
               "PuertoPg = 5432 \r\n"
               "\r\n"
               "[HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-8.4]\r\n"
               "Base Directory=/opt/pg84/\r\n"
               "Vacío=\r\n"
               "[hkey_local_machine\\software\\veliro7\\globals]\r\n"
               "3=ABCDEF\r\n");
    KeyStore store(file);
    struct Case {
        QString key, name, value;
        bool found;
    };
    const Case cases[] = {
        {kGlobals, QStringLiteral("RutaPg"), QStringLiteral("/opt/veliro7/pg"), true},
        {kGlobals, QStringLiteral("puertopg"), QStringLiteral("5432"), true},
        {QStringLiteral("HKLM\\Software\\Veliro7\\Globals\\"), QStringLiteral("3"), QStringLiteral("ABCDEF"), true},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-8.4"),
         QStringLiteral("BASE DIRECTORY"), QStringLiteral("/opt/pg84/"), true},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-8.4"),
         QStringLiteral("Vacío"), QString(), true},
        {kGlobals, QStringLiteral("Otro"), QString(), false},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7"), QStringLiteral("RutaPg"), QString(), false},
    };
    for (const auto& c : cases) {
        ReadResult r = store.read(c.key, c.name);
        EXPECT_FALSE(r.error.isSet());
        EXPECT_EQ(r.value, c.value) << c.key.toStdString() << " " << c.name.toStdString();
        EXPECT_EQ(r.found, c.found) << c.key.toStdString() << " " << c.name.toStdString();
    }
    EXPECT_EQ(store.subkeys(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")),
              (QStringList{QStringLiteral("VELIRO7"), QStringLiteral("PostgreSQL")}));
    EXPECT_EQ(store.subkeys(QStringLiteral("hklm\\software\\postgresql\\installations")),
              QStringList{QStringLiteral("postgresql-8.4")});
    EXPECT_TRUE(store.subkeys(kGlobals).isEmpty());
}

TEST(KeyStore, WritesCreateFolderAndKeyAndKeepTheRestOfTheFile) {
    TempDir dir;
    const QString file = dir.file(QStringLiteral("etc/veliro7/registry.ini"));
    KeyStore store(file);
    ASSERT_FALSE(store.write(kGlobals, QStringLiteral("RutaPg"), QStringLiteral("/opt/pg")).isSet());
    ASSERT_FALSE(store
                     .write(QStringLiteral("HKLM\\Software\\veliro7\\GLOBALS"), QStringLiteral("PuertoPg"),
                            QStringLiteral("5433"))
                     .isSet());
    EXPECT_EQ(slurp(file),
              QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/opt/pg\nPuertoPg=5433\n"));

    // A comment, another key and an update in place.
    spit(file, slurp(file).toUtf8() + "\n; otra\n[HKEY_CURRENT_USER\\Software\\X]\na=1\n");
    ASSERT_FALSE(store.write(kGlobals, QStringLiteral("rutapg"), QStringLiteral("/srv/pg")).isSet());
    ASSERT_FALSE(store.write(QStringLiteral("HKCU\\Software\\X"), QStringLiteral("b"), QStringLiteral("2")).isSet());
    EXPECT_EQ(slurp(file),
              QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/srv/pg\nPuertoPg=5433\n"
                             "\n; otra\n[HKEY_CURRENT_USER\\Software\\X]\na=1\nb=2\n"));
    EXPECT_EQ(store.read(kGlobals, QStringLiteral("RUTAPG")).value, QStringLiteral("/srv/pg"));
    // Nothing but the file is left in the folder (the temporary file was renamed over it).
    EXPECT_EQ(QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("registry.ini")});
}

TEST(KeyStore, RewriteKeepsTheFileMode) {
    TempDir dir;
    const QString file = dir.file(QStringLiteral("registry.ini"));
    KeyStore store(file);
    ASSERT_FALSE(store.write(kGlobals, QStringLiteral("a"), QStringLiteral("1")).isSet());
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    ASSERT_FALSE(store.write(kGlobals, QStringLiteral("a"), QStringLiteral("2")).isSet());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(KeyStore, RefusedWrites) {
    TempDir dir;
    KeyStore store(dir.file(QStringLiteral("registry.ini")));
    EXPECT_EQ(store.write(QStringLiteral("HKEY_NINGUNA\\X"), QStringLiteral("a"), QStringLiteral("1")).kind,
              ErrorKind::InvalidKey);
    EXPECT_EQ(store.read(QStringLiteral("SOFTWARE\\X"), QStringLiteral("a")).error.kind, ErrorKind::InvalidKey);
    EXPECT_TRUE(store.write(kGlobals, QStringLiteral("a"), QStringLiteral("dos\nlíneas")).isSet());
    EXPECT_TRUE(store.write(kGlobals, QStringLiteral("a=b"), QStringLiteral("1")).isSet());
    EXPECT_FALSE(QFile::exists(store.file()));

    // A folder this process may not create, even as root.
    if (!QFileInfo::exists(QStringLiteral("/sys/kernel"))) {
        GTEST_SKIP() << "no /sys";
    }
    KeyStore denied(QStringLiteral("/sys/v7-registro/registry.ini"));
    const Error e = denied.write(kGlobals, QStringLiteral("a"), QStringLiteral("1"));
    EXPECT_EQ(e.kind, ErrorKind::Denied) << e.description.toStdString();
    EXPECT_NE(e.number, 0);
}

TEST(KeyStore, PathHelpers) {
    QString key, name;
    ASSERT_TRUE(splitValuePath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\pgsql-8.2\\Port"),
                               key, name));
    EXPECT_EQ(key, QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\pgsql-8.2"));
    EXPECT_EQ(name, QStringLiteral("Port"));
    EXPECT_FALSE(splitValuePath(QStringLiteral("Port"), key, name));
    EXPECT_EQ(normalizeKey(QStringLiteral(" hkcu\\\\Software\\X\\ ")),
              QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
    EXPECT_TRUE(sameKey(QStringLiteral("HKLM\\Software"), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\")));
    EXPECT_FALSE(sameKey(QStringLiteral("HKLM\\Software"), QStringLiteral("HKCU\\Software")));
}

} // namespace
