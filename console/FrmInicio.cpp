#include "console/FrmInicio.h"

#include "accounts/FrmUsuarios.h"
#include "catalogues/FrmCatalogos.h"
#include "collection/frmActualizarAcervo.h"
#include "collection/frmMontarAcervo.h"
#include "console/FrmPermisosAcceso.h"
#include "console/FrmRutaTrabajo.h"
#include "console/FrmUsuariosConectados.h"
#include "console/ajuste_analistas.h"
#include "console/frmGrabaReporte.h"
#include "console/monitoreo.h"
#include "console/ruta_trabajo.h"
#include "console/sonda.h"
#include "core/FrmIniciarSesion.h"
#include "core/errores.h"
#include "core/listas.h"
#include "core/login.h"
#include "core/scripts.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmProgTareas.h"
#include "maintenance/FrmResetBD.h"
#include "platform/archivo_seguro.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/service.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

namespace v7 {

namespace {

using err::kCrLf;
const QString kEnLinea = QStringLiteral("En línea");

constexpr int kVerde = 32768;
constexpr int kRojo = 255;
constexpr int kAzul = 16711680;

// A probe still without an answer at a tick this long after it started: the server is shown as not answering.
constexpr qint64 kSinRespuestaMs = 1500;

// The three lights of the status picture, drawn rather than shipped.
QPixmap luz(int imagen) {
    QPixmap p(24, 24);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const QColor c = imagen == 1 ? QColor(0, 160, 0) : imagen == 2 ? QColor(230, 180, 0) : QColor(200, 0, 0);
    g.setBrush(c);
    g.setPen(c.darker());
    g.drawEllipse(2, 2, 20, 20);
    return p;
}

void error(QWidget* parent, const QString& text) {
    dialogs().message(parent, MsgIcon::Critical, text);
}

} // namespace

VentanasConsola VentanasConsola::predeterminadas() {
    VentanasConsola v;
    v.login = [](QWidget*) {
        // The login has no parent: the console is not shown yet.
        FrmIniciarSesion login;
        login.setMostrarRestauracion([](FrmIniciarSesion& w) {
            FrmBase base(&w, &w);
            base.setArchivoRestaurar(w.archivoRestauracion());
            base.exec();
        });
        login.exec();
        return login.tag();
    };
    v.base = [](QWidget* parent) {
        FrmBase base(parent);
        base.setMostrarReset([](QWidget* p) {
            FrmResetBD reset(p);
            reset.exec();
        });
        base.exec();
    };
    v.monitoreo = [](QWidget* parent) {
        FrmUsuariosConectados monitoreo(parent);
        if (monitoreo.cargado()) {
            monitoreo.exec();
        }
    };
    v.usuarios = [](QWidget* parent) {
        auto catalogos = [](QWidget* p) {
            FrmCatalogos w(p);
            w.exec();
        };
        FrmUsuarios usuarios(catalogos, parent);
        usuarios.exec();
    };
    v.permisos = [](QWidget* parent) {
        FrmPermisosAcceso permisos(qobject_cast<FrmInicio*>(parent), parent);
        permisos.exec();
    };
    v.respaldo = [](QWidget* parent) {
        FrmProgTareas tareas(parent);
        tareas.exec();
    };
    v.rutaTrabajo = [](QWidget* parent) {
        FrmRutaTrabajo w(parent);
        w.exec();
    };
    v.reportes = [](QWidget* parent) {
        frmGrabaReporte w(parent);
        w.exec();
    };
    v.acervo = [](QWidget* parent) {
        auto exportar = [](QWidget* p) {
            frmMontarAcervo w(p);
            w.exec();
        };
        frmActualizarAcervo acervo(exportar, parent);
        acervo.exec();
    };
    return v;
}

FrmInicio::FrmInicio(VentanasConsola ventanas, QWidget* parent) : QMainWindow(parent), m_ventanas(std::move(ventanas)) {
    setObjectName(QStringLiteral("FrmInicio"));
    setWindowTitle(QStringLiteral("VELIRO7 - [Módulo de Administración]"));
    construir();
}

FrmInicio::~FrmInicio() = default;

bool FrmInicio::sondeoEnCurso() const {
    return m_sonda->enCurso();
}

void FrmInicio::bloquear() {
    m_guardia = std::make_unique<GuardiaVentana>(this);
}

void FrmInicio::soltar() {
    m_guardia.reset();
}

void FrmInicio::avisarSoltando(MsgIcon icon, const QString& text, const QString& title) {
    soltar();
    dialogs().message(this, icon, text, MsgButtons::Ok, title);
}

void FrmInicio::construir() {
    using namespace ui;
    auto* central = new QWidget(this);
    setCentralWidget(central);
    setFixedSize(px(9600), px(7200));

    auto* mnuConfig = menuBar()->addMenu(QStringLiteral("&Configuración"));
    mnuConfig->setObjectName(QStringLiteral("mnuConfig"));
    opcResp = mnuConfig->addAction(QStringLiteral("Respaldo"));
    opcResp->setObjectName(QStringLiteral("opcResp"));
    connect(opcResp, &QAction::triggered, this, [this] { BtnRespaldo_Click(); });
    mnuSalir = menuBar()->addAction(QStringLiteral("&Salir"));
    mnuSalir->setObjectName(QStringLiteral("mnuSalir"));
    connect(mnuSalir, &QAction::triggered, this, [this] { mnuSalir_Click(); });

    ImgCabecera = crearImagenCabecera(central);

    PanelCentral = panel(central, QStringLiteral("PanelCentral"), twips(360, 1000, 5700, 5000));

    Label1 = etiqueta(PanelCentral, QStringLiteral("Label1"), QStringLiteral("Estado del servidor:"), 240, 240, 2400);
    EtStatus = etiqueta(PanelCentral, QStringLiteral("EtStatus"), QStringLiteral("  Espere..."), 240, 600, 4800);
    EtStatus->setWordWrap(true);
    EtStatus->setMinimumHeight(px(1300));
    EtStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    PicSemaforo1 = new QLabel(PanelCentral);
    PicSemaforo1->setObjectName(QStringLiteral("PicSemaforo1"));
    PicSemaforo1->setGeometry(px(5000), px(200), 24, 24);
    BtnIniciar = boton(PanelCentral, QStringLiteral("BtnIniciar"), QStringLiteral("Iniciar"), 240, 2100, 1600);
    BtnDetener = boton(PanelCentral, QStringLiteral("BtnDetener"), QStringLiteral("Detener"), 2000, 2100, 1600);
    BtnReiniciar = boton(PanelCentral, QStringLiteral("BtnReiniciar"), QStringLiteral("Reiniciar"), 3760, 2100, 1600);
    for (auto* b : {BtnIniciar, BtnDetener, BtnReiniciar}) {
        b->setEnabled(false);
    }
    connect(BtnIniciar, &QPushButton::clicked, this, [this] { BtnIniciar_Click(); });
    connect(BtnDetener, &QPushButton::clicked, this, [this] { BtnDetener_Click(); });
    connect(BtnReiniciar, &QPushButton::clicked, this, [this] { BtnReiniciar_Click(); });

    EtServerHost = etiqueta(PanelCentral, QStringLiteral("EtServerHost"), QStringLiteral("HostName"), 240, 2800, 5200);
    EtServerIp =
        etiqueta(PanelCentral, QStringLiteral("EtServerIp"), QStringLiteral("255.255.255.255"), 240, 3120, 5200);
    EtUsuario = etiqueta(PanelCentral, QStringLiteral("EtUsuario"),
                         QStringLiteral("El último usuario que inicio sesión fue:"), 240, 3440, 5300);
    EtUsuario->setWordWrap(true);
    EtUsuario->setMinimumHeight(px(600));
    EtRuta = etiqueta(PanelCentral, QStringLiteral("EtRuta"),
                      QStringLiteral("Ruta de los archivos de trabajo de VELIRO7:"), 240, 4100, 5200);
    EtRutaTrabajo = etiqueta(PanelCentral, QStringLiteral("EtRutaTrabajo"),
                             QStringLiteral("No se ha definido ninguna ruta...."), 240, 4420, 5200);

    PanelSec = panel(central, QStringLiteral("PanelSec"), twips(6200, 1000, 3300, 5000));
    BtnUsuarios = boton(PanelSec, QStringLiteral("BtnUsuarios"), QStringLiteral("&Usuarios"), 200, 500, 2900);
    BtnPermisos = boton(PanelSec, QStringLiteral("BtnPermisos"), QStringLiteral("&Permisos"), 200, 1000, 2900);
    BtnBaseDeDatos =
        boton(PanelSec, QStringLiteral("BtnBaseDeDatos"), QStringLiteral("&Herramientas"), 200, 1500, 2900);
    BtnMonitoreo = boton(PanelSec, QStringLiteral("BtnMonitoreo"), QStringLiteral("&Monitorear"), 200, 2000, 2900);
    BtnRespaldo = boton(PanelSec, QStringLiteral("BtnRespaldo"), QStringLiteral("&Respaldos"), 200, 2500, 2900);
    BtnRutaTrabjo =
        boton(PanelSec, QStringLiteral("BtnRutaTrabjo"), QStringLiteral("Administración de reportes"), 200, 3000, 2900);
    cmdExportarAcervo =
        boton(PanelSec, QStringLiteral("cmdExportarAcervo"), QStringLiteral("Actuali&zar acervo"), 200, 3500, 2900);
    BtnSalir = boton(PanelSec, QStringLiteral("BtnSalir"), QStringLiteral("&Salir"), 200, 4300, 2900);
    connect(BtnUsuarios, &QPushButton::clicked, this, [this] { BtnUsuarios_Click(); });
    connect(BtnPermisos, &QPushButton::clicked, this, [this] { BtnPermisos_Click(); });
    connect(BtnBaseDeDatos, &QPushButton::clicked, this, [this] { BtnBaseDeDatos_Click(); });
    connect(BtnMonitoreo, &QPushButton::clicked, this, [this] { BtnMonitoreo_Click(); });
    connect(BtnRespaldo, &QPushButton::clicked, this, [this] { BtnRespaldo_Click(); });
    connect(BtnRutaTrabjo, &QPushButton::clicked, this, [this] { BtnRutaTrabjo_Click(); });
    connect(cmdExportarAcervo, &QPushButton::clicked, this, [this] { cmdExportarAcervo_Click(); });
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });

    Label3 = etiqueta(central, QStringLiteral("Label3"),
                      QStringLiteral("versión [La version se extrae de una variable]"), 360, 6250, 5000);

    TmrStatus = new QTimer(this);
    TmrStatus->setObjectName(QStringLiteral("TmrStatus"));
    TmrStatus->setInterval(2000);
    connect(TmrStatus, &QTimer::timeout, this, [this] { TmrStatus_Timer(); });
    m_sonda = new SondaServidor(this);
    connect(m_sonda, &SondaServidor::terminada, this, [this](const ResultadoSonda& r) { aplicarSondeo(r); });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_bandeja = new QSystemTrayIcon(this);
        m_bandeja->setObjectName(QStringLiteral("Bandeja"));
    }
}

bool FrmInicio::Form_Load() {
    // The login decides whether the program goes on.
    const QString tag = m_ventanas.login ? m_ventanas.login(this) : QString();
    if (tag != QLatin1String("OK")) {
        Form_Unload();
        m_cerrado = true;
        return false;
    }
    auto& s = sesion();
    TmrStatus->start();
    Label3->setText(s.VersionHerramienta);
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelSec, QStringLiteral("Opciones"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    EtServerHost->setText(QStringLiteral("Host Cliente: ") + paths::hostName());
    EtServerIp->setText(QStringLiteral("IP Servidor: ") + s.ServidorConexion);
    // Without a connection there is nothing to read.
    if (!s.ConexionPrincipal || !s.ConexionPrincipal->isOpen()) {
        return true;
    }
    // The start-up reads and the staff table's fix-up run off the windows' thread: a server that is slow, or a table
    // another session holds, never freezes the program at its start.
    struct Inicio {
        bool rutaLeida = false;
        QString ruta;
        UltimaSesion ultima;
        AjusteAnalistas analistas;
    };
    const QString usuarioSesion = s.UsuarioSesion;
    const Inicio inicio = conPlazos(kPlazosInteractivos, [&] {
        Inicio r;
        r.rutaLeida = LeerRutaTrabajo(&r.ruta);
        (void)leerUltimaSesion(&r.ultima, nullptr);
        r.analistas = AjustarTablaAnalistas(usuarioSesion);
        DepurarAnalistasDuplicados();
        (void)VerificarArchivosCompartidos();
        return r;
    });
    // The shared work-files setting.
    if (inicio.rutaLeida) {
        s.RutaTrabajo = inicio.ruta;
    }
    // The last session on the database.
    EtUsuario->setText(textoUltimaSesion(inicio.ultima));
    s.NombreServicio = s.EsWindows32Bits ? QStringLiteral("postgresql-9.0") : QStringLiteral("postgresql-x64-9.0");
    EtRutaTrabajo->setText(s.RutaTrabajo);
    // The staff table from its first layout to the second.
    if (inicio.analistas.version1 && !inicio.analistas.columnaAgregada) {
        error(this, inicio.analistas.errorColumna);
    } else if (inicio.analistas.columnaAgregada && !inicio.analistas.versionGuardada) {
        error(this, QStringLiteral("No se actualizó la tabla \"catalogos.analistas\""));
    }
    // The duplicate staff rows and the shared-files check ran with the reads above.
    aplicarArchivosCompartidos();
    return true;
}

void FrmInicio::aplicarArchivosCompartidos() {
    const bool hay = sesion().HayArchivosCompartidos;
    BtnRutaTrabjo->setText(hay ? QStringLiteral("Archivos de trabajo") : QStringLiteral("Administración de reportes"));
    EtRuta->setVisible(hay);
    EtRutaTrabajo->setVisible(hay);
}

void FrmInicio::closeEvent(QCloseEvent* event) {
    // The staff window refuses to go while it sets up the group roles (and says so); it still needs
    // the shared connection then, so the console stays too.
    if (auto* usuarios = findChild<FrmUsuarios*>(QStringLiteral("FrmUsuarios"));
        usuarios != nullptr && usuarios->isVisible() && !usuarios->close()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void FrmInicio::Form_Unload() {
    if (m_cerrado) {
        return;
    }
    m_cerrado = true;
    TmrStatus->stop();
    auto& s = sesion();
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        s.ConexionPrincipal->close();
    }
    s.ConexionPrincipal.reset();
    if (m_bandeja != nullptr) {
        m_bandeja->hide();
    }
}

void FrmInicio::mnuSalir_Click() {
    close();
}

void FrmInicio::BtnSalir_Click() {
    // At once, without the closing step.
    terminarPrograma(0);
}

// ---------------------------------------------------------------- status and service

void FrmInicio::ponerEstado(EstadoConsola estado, const QString& text, int colorBgr, const QString& detalle) {
    m_estado = estado;
    EtStatus->setText(text);
    // The raw words of the driver or the server, for whoever needs them.
    EtStatus->setToolTip(db::redactPassword(detalle));
    QPalette p = EtStatus->palette();
    p.setColor(QPalette::WindowText, colorDesdeBGR(colorBgr));
    EtStatus->setPalette(p);
    EtStatus->setProperty("ForeColor", colorBgr);
}

void FrmInicio::ponerSemaforo(int imagen) {
    m_semaforo = imagen;
    PicSemaforo1->setPixmap(luz(imagen));
    PicSemaforo1->setProperty("Imagen", imagen);
}

void FrmInicio::ActualizarIconoBandeja() {
    if (m_bandeja == nullptr) {
        return;
    }
    if (m_semaforo != 0) {
        m_bandeja->setIcon(QIcon(luz(m_semaforo)));
    }
    m_bandeja->setToolTip((QStringLiteral("VELIRO7 - ") + db::redactPassword(EtStatus->text())).left(127));
    m_bandeja->show();
}

void FrmInicio::TmrStatus_Timer() {
    // A window's long operation may hold the server or the shared connection: the probe waits.
    if (m_cerrado || events::operacionesLargas() > 0) {
        return;
    }
    if (m_sonda->enCurso()) {
        const qint64 ms = m_sonda->msEnCurso();
        if (ms >= kSinRespuestaMs && m_estado != EstadoConsola::SinRespuesta) {
            const QString frase = QStringLiteral("El servidor no contestó en %1 segundos.").arg(ms / 1000);
            mostrarSinRespuesta(frase, frase);
        }
        return;
    }
    const auto& s = sesion();
    m_sonda->iniciar(s.CadenaConexion, s.RutaPostgres);
}

void FrmInicio::mostrarSinRespuesta(const QString& frase, const QString& detalle) {
    EtStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ponerEstado(EstadoConsola::SinRespuesta, QStringLiteral("Sin respuesta del servidor") + kCrLf + frase, kRojo,
                detalle);
    ponerSemaforo(2);
    ActualizarIconoBandeja();
    // Whether it hangs or is gone, the service layer tells when asked.
    BtnIniciar->setEnabled(true);
    BtnDetener->setEnabled(true);
    BtnReiniciar->setEnabled(true);
}

void FrmInicio::aplicarSondeo(const ResultadoSonda& r) {
    // Started before a service action or a window's long operation: that operation's outcome stands.
    if (m_cerrado || events::operacionesLargas() > 0) {
        emit sondeoTerminado();
        return;
    }
    try {
        switch (r.estado) {
        case ResultadoSonda::Estado::EnLinea: {
            ponerEstado(EstadoConsola::EnLinea, kEnLinea, kVerde);
            ponerSemaforo(1);
            ActualizarIconoBandeja();
            BtnIniciar->setEnabled(false);
            BtnDetener->setEnabled(true);
            BtnReiniciar->setEnabled(true);
            // Back after a restart: the session takes the fresh connection in place of the dead one, unless
            // a transaction of its own is open there (its owner has to learn that it was lost).
            auto& s = sesion();
            if (r.reemplazo && (!s.ConexionPrincipal || !s.ConexionPrincipal->inTransaction())) {
                s.ConexionPrincipal = r.reemplazo;
            }
            break;
        }
        case ResultadoSonda::Estado::Detenido:
            // What it means on the label; the driver's own words in its tooltip.
            EtStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            ponerEstado(EstadoConsola::Detenido, QStringLiteral("Detenido ") + kCrLf + r.frase, kRojo, r.texto);
            ponerSemaforo(3);
            ActualizarIconoBandeja();
            BtnIniciar->setEnabled(true);
            BtnDetener->setEnabled(false);
            BtnReiniciar->setEnabled(false);
            break;
        case ResultadoSonda::Estado::SinRespuesta:
            mostrarSinRespuesta(r.frase, r.texto);
            break;
        case ResultadoSonda::Estado::SinAcceso:
            // A refused password is not a stopped server: it runs, and can be stopped or reloaded.
            EtStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            ponerEstado(EstadoConsola::SinAcceso,
                        QStringLiteral("Sin acceso: el servidor está en ejecución, pero rechazó el usuario o la "
                                       "contraseña de esta sesión. Inicie nuevamente el programa."),
                        kRojo, r.texto);
            ponerSemaforo(2);
            ActualizarIconoBandeja();
            BtnIniciar->setEnabled(false);
            BtnDetener->setEnabled(true);
            BtnReiniciar->setEnabled(true);
            break;
        }
    } catch (const std::exception& ex) {
        dialogs().message(this, MsgIcon::None,
                          err::ocurrio(err::kOcurrioErrorNoDosBlancos, 0, {QString::fromLocal8Bit(ex.what())}));
    }
    emit sondeoTerminado();
}

void FrmInicio::BtnIniciar_Click() {
    BtnIniciar->setEnabled(false);
    Iniciar_Server();
}

void FrmInicio::BtnDetener_Click() {
    const QString pregunta =
        QStringLiteral("Esta acción detendra todos los procesos activos con los clientes conectados.Si continua y "
                       "existe una transferecnia de información puede perder los datos.Cerciorese de que ninguna "
                       "computadora cliente este conectada al servidor.") +
        kCrLf + kCrLf + QString(35, QLatin1Char(' ')) + QStringLiteral("¿ Desea continuar ?");
    if (dialogs().message(this, MsgIcon::Critical, pregunta, MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    BtnDetener->setEnabled(false);
    BtnReiniciar->setEnabled(false);
    TmrStatus->stop();
    Detener_Server();
    TmrStatus->start();
}

void FrmInicio::BtnReiniciar_Click() {
    BtnReiniciar->setEnabled(false);
    BtnDetener->setEnabled(false);
    Reiniciar_Server();
    BtnReiniciar->setEnabled(true);
    BtnDetener->setEnabled(true);
}

void FrmInicio::Iniciar_Server() {
    bloquear();
    TmrStatus->stop();
    if (m_estado == EstadoConsola::EnLinea) {
        avisarSoltando(MsgIcon::Information, QStringLiteral("El servidor ya está en funcionamiento"));
        TmrStatus->start();
        return;
    }
    const QString servicio = sesion().NombreServicio;
    if (servicio.isEmpty()) {
        avisarSoltando(MsgIcon::Critical, QStringLiteral("No se pudo encontrar el nombre del servicio del servidor") +
                                              kCrLf +
                                              QStringLiteral("Verifique la instalación y reinténtelo nuevamente"));
    } else {
        ponerEstado(EstadoConsola::Iniciando, QStringLiteral("Iniciando..."), kAzul);
        EsperarShell(QStringLiteral("net start ") + servicio);
    }
    m_sonda->permitirAcceso(); // the administrator acted: one more login is worth trying
    TmrStatus->start();
    ponerSemaforo(2);
    ActualizarIconoBandeja();
    // Given back last: nothing of the start runs after the window is usable again.
    soltar();
}

void FrmInicio::Detener_Server() {
    if (m_estado == EstadoConsola::Detenido) {
        dialogs().message(this, MsgIcon::Information, QStringLiteral("Actualmente ya está detenido el Servidor"));
        return;
    }
    bloquear();
    TmrStatus->stop();
    ponerEstado(EstadoConsola::Deteniendo, QStringLiteral("Deteniendo..."), kAzul);
    EsperarShell(QStringLiteral("net stop ") + sesion().NombreServicio);
    m_sonda->permitirAcceso();
    TmrStatus->start();
    ActualizarIconoBandeja();
    // Given back last: nothing of the stop runs after the window is usable again.
    soltar();
}

bool FrmInicio::Reiniciar_Server(QString* motivo) {
    auto& s = sesion();
    const QString txt = s.RutaTemporal + QStringLiteral("v7.reload.txt");
    auto fallo = [motivo](const QString& texto) {
        if (motivo != nullptr) {
            *motivo = texto;
        }
        return false;
    };
    try {
        bloquear();
        ponerEstado(EstadoConsola::Reiniciando, QStringLiteral("Reiniciando..."), kAzul);
        ponerSemaforo(2);
        ActualizarIconoBandeja();
        TmrStatus->stop();
        // pg_ctl reload through the service layer (as the data folder's owner, C locale), its standard
        // output into v7.reload.txt as the reload script's redirection left it.
        const service::Result r = service::reload(s.RutaPostgres, txt);
        m_sonda->permitirAcceso();
        bool senalado = false;
        if (r.refused()) {
            // Nothing was run: say why, not that the server is down.
            avisarSoltando(MsgIcon::Critical, r.message);
            ActualizarIconoBandeja();
            fallo(r.message);
        } else {
            // pg_ctl's few lines: a link or anything but a regular file at that name is not read.
            const archivo::Lectura salida = archivo::leerRegular(txt, archivo::kMiB);
            if (!salida.ok()) {
                throw std::runtime_error(salida.motivo.toStdString());
            }
            const QByteArray& contenido = salida.datos;
            if (contenido.trimmed().isEmpty() && !r.running) {
                avisarSoltando(MsgIcon::Critical,
                               QStringLiteral("El servidor NO se puede reiniciar debido a que NO esta en ejecución.") +
                                   kCrLf + QString(10, QLatin1Char(' ')) +
                                   QStringLiteral("Por favor, inicie el Servidor en inténtelo nuevamente."));
                ActualizarIconoBandeja();
                fallo(QStringLiteral("El servidor no está en ejecución."));
            } else if (contenido.trimmed().isEmpty()) {
                // It runs, and pg_ctl still could not signal it (e.g. refused): its own words.
                avisarSoltando(MsgIcon::Critical, r.message);
                ActualizarIconoBandeja();
                fallo(r.message);
            } else {
                const QString primera = QString::fromLocal8Bit(contenido).section(QLatin1Char('\n'), 0, 0);
                if (primera.contains(QLatin1String("server signaled"))) {
                    senalado = true;
                    ponerEstado(EstadoConsola::EnLinea, kEnLinea, kVerde);
                    ponerSemaforo(1);
                    ActualizarIconoBandeja();
                } else {
                    fallo(QString::fromLocal8Bit(contenido).trimmed());
                }
            }
        }
        QFile::remove(txt);
        TmrStatus->start();
        soltar();
        return senalado;
    } catch (const std::exception& ex) {
        QFile::remove(txt);
        avisarSoltando(MsgIcon::None, err::ocurrio(err::kOcurrioErrorNoMin, err::kArchivoNoEncontrado,
                                                   {QString::fromLocal8Bit(ex.what())}));
        TmrStatus->start();
        return fallo(QString::fromLocal8Bit(ex.what()));
    }
}

void FrmInicio::EsperarShell(const QString& command) {
    // "net start|stop <service>" are the server's service commands: the service layer runs them
    // against the session's installation; anything else runs through the shell.
    if (auto r = service::runNetCommand(command, sesion().RutaPostgres)) {
        if (r->refused()) {
            avisarSoltando(MsgIcon::None, err::ocurrio(err::kOcurrioErrorNo, err::kLlamadaNoValida, {r->message}),
                           QStringLiteral("VELIRO7 [EsperarShell]"));
        } else if (r->outcome == service::Outcome::AlreadyThere) {
            // The console's status was out of date (e.g. a session refused by a running server).
            avisarSoltando(MsgIcon::Information, r->running
                                                     ? QStringLiteral("El servidor ya está en funcionamiento")
                                                     : QStringLiteral("Actualmente ya está detenido el Servidor"));
        } else if (r->outcome == service::Outcome::Failed) {
            QString texto = r->message;
            if (!r->logTail.isEmpty()) {
                texto += kCrLf + kCrLf + QStringLiteral("Últimas líneas del registro del servidor (") + r->logFile +
                         QStringLiteral("):") + kCrLf + r->logTail;
            } else if (!r->logRefused.isEmpty()) {
                texto += kCrLf + kCrLf + QStringLiteral("No se muestra el registro del servidor: ") + r->logRefused;
            }
            avisarSoltando(MsgIcon::Critical, texto);
        }
    } else {
        // The number and the description on one line, as the script runner's own text gives them.
        const ResultadoScript corrida = ejecutarScript(command);
        if (!corrida.iniciado) {
            avisarSoltando(MsgIcon::None,
                           err::ocurrio(err::kOcurrioErrorNo, corrida.error.numero) + QLatin1Char(' ') +
                               corrida.error.descripcion,
                           QStringLiteral("VELIRO7 [EsperarShell]"));
        }
    }
    // Closed during the wait: the program ends here.
    if (!isVisible() && m_cerrado) {
        if (TmrStatus->isActive()) {
            TmrStatus->stop();
        }
        terminarPrograma(0);
    }
}

// ---------------------------------------------------------------- tool windows

bool FrmInicio::compuertaServidor() {
    if (m_estado != EstadoConsola::EnLinea) {
        error(this, QStringLiteral("Espere un momento mientras se verifica el estado del servidor"));
        return false;
    }
    return VerificarConexion().isEmpty() && m_estado == EstadoConsola::EnLinea;
}

void FrmInicio::BtnBaseDeDatos_Click() {
    if (!compuertaServidor()) {
        return;
    }
    if (m_ventanas.base) {
        m_ventanas.base(this);
    }
    aplicarArchivosCompartidos();
}

void FrmInicio::BtnMonitoreo_Click() {
    if (compuertaServidor() && m_ventanas.monitoreo) {
        m_ventanas.monitoreo(this);
    }
}

void FrmInicio::BtnUsuarios_Click() {
    if (compuertaServidor() && m_ventanas.usuarios) {
        m_ventanas.usuarios(this);
    }
}

void FrmInicio::BtnPermisos_Click() {
    if (m_ventanas.permisos) {
        m_ventanas.permisos(this);
    }
}

void FrmInicio::BtnRespaldo_Click() {
    if (m_ventanas.respaldo) {
        m_ventanas.respaldo(this);
    }
}

void FrmInicio::BtnRutaTrabjo_Click() {
    auto& show = sesion().HayArchivosCompartidos ? m_ventanas.rutaTrabajo : m_ventanas.reportes;
    if (show) {
        show(this);
    }
}

void FrmInicio::cmdExportarAcervo_Click() {
    if (sesion().RolSesion != QLatin1String("superusuario")) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("Se necesita una cuenta de superusuario, para realizar") + kCrLf +
                              QStringLiteral("esta operación."),
                          MsgButtons::Ok, QStringLiteral("Accion denegada"));
        return;
    }
    if (m_ventanas.acervo) {
        m_ventanas.acervo(this);
    }
}

} // namespace v7
