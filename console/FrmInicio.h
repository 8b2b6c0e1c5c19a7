// The console: the program's first window and hub. It shows the login, then the server's status
// every two seconds, starts, stops and reloads the server and opens every tool window.
#pragma once

#include "platform/notify.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class QLabel;
class QTimer;
class QAction;
class QSystemTrayIcon;

namespace v7 {

class GuardiaVentana;
class MyButton;
class MyFrame;
class SondaServidor;
struct ResultadoSonda;

// What the console knows of the server, kept as a value (the status label only shows it).
enum class EstadoConsola {
    Espere,       // before the first probe
    EnLinea,      // it answers: the tool windows may open
    Detenido,     // it cannot be reached
    SinRespuesta, // it took the connection and gave no answer in time
    SinAcceso,    // it runs, but refuses this session's login
    Iniciando,
    Deteniendo,
    Reiniciando,
};

// How the console shows its other windows; each is modal and closes itself. Tests replace any of them.
struct VentanasConsola {
    // Shows the login modally and returns its tag ("OK" after a successful login).
    std::function<QString(QWidget* parent)> login;
    std::function<void(QWidget* parent)> base;        // maintenance
    std::function<void(QWidget* parent)> monitoreo;   // connected sessions
    std::function<void(QWidget* parent)> usuarios;    // staff accounts
    std::function<void(QWidget* parent)> permisos;    // client-address rules
    std::function<void(QWidget* parent)> respaldo;    // backup schedule
    std::function<void(QWidget* parent)> rutaTrabajo; // shared work files
    std::function<void(QWidget* parent)> reportes;    // report templates
    std::function<void(QWidget* parent)> acervo;      // collection transfer

    static VentanasConsola predeterminadas();
};

class FrmInicio : public QMainWindow {
    Q_OBJECT

public:
    explicit FrmInicio(VentanasConsola ventanas = VentanasConsola::predeterminadas(), QWidget* parent = nullptr);
    ~FrmInicio() override;

    // The start-up sequence; false when the login did not end with "OK" (the console is then closed
    // and the program is to end without a message).
    bool Form_Load();

    // Service operations, also used by the client-address window.
    void Iniciar_Server();
    void Detener_Server();
    // The reload: true only when the server reported that it was signalled; otherwise motivo (when
    // given) says why the new settings were not applied.
    bool Reiniciar_Server(QString* motivo = nullptr);
    void EsperarShell(const QString& command);

    // The status probe (the timer's slot): starts one probe off the windows' thread and returns; its
    // outcome is shown when it arrives (sondeoTerminado). Idle while a window's long operation runs.
    void TmrStatus_Timer();
    bool sondeoEnCurso() const;
    EstadoConsola estado() const { return m_estado; }

    void BtnIniciar_Click();
    void BtnDetener_Click();
    void BtnReiniciar_Click();
    void BtnBaseDeDatos_Click();
    void BtnMonitoreo_Click();
    void BtnUsuarios_Click();
    void BtnPermisos_Click();
    void BtnRespaldo_Click();
    void BtnRutaTrabjo_Click();
    void cmdExportarAcervo_Click();
    void BtnSalir_Click();
    void mnuSalir_Click();

    QTimer* statusTimer() const { return TmrStatus; }

signals:
    // A probe's outcome has been shown (or dropped because a long operation runs).
    void sondeoTerminado();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void construir();
    void Form_Unload();
    bool compuertaServidor();
    void aplicarArchivosCompartidos();
    // detalle: the tooltip (the raw text of a failure).
    void ponerEstado(EstadoConsola estado, const QString& text, int colorBgr, const QString& detalle = QString());
    void aplicarSondeo(const ResultadoSonda& r);
    void mostrarSinRespuesta(const QString& frase, const QString& detalle);
    // Locks the console for a service action (hourglass, every control, the probe idle).
    void bloquear();
    // Gives it back (before a message box, and at the end of the action).
    void soltar();
    // A message box on an unlocked console.
    void avisarSoltando(MsgIcon icon, const QString& text, const QString& title = QString());
    void ponerSemaforo(int imagen); // 1 verde, 2 amarillo, 3 rojo
    void ActualizarIconoBandeja();

    VentanasConsola m_ventanas;
    bool m_cerrado = false;
    EstadoConsola m_estado = EstadoConsola::Espere;
    int m_semaforo = 0;
    SondaServidor* m_sonda = nullptr;
    std::unique_ptr<GuardiaVentana> m_guardia;

    QLabel* ImgCabecera = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* EtStatus = nullptr;
    QLabel* PicSemaforo1 = nullptr;
    QTimer* TmrStatus = nullptr;
    MyButton* BtnIniciar = nullptr;
    MyButton* BtnDetener = nullptr;
    MyButton* BtnReiniciar = nullptr;
    MyFrame* PanelCentral = nullptr;
    MyFrame* PanelSec = nullptr;
    MyButton* BtnUsuarios = nullptr;
    MyButton* BtnPermisos = nullptr;
    MyButton* BtnBaseDeDatos = nullptr;
    MyButton* BtnMonitoreo = nullptr;
    MyButton* BtnRespaldo = nullptr;
    MyButton* BtnRutaTrabjo = nullptr;
    MyButton* cmdExportarAcervo = nullptr;
    MyButton* BtnSalir = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* EtRuta = nullptr;
    QLabel* EtRutaTrabajo = nullptr;
    QLabel* EtServerHost = nullptr;
    QLabel* EtServerIp = nullptr;
    QLabel* EtUsuario = nullptr;
    QAction* opcResp = nullptr;
    QAction* mnuSalir = nullptr;
    QSystemTrayIcon* m_bandeja = nullptr;
};

} // namespace v7
