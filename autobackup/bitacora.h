// Where the unattended backup tells its outcome: a log of lines, each the time of day followed by a
// message that starts with a blank. The daily log is log/resp_yyyymmdd.log in the program folder,
// appended with CR LF line ends; every line also goes to stderr (cron keeps it). Lines may be written
// from the thread that ends the program on a signal or its time limit.
#pragma once

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

namespace v7::autobackup {

class Bitacora {
public:
    virtual ~Bitacora() = default;
    // One message; it starts with a blank and may hold a CR LF of its own.
    virtual void escribir(const QString& mensaje) = 0;
};

// log/resp_<yyyymmdd>.log under the program folder, the log folder created when missing.
QString rutaBitacora(const QString& carpetaPrograma, const QDate& fecha);

// A message as the log writes it: its own CR LF line breaks kept, every other control character shown as
// \xNN (a NUL or an escape sequence from a settings file never reaches the log raw), each line cut at
// kLineaMaximaBitacora characters with a note of how many were left out.
QString textoParaBitacora(const QString& mensaje);
inline constexpr int kLineaMaximaBitacora = 2000;

// The file is opened for appending without following a link (at the file or at the log folder) and only
// when it is a regular file.
class BitacoraDiaria final : public Bitacora {
public:
    BitacoraDiaria(const QString& carpetaPrograma, const QDate& fecha);

    // False when the file could not be opened: the lines then reach stderr only.
    bool abierta() const { return m_archivo.isOpen(); }
    QString ruta() const { return m_archivo.fileName(); }
    QString error() const { return m_error; }

    void escribir(const QString& mensaje) override;

private:
    std::mutex m_mutex;
    QFile m_archivo;
    QString m_error;
};

// Keeps the lines in memory (tests, or a caller that logs elsewhere).
class BitacoraMemoria final : public Bitacora {
public:
    void escribir(const QString& mensaje) override { m_lineas << mensaje; }
    const QStringList& lineas() const { return m_lineas; }

private:
    QStringList m_lineas;
};

// While it lives, the notices of the shared routines (v7::avisar) become log lines and are answered
// at once (Ok, No, Cancel or Abort): nothing in the unattended run waits for a person. The log has no
// icons, so the notifier that does this stays inside the log's own file.
class AvisosEnBitacora final {
public:
    explicit AvisosEnBitacora(Bitacora& bitacora);
    ~AvisosEnBitacora();
    AvisosEnBitacora(const AvisosEnBitacora&) = delete;
    AvisosEnBitacora& operator=(const AvisosEnBitacora&) = delete;

private:
    class Notificador;
    std::unique_ptr<Notificador> m_notificador;
};

} // namespace v7::autobackup
