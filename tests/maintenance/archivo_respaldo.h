// Reading a backup archive in the maintenance tests: its members, its dump and its check file.
#pragma once

#include "core/cifrado.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>
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

// The rows of one table that a custom-format dump holds, each as its COPY fields; nothing when it cannot
// be read.
inline std::optional<QList<QStringList>> datosEnVolcado(const QString& volcado, const QString& esquema,
                                                        const QString& tabla) {
    QByteArray out;
    if (herramienta(QStringLiteral("pg_restore"),
                    {QStringLiteral("-a"), QStringLiteral("-n"), esquema, QStringLiteral("-t"), tabla,
                     QStringLiteral("-f"), QStringLiteral("-"), volcado},
                    &out) != 0) {
        return std::nullopt;
    }
    QList<QStringList> filas;
    bool dentro = false;
    for (const QByteArray& l : out.split('\n')) {
        if (l.startsWith("COPY ")) {
            dentro = true;
        } else if (l == "\\.") {
            dentro = false;
        } else if (dentro) {
            filas << QString::fromUtf8(l).split(QLatin1Char('\t'));
        }
    }
    return filas;
}

inline int filasEnVolcado(const QString& volcado, const QString& esquema, const QString& tabla) {
    const auto filas = datosEnVolcado(volcado, esquema, tabla);
    return filas ? int(filas->size()) : -1;
}

// The dump's copy of config_veliro.control, as "table#count" lines in the order of checksum.dat.
inline QStringList controlEnVolcado(const QString& volcado) {
    QMap<QString, QString> cuentas;
    for (const QStringList& f : datosEnVolcado(volcado, QStringLiteral("config_veliro"), QStringLiteral("control"))
                                    .value_or(QList<QStringList>())) {
        cuentas.insert(f.value(0), f.value(1));
    }
    QStringList lineas;
    for (const char* t : {"catalogos.usuarios", "prestamo.devoluciones", "prestamo.multas"}) {
        lineas << QString::fromLatin1(t) + QLatin1Char('#') + cuentas.value(QString::fromLatin1(t));
    }
    return lineas;
}

// One value of the dump's copy of config_veliro.configuracion (null when the key has no row).
inline QString configuracionEnVolcado(const QString& volcado, const QString& clave) {
    for (const QStringList& f :
         datosEnVolcado(volcado, QStringLiteral("config_veliro"), QStringLiteral("configuracion"))
             .value_or(QList<QStringList>())) {
        if (f.value(0) == clave) {
            return f.value(1);
        }
    }
    return QString();
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
