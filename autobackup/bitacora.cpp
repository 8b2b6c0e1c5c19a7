#include "autobackup/bitacora.h"

#include "core/errores.h"
#include "platform/notify.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDir>
#include <QTime>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::autobackup {

namespace {

Notifier* g_anterior = nullptr;

} // namespace

QString rutaBitacora(const QString& carpetaPrograma, const QDate& fecha) {
    return carpetaPrograma + QStringLiteral("log/resp_") + fecha.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

QString textoParaBitacora(const QString& mensaje) {
    QStringList lineas;
    for (const QString& linea : mensaje.split(err::kCrLf)) {
        QString limpia;
        for (const QChar c : linea) {
            const char16_t u = c.unicode();
            if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) {
                limpia += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0'));
            } else {
                limpia += c;
            }
        }
        if (limpia.size() > kLineaMaximaBitacora) {
            const qsizetype resto = limpia.size() - kLineaMaximaBitacora;
            limpia = limpia.left(kLineaMaximaBitacora) + QStringLiteral("… (") + QString::number(resto) +
                     QStringLiteral(" caracteres más)");
        }
        lineas << limpia;
    }
    return lineas.join(err::kCrLf);
}

BitacoraDiaria::BitacoraDiaria(const QString& carpetaPrograma, const QDate& fecha)
    : m_archivo(rutaBitacora(carpetaPrograma, fecha)) {
    const QString carpeta = carpetaPrograma + QStringLiteral("log");
    int err = 0;
    if (paths::esEnlace(carpeta)) {
        err = ELOOP;
    } else {
        QDir().mkpath(carpeta);
        // O_NONBLOCK: a FIFO at the log's name must not hold the run; O_NOFOLLOW: nor a link.
        const int fd = ::open(QFile::encodeName(m_archivo.fileName()).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
        struct stat st {};
        if (fd < 0) {
            err = errno;
        } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            err = EISDIR;
            ::close(fd);
        } else {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            if (!m_archivo.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
                err = EACCES;
                ::close(fd);
            }
        }
    }
    if (err != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(err));
        std::fprintf(stderr, "V7backup: the log %s cannot be opened (%s); lines go to stderr only\n",
                     qPrintable(m_archivo.fileName()), qPrintable(m_error));
    }
}

void BitacoraDiaria::escribir(const QString& mensaje) {
    process::puntoDeControl(); // once the program is ending, only its own last line is written
    const QString linea = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + textoParaBitacora(mensaje);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fprintf(stderr, "%s\n", linea.toLocal8Bit().constData());
    std::fflush(stderr);
    if (m_archivo.isOpen()) {
        m_archivo.write(linea.toUtf8() + "\r\n");
        m_archivo.flush();
    }
}

class AvisosEnBitacora::Notificador final : public Notifier {
public:
    explicit Notificador(Bitacora& bitacora) : m_bitacora(bitacora) {}

    MsgResult notify(MsgIcon, const QString& text, MsgButtons buttons, const QString& title) override {
        m_bitacora.escribir(QStringLiteral(" - ") + (title.isEmpty() ? QString() : title + QStringLiteral(": ")) +
                            text);
        return respuestaSinPersona(buttons);
    }

private:
    Bitacora& m_bitacora;
};

AvisosEnBitacora::AvisosEnBitacora(Bitacora& bitacora) : m_notificador(std::make_unique<Notificador>(bitacora)) {
    g_anterior = &notifier();
    setNotifier(m_notificador.get());
}

AvisosEnBitacora::~AvisosEnBitacora() {
    setNotifier(g_anterior == m_notificador.get() ? nullptr : g_anterior);
}

} // namespace v7::autobackup
