// The console's server probe, off the windows' thread: "SELECT 1;" on a connection of its own, so a
// server that does not answer never freezes a window, and the probe never runs on (nor replaces) the
// shared connection that a long operation may be holding in a transaction.
//
//     SondaServidor sonda;
//     QObject::connect(&sonda, &SondaServidor::terminada, … [](const ResultadoSonda& r) { … });
//     sonda.iniciar(sesion().CadenaConexion, sesion().RutaPostgres); // returns at once
#pragma once

#include "platform/db.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

namespace v7 {

struct ResultadoSonda {
    enum class Estado {
        EnLinea,      // the server answered
        Detenido,     // it could not be reached (texto: the SQL layer's text of the failure)
        SinRespuesta, // it accepted the connection and did not answer in time
        SinAcceso,    // it runs, but refused this session's login; not tried again until allowed
    };
    Estado estado = Estado::Detenido;
    QString texto; // the failure's text, passwords redacted; empty when the server answered
    QString frase; // what it means, a Spanish sentence for the status line; empty when the server answered
    // After a server restart: a connection opened with the session's string, for the session to take in
    // place of its shared one (which died with the old server). Empty otherwise.
    std::shared_ptr<db::Connection> reemplazo;
};

class SondaServidor : public QObject {
    Q_OBJECT

public:
    explicit SondaServidor(QObject* parent = nullptr);
    // A probe still under way is left to end by itself; its result is dropped.
    ~SondaServidor() override;

    // Starts one probe on a worker thread and returns at once; false (nothing started) while the last one
    // has not reported yet.
    bool iniciar(const QString& cadenaConexion, const QString& rutaPostgres);
    // From iniciar() until terminada() has been emitted.
    bool enCurso() const { return m_enCurso; }
    // Milliseconds since the probe under way started (0 when none).
    qint64 msEnCurso() const;

    // After a refused login the probe stops logging in (a refused password is never retried in a loop)
    // and only asks pg_ctl whether the server still runs; this allows one more login attempt.
    void permitirAcceso();

signals:
    void terminada(const ResultadoSonda& resultado);

private:
    struct Compartido;
    std::shared_ptr<Compartido> m_compartido;
    bool m_enCurso = false;
    QElapsedTimer m_inicio;
};

} // namespace v7
