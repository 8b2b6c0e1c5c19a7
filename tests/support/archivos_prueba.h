// Small file and zip helpers of the tests.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <zip.h>

namespace v7::test {

// The owner of the entry at ruta, a link itself when it is one; -1 when there is none.
inline uid_t duenoDe(const QString& ruta) {
    struct stat st {};
    return ::lstat(QFile::encodeName(ruta).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

// The names in a zip archive, sorted, read with the zip library.
inline QStringList entradas(const QString& zipPath) {
    QStringList names;
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &err);
    if (za == nullptr) {
        return {QStringLiteral("<not a zip>")};
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        names << QString::fromUtf8(zip_get_name(za, zip_uint64_t(i), 0));
    }
    zip_discard(za);
    names.sort();
    return names;
}

inline QByteArray miembro(const QString& zipPath, const QString& name) {
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &err);
    if (za == nullptr) {
        return {};
    }
    QByteArray data;
    if (zip_file_t* f = zip_fopen(za, name.toUtf8().constData(), 0)) {
        char buf[65536];
        zip_int64_t n = 0;
        while ((n = zip_fread(f, buf, sizeof(buf))) > 0) {
            data.append(buf, qsizetype(n));
        }
        zip_fclose(f);
    }
    zip_discard(za);
    return data;
}

inline void escribir(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

inline QByteArray leer(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Something planted where the kit chose a file's name: what it is, how to plant it at a path, and the
// words of the kit's refusal.
struct ArchivoPlantado {
    const char* nombre;
    std::function<bool(const QString&)> plantar;
    QString motivo;
};

// What every reader of such a file refuses: a link to secreto (a root-only file), a link to /dev/zero, a
// FIFO and a folder.
inline std::vector<ArchivoPlantado> archivosPlantados(const QString& secreto) {
    return {
        {"link to a root-only file", [secreto](const QString& r) { return QFile::link(secreto, r); },
         QStringLiteral("enlace simbólico")},
        {"link to /dev/zero", [](const QString& r) { return QFile::link(QStringLiteral("/dev/zero"), r); },
         QStringLiteral("enlace simbólico")},
        {"FIFO", [](const QString& r) { return ::mkfifo(QFile::encodeName(r).constData(), 0600) == 0; },
         QStringLiteral("no es un archivo común")},
        {"folder", [](const QString& r) { return QDir().mkdir(r); }, QStringLiteral("es una carpeta")},
    };
}

} // namespace v7::test
