// Making and unmaking backup archives in the restore tests: members read out, archives written anew with
// changed members; and a second, fresh server to restore onto.
#pragma once

#include "tests/support/archivos_prueba.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <gtest/gtest.h>

#include <utility>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A second throwaway server (the fixture's cluster is one per program): initdb, its bootstrap superuser
// with a password and an empty database veliro7, laid out like an installation folder (bin/ links to the
// server's programs). Stopped and removed when the object goes, or by a watcher when the test program is
// killed outright.
class ClusterNuevo {
public:
    explicit ClusterNuevo(const QString& binarios) : m_bin(binarios) {
        m_raiz.setAutoRemove(false);
        m_dueno = ::geteuid() == 0 ? QStringLiteral("postgres") : QString::fromLocal8Bit(qgetenv("USER"));
        QFile::link(m_bin, raiz() + QStringLiteral("/bin"));
        {
            QFile pw(raiz() + QStringLiteral("/pwfile"));
            pw.open(QIODevice::WriteOnly);
            pw.write(password().toUtf8() + "\n");
        }
        if (::geteuid() == 0) {
            QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), m_dueno, raiz()});
        }
        const int init = comoDueno(
            QStringLiteral("initdb"),
            {QStringLiteral("-D"), datos(), QStringLiteral("-U"), superuser(), QStringLiteral("-A"),
             QStringLiteral("scram-sha-256"), QStringLiteral("--pwfile=") + raiz() + QStringLiteral("/pwfile"),
             QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")});
        QFile::remove(raiz() + QStringLiteral("/pwfile"));
        if (init != 0) {
            return;
        }
        m_puerto = puertoLibre();
        {
            QFile conf(datos() + QStringLiteral("/postgresql.conf"));
            conf.open(QIODevice::Append);
            QTextStream ts(&conf);
            ts << "\nport = " << m_puerto << "\nlisten_addresses = '127.0.0.1'\nunix_socket_directories = '" << raiz()
               << "'\nfsync = off\nlc_messages = 'C'\n";
        }
        if (comoDueno(QStringLiteral("pg_ctl"),
                      {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"), datos(),
                       QStringLiteral("-l"), raiz() + QStringLiteral("/server.log")}) != 0) {
            QFile registro(raiz() + QStringLiteral("/server.log"));
            registro.open(QIODevice::ReadOnly);
            ADD_FAILURE() << "the second server did not start: " << registro.readAll().toStdString();
            return;
        }
        vigilar();
        m_ok = psql(QStringLiteral("CREATE DATABASE veliro7;"), nullptr, QStringLiteral("postgres"));
    }
    ~ClusterNuevo() {
        comoDueno(QStringLiteral("pg_ctl"), {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                                             QStringLiteral("immediate"), QStringLiteral("-D"), datos()});
        QDir(raiz()).removeRecursively();
        if (m_vigia >= 0) {
            ::close(m_vigia);
        }
    }
    ClusterNuevo(const ClusterNuevo&) = delete;
    ClusterNuevo& operator=(const ClusterNuevo&) = delete;

    bool ok() const { return m_ok; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_puerto; }
    QString superuser() const { return QStringLiteral("postgres"); }
    QString password() const { return QStringLiteral("otro-servidor-pw"); }
    QString installFolder() const { return raiz() + QStringLiteral("/"); }

    QString connectionString(const QString& usuario, const QString& clave) const {
        QString pw = clave;
        pw.replace(QLatin1Char('}'), QStringLiteral("}}"));
        return QStringLiteral("DRIVER={PostgreSQL ODBC Driver(UNICODE)};SERVER=%1;PORT=%2;DATABASE=veliro7;UID=%3;"
                              "PWD={%4}")
            .arg(host(), QString::number(m_puerto), usuario, pw);
    }

    bool psql(const QString& sql, QString* salida = nullptr, const QString& base = QStringLiteral("veliro7")) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), password());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        p.setProcessEnvironment(env);
        p.start(m_bin + QStringLiteral("/psql"),
                {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                 QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), host(),
                 QStringLiteral("-p"), QString::number(m_puerto), QStringLiteral("-U"), superuser(),
                 QStringLiteral("-d"), base, QStringLiteral("-f"), QStringLiteral("-")});
        p.write(sql.toUtf8());
        p.closeWriteChannel();
        p.waitForFinished(120000);
        if (salida != nullptr) {
            *salida = QString::fromUtf8(p.readAllStandardOutput());
        }
        const bool bien = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!bien) {
            ADD_FAILURE() << "psql: " << sql.left(300).toStdString() << "\n" << p.readAllStandardError().toStdString();
        }
        return bien;
    }

private:
    QString raiz() const { return m_raiz.path(); }
    QString datos() const { return raiz() + QStringLiteral("/data"); }

    int comoDueno(const QString& programa, const QStringList& args) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setStandardInputFile(QProcess::nullDevice());
        p.setWorkingDirectory(QStringLiteral("/"));
        const QString exe = m_bin + QLatin1Char('/') + programa;
        if (::geteuid() == 0) {
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), m_dueno, QStringLiteral("--"), exe} + args);
        } else {
            p.start(exe, args);
        }
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << programa.toStdString() << " did not end";
            return -1;
        }
        const int rc = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        if (rc != 0 && programa != QLatin1String("pg_ctl")) {
            ADD_FAILURE() << programa.toStdString() << ": " << p.readAll().toStdString();
        }
        return rc;
    }

    static int puertoLibre() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int puerto = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
            socklen_t l = sizeof(a);
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &l);
            puerto = ntohs(a.sin_port);
        }
        ::close(fd);
        return puerto;
    }

    // A child outside this program's process group that stops the server and removes its folder once this
    // program is gone, however it ended (the pipe's write end closes with it).
    void vigilar() {
        QString pgctl = m_bin + QStringLiteral("/pg_ctl stop -w -m immediate -D '") + datos() + QLatin1Char('\'');
        if (::geteuid() == 0) {
            pgctl = QStringLiteral("runuser -u ") + m_dueno + QStringLiteral(" -- ") + pgctl;
        }
        const QByteArray guion = (QStringLiteral("if [ -d '") + datos() + QStringLiteral("' ]; then ") + pgctl +
                                  QStringLiteral(" >/dev/null 2>&1; rm -rf '") + raiz() + QStringLiteral("'; fi"))
                                     .toLocal8Bit();
        int tubo[2];
        if (::pipe2(tubo, O_CLOEXEC) != 0) {
            return;
        }
        if (::fork() == 0) {
            ::setsid();
            ::close(tubo[1]);
            char b = 0;
            while (::read(tubo[0], &b, 1) != 0 && errno == EINTR) {
            }
            const int nulo = ::open("/dev/null", O_RDWR);
            ::dup2(nulo, 0);
            ::dup2(nulo, 1);
            ::dup2(nulo, 2);
            ::execl("/bin/sh", "sh", "-c", guion.constData(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(tubo[0]);
        m_vigia = tubo[1];
    }

    QString m_bin;
    // Not under TMPDIR: the tests point it at a folder that only root may enter, and the server runs as its owner.
    QTemporaryDir m_raiz{QStringLiteral("/tmp/v7pg2-XXXXXX")};
    QString m_dueno;
    int m_puerto = 0;
    int m_vigia = -1;
    bool m_ok = false;
};

} // namespace v7::test
