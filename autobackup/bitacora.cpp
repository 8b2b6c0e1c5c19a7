#include "autobackup/bitacora.h"

#include <QDir>
#include <QTime>

#include <cstdio>

namespace v7::autobackup {

namespace {

Notifier* g_anterior = nullptr;

} // namespace

QString rutaBitacora(const QString& carpetaPrograma, const QDate& fecha) {
    return carpetaPrograma + QStringLiteral("log/resp_") + fecha.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

BitacoraDiaria::BitacoraDiaria(const QString& carpetaPrograma, const QDate& fecha)
    : m_archivo(rutaBitacora(carpetaPrograma, fecha)) {
    QDir().mkpath(carpetaPrograma + QStringLiteral("log"));
    if (!m_archivo.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_error = m_archivo.errorString();
        std::fprintf(stderr, "V7backup: the log %s cannot be opened (%s); lines go to stderr only\n",
                     qPrintable(m_archivo.fileName()), qPrintable(m_error));
    }
}

void BitacoraDiaria::escribir(const QString& mensaje) {
    const QString linea = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + mensaje;
    std::fprintf(stderr, "%s\n", linea.toLocal8Bit().constData());
    std::fflush(stderr);
    if (m_archivo.isOpen()) {
        m_archivo.write(linea.toUtf8() + "\r\n");
        m_archivo.flush();
    }
}

AvisosEnBitacora::AvisosEnBitacora(Bitacora& bitacora) : m_bitacora(bitacora) {
    g_anterior = &notifier();
    setNotifier(this);
}

AvisosEnBitacora::~AvisosEnBitacora() {
    setNotifier(g_anterior == this ? nullptr : g_anterior);
}

MsgResult AvisosEnBitacora::notify(MsgIcon, const QString& text, MsgButtons buttons, const QString& title) {
    m_bitacora.escribir(QStringLiteral(" - ") + (title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text);
    return respuestaSinPersona(buttons);
}

} // namespace v7::autobackup
