// Reading a backup archive in the maintenance tests: its members, its dump and its check file.
#pragma once

#include "core/cifrado.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>

#include <zip.h>

namespace v7::test {

// Runs one of the cluster's tools; its exit code, stdout in salida.
inline int herramienta(const QString& nombre, const QStringList& args, QByteArray* salida = nullptr) {
    QProcess p;
    p.start(PgCluster::instance().binFolder() + QLatin1Char('/') + nombre, args);
    if (!p.waitForFinished(120000)) {
        return -1;
    }
    if (salida != nullptr) {
        *salida = p.readAllStandardOutput();
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The rows of one table that a custom-format dump holds.
inline int filasEnVolcado(const QString& volcado, const QString& esquema, const QString& tabla) {
    QByteArray out;
    if (herramienta(QStringLiteral("pg_restore"),
                    {QStringLiteral("-a"), QStringLiteral("-n"), esquema, QStringLiteral("-t"), tabla,
                     QStringLiteral("-f"), QStringLiteral("-"), volcado},
                    &out) != 0) {
        return -1;
    }
    int filas = 0;
    bool dentro = false;
    for (const QByteArray& l : out.split('\n')) {
        if (l.startsWith("COPY ")) {
            dentro = true;
        } else if (l == "\\.") {
            dentro = false;
        } else if (dentro) {
            ++filas;
        }
    }
    return filas;
}

// checksum.dat descrambled (the test database's VER_V7TOOLS is dated after the key change: key B).
inline QStringList lineasDescifradas(const QByteArray& checksum) {
    QStringList out;
    EXPECT_TRUE(checksum.endsWith("\r\n"));
    for (const QString& l : QString::fromLatin1(checksum).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(l).hasMatch()) << l.toStdString();
        out << DescifrarCadena(l, false);
    }
    return out;
}

inline QString motorEsperado() {
    QByteArray out;
    herramienta(QStringLiteral("pg_config"), {QStringLiteral("--version")}, &out);
    return QString::fromUtf8(out).trimmed().toUpper();
}

} // namespace v7::test
