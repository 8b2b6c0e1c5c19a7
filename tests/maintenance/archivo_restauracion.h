// Making and unmaking backup archives in the restore tests: members read out, archives written anew with
// changed members.
#pragma once

#include "tests/support/archivos_prueba.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

#include <gtest/gtest.h>

#include <utility>

#include <zip.h>

namespace v7::test {

using Miembros = QVector<std::pair<QString, QByteArray>>;

// Every member of an archive, in name order.
inline Miembros miembros(const QString& zipPath) {
    Miembros m;
    for (const QString& n : entradas(zipPath)) {
        m.push_back({n, miembro(zipPath, n)});
    }
    return m;
}

// Writes a new zip holding exactly these members.
inline void hacerZip(const QString& zipPath, const Miembros& contenido) {
    QFile::remove(zipPath);
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr) << zipPath.toStdString();
    for (const auto& [nombre, datos] : contenido) {
        // libzip reads the buffer at zip_close: it must outlive the loop.
        void* copia = ::malloc(size_t(qMax<qsizetype>(1, datos.size())));
        ::memcpy(copia, datos.constData(), size_t(datos.size()));
        zip_source_t* src = zip_source_buffer(za, copia, zip_uint64_t(datos.size()), 1);
        ASSERT_NE(src, nullptr);
        ASSERT_GE(zip_file_add(za, nombre.toUtf8().constData(), src, ZIP_FL_OVERWRITE), 0);
    }
    ASSERT_EQ(zip_close(za), 0);
}

// The members with one replaced (or removed, with a null value) or renamed.
inline Miembros cambiar(Miembros m, const QString& nombre, const QByteArray& datos, const QString& nuevoNombre = {}) {
    for (qsizetype i = 0; i < m.size(); ++i) {
        if (m[i].first == nombre) {
            if (datos.isNull()) {
                m.remove(i);
                return m;
            }
            m[i].second = datos;
            if (!nuevoNombre.isEmpty()) {
                m[i].first = nuevoNombre;
            }
            return m;
        }
    }
    if (!datos.isNull()) {
        m.push_back({nombre, datos});
    }
    return m;
}

} // namespace v7::test
