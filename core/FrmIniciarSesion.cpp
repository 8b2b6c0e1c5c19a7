#include "core/FrmIniciarSesion.h"

#include "core/controles_ui.h"
#include "core/errores.h"
#include "core/fallos_ui.h"
#include "core/inicio_sesion.h"
#include "core/instalacion.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

namespace v7 {

namespace {

using ui::px;

constexpr int kAnchoTwips = 6300;
constexpr int kAlturaDisenadaTwips = 3495;
constexpr int kAlturaExpandidaTwips = 4215;

void mensaje(QWidget* parent, MsgIcon icon, const QString& text, const QString& title = QString()) {
    dialogs().message(parent, icon, text, MsgButtons::Ok, title);
}

} // namespace

FrmIniciarSesion::FrmIniciarSesion(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmIniciarSesion"));
    setWindowTitle(QStringLiteral("VELIRO7 - Módulo de Administración"));
    construir();
    Form_Load();
}

FrmIniciarSesion::~FrmIniciarSesion() = default;

QString FrmIniciarSesion::servidor() const {
    return TxtIpServidor->text().trimmed();
}

void FrmIniciarSesion::soltarVentana() {
    m_guardia.reset();
}

void FrmIniciarSesion::abandonar() {
    auto& s = sesion();
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        s.ConexionPrincipal->close();
    }
    soltarVentana();
    m_enLogin = false;
    QDialog::reject();
}

void FrmIniciarSesion::construir() {
    setFixedWidth(px(kAnchoTwips));
    resize(px(kAnchoTwips), px(kAlturaDisenadaTwips));

    ImgCabecera = crearImagenCabecera(this);

    // Every box of the form is watched for Enter and the key filters.
    auto caja = [this](const char* name, int left, int top, QWidget* parent) {
        auto* t = ui::caja(parent, QString::fromLatin1(name), left, top, 2800, 315);
        t->installEventFilter(this);
        return t;
    };
    ui::etiqueta(this, QString(), QStringLiteral("Usuario:"), 1095, 900, 1400, 285);
    TxtUsuario = caja("TxtUsuario", 2600, 870, this);
    ui::etiqueta(this, QString(), QStringLiteral("Password:"), 1095, 1300, 1400, 285);
    TxtPassword = caja("TxtPassword", 2600, 1270, this);
    TxtPassword->setEchoMode(QLineEdit::Password);

    picOpciones = ui::control<QFrame>(this, QStringLiteral("picOpciones"), ui::twips(1000, 1680, 5200, 740));
    ui::etiqueta(picOpciones, QString(), QStringLiteral("Ip del servidor:"), 95, 60, 1500, 285);
    TxtIpServidor = caja("TxtIpServidor", 1600, 30, picOpciones);
    ui::etiqueta(picOpciones, QString(), QStringLiteral("Puerto:"), 95, 420, 1500, 285);
    TxtPuerto = caja("TxtPuerto", 1600, 390, picOpciones);
    picOpciones->setVisible(false);

    chkOpciones = new QCheckBox(QStringLiteral("Mostrar opciones de conexion al servidor"), this);
    chkOpciones->setObjectName(QStringLiteral("chkOpciones"));
    chkOpciones->resize(px(4500), px(285));
    connect(chkOpciones, &QCheckBox::clicked, this, [this] { chkOpciones_Click(); });

    BtnAceptar = ui::boton(this, QStringLiteral("BtnAceptar"), QStringLiteral("&Aceptar"), 0, 0, 1300, 400);
    connect(BtnAceptar, &QPushButton::clicked, this, [this] { BtnAceptar_Click(); });
    BtnCancelar = ui::boton(this, QStringLiteral("BtnCancelar"), QStringLiteral("&Cancelar"), 0, 0, 1300, 400);
    connect(BtnCancelar, &QPushButton::clicked, this, [this] { BtnCancelar_Click(); });
    // Enter presses the focused button, as Space does.
    BtnAceptar->setAutoDefault(true);
    BtnCancelar->setAutoDefault(true);

    Line3 = new QFrame(this);
    Line3->setObjectName(QStringLiteral("Line3"));
    Line3->setFrameShape(QFrame::HLine);
    Label7 = new QLabel(QStringLiteral("VELIRO7 - Sistema Integral de Bibliotecas"), this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label6 = new QLabel(QStringLiteral("Módulo de Administración del servidor"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    EtActualizacion = new QLabel(this);
    EtActualizacion->setObjectName(QStringLiteral("EtActualizacion"));
    EtActualizacion->move(px(4200), px(450));
    EtActualizacion->resize(px(2000), px(255));
    aplicarDisposicion(false);
}

void FrmIniciarSesion::aplicarDisposicion(bool expandida) {
    const int d = expandida ? 720 : 0;
    Line3->setGeometry(px(1095), px(2460 + d), px(6000 - 1095), 2);
    BtnAceptar->move(px(2600), px(2010 + d));
    BtnCancelar->move(px(4100), px(2010 + d));
    Label6->move(px(1095), px(2760 + d));
    Label7->move(px(1095), px(2520 + d));
    chkOpciones->move(px(1095), px(expandida ? 2450 : 1710));
    picOpciones->move(px(1000), px(1680 + (expandida ? 0 : 0)));
}

void FrmIniciarSesion::Form_Load() {
    auto& s = sesion();
    s.EsWindows32Bits = sizeof(void*) == 4;
    m_alturaDisenada = height() * kTwipsPorPixel;
    s.VersionHerramienta = kVersionHerramienta;
    EtActualizacion->setText(s.VersionHerramienta);
    s.RutaTemporal = paths::workFolder();
    if (auto archivo = leerArchivoSesion()) {
        TxtUsuario->setText(archivo->usuario);
        TxtIpServidor->setText(archivo->servidor);
        TxtPuerto->setText(archivo->puerto);
        if (archivo->opciones != 0) {
            chkOpciones->setChecked(true);
            chkOpciones_Click();
        }
    }
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    // With the last session's user in place, what is typed next is the password.
    if (!TxtUsuario->text().isEmpty()) {
        TxtPassword->setFocus();
    }
}

void FrmIniciarSesion::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Form_Activate();
}

void FrmIniciarSesion::Form_Activate() {
    if ((TxtPuerto->text().isEmpty() || servidor().isEmpty()) && !chkOpciones->isChecked()) {
        chkOpciones->setChecked(true);
        chkOpciones_Click();
    }
}

void FrmIniciarSesion::chkOpciones_Click() {
    // The height, not the tick, selects the layout.
    if (height() * kTwipsPorPixel == m_alturaDisenada) {
        resize(width(), px(kAlturaExpandidaTwips));
        aplicarDisposicion(true);
    } else {
        resize(width(), px(m_alturaDisenada));
        aplicarDisposicion(false);
    }
    picOpciones->setVisible(chkOpciones->isChecked());
}

void FrmIniciarSesion::setTieneCatalogos(bool value) {
    m_tieneCatalogos = value;
}

bool FrmIniciarSesion::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box != nullptr && event->type() == QEvent::FocusIn) {
        SeleccionarTexto(box);
    } else if (box != nullptr && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            BtnAceptar_Click();
            return true;
        }
        if (box == TxtPuerto) {
            const QString t = key->text();
            const bool control = key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Tab ||
                                 key->key() == Qt::Key_Left || key->key() == Qt::Key_Right ||
                                 key->key() == Qt::Key_Delete || t.isEmpty();
            if (!control && !(t.size() == 1 && t.at(0).isDigit())) {
                return true; // only digits in the port box
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmIniciarSesion::BtnCancelar_Click() {
    reject();
}

void FrmIniciarSesion::reject() {
    if (m_enLogin) {
        m_cancelado = true; // seen by the login at its next step
        return;
    }
    QDialog::reject();
}

void FrmIniciarSesion::restaurarBotones() {
    BtnAceptar->setEnabled(true);
    BtnCancelar->setEnabled(true);
}

template <typename F> auto FrmIniciarSesion::esperarBloqueada(F&& trabajo) {
    GuardiaVentana::Opciones opciones;
    opciones.detenerSondeo = false;
    opciones.libre = BtnCancelar;
    GuardiaVentana guardia(this, opciones);
    return conPlazos(kPlazosInteractivos, std::forward<F>(trabajo));
}

void FrmIniciarSesion::mostrar(const AvisoInicio& aviso) {
    if (aviso.sinIcono) {
        mensaje(this, MsgIcon::None, aviso.fallo.texto, aviso.titulo);
    } else {
        mostrarFallo(this, aviso.fallo, aviso.titulo);
    }
}

void FrmIniciarSesion::BtnAceptar_Click() {
    if (m_enLogin) {
        return; // a second Enter while a login runs
    }
    // All four boxes are needed.
    if (TxtUsuario->text().isEmpty() || TxtPassword->text().isEmpty() || servidor().isEmpty() ||
        TxtPuerto->text().isEmpty()) {
        mensaje(this, MsgIcon::Critical, textoFaltanParametros());
        SeleccionarTexto(TxtUsuario);
        return;
    }
    m_enLogin = true;
    m_cancelado = false;
    // The whole window is locked while the login works; only Cancel still asks it to stop.
    GuardiaVentana::Opciones opciones;
    opciones.detenerSondeo = false;
    opciones.libre = BtnCancelar;
    m_guardia = std::make_unique<GuardiaVentana>(this, opciones);
    struct Fin {
        FrmIniciarSesion& w;
        ~Fin() {
            w.soltarVentana();
            w.m_enLogin = false;
            // A Cancel that came after the connection: the window goes unless the login succeeded.
            if (w.m_cancelado && w.m_tag.isEmpty() && w.isVisible()) {
                w.QDialog::reject();
            }
        }
    } fin{*this};
    m_contadorDriver = 0;
    try {
        if (!conectar()) {
            return;
        }
        if (m_cancelado) {
            abandonar();
            return;
        }
        continuarLogin();
    } catch (const std::exception& ex) {
        manejarFallo(db::DbError{QString(), 0, QString::fromLocal8Bit(ex.what())}, 0);
    } catch (...) {
        manejarFallo(db::DbError{QString(), 0, QString()}, 0);
    }
}

bool FrmIniciarSesion::conectar() {
    // The boxes into the session state.
    BtnAceptar->setEnabled(false);
    auto& s = sesion();
    s.UsuarioBD = TxtUsuario->text();
    s.ClaveBD = TxtPassword->text();
    s.ServidorIP = servidor();
    const auto puerto = puertoDesdeTexto(TxtPuerto->text());
    if (!puerto) {
        // A port outside 1..65535 cannot be held: the generic failure box.
        manejarFallo(db::DbError{QString(), err::kDesbordamiento, err::descripcion(err::kDesbordamiento)}, 2);
        return false;
    }
    s.PuertoBD = *puerto;
    // A connection left open by an earlier attempt.
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        s.ConexionPrincipal->close();
    }
    // The installation folder.
    const ResultadoInstalacion inst = BuscarInstalacionPostgres();
    if (!inst.ok) {
        manejarFallo(db::DbError{QString(), inst.numero, inst.descripcion}, 4);
        return false;
    }
    // The database counts as usable unless it has to be created.
    s.BaseDatosValida = true;
    // Connect, with the other driver or after creating the database when the failure says so.
    s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    for (;;) {
        if (m_cancelado) {
            abandonar();
            return false;
        }
        db::Connection& con = conexionPrincipal();
        con.setConnectionString(s.CadenaConexion);
        con.setTimeoutSeconds(kPlazoConexionSegundos);
        db::DbError e;
        if (abrirSinCongelar(con, e)) {
            return true;
        }
        if (m_cancelado) {
            abandonar();
            return false;
        }
        if (!manejarFallo(e, 6)) {
            return false;
        }
    }
}

bool FrmIniciarSesion::manejarFallo(const db::DbError& error, int linea) {
    const FalloLogin kind = clasificarFalloLogin(error, m_contadorDriver);
    auto& s = sesion();
    switch (kind) {
    case FalloLogin::ReintentarDriver:
        s.CadenaConexion = cadenaConexionAlterna(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
        return true;
    case FalloLogin::CrearBase: {
        const ResultadoCrearBase r =
            crearBaseDatos(servidor(), TxtPuerto->text(), TxtUsuario->text(), TxtPassword->text());
        if (r.ok) {
            s.BaseDatosValida = false;
            s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
            return true;
        }
        soltarVentana();
        if (!r.mensaje.isEmpty()) {
            mensaje(this, MsgIcon::Critical, r.mensaje);
        }
        break;
    }
    default:
        soltarVentana();
        mensaje(this, MsgIcon::Critical, textoFalloLogin(kind, error, TxtPuerto->text(), linea));
        if (kind == FalloLogin::ClaveIncorrecta) {
            SeleccionarTexto(TxtPassword);
        } else if (kind == FalloLogin::ErrorCatastrofico) {
            SeleccionarTexto(TxtUsuario);
        }
        break;
    }
    soltarVentana();
    BtnAceptar->setEnabled(true);
    return false;
}

void FrmIniciarSesion::continuarLogin() {
    auto& s = sesion();
    // The staff table and the user class, off the window's thread (the window is locked already).
    const DecisionAcceso d = conPlazos(kPlazosInteractivos, [] { return decidirAcceso(conexionPrincipal()); });
    switch (d.acceso) {
    case Acceso::Fallo:
        manejarFallo(d.error, d.linea);
        return;
    case Acceso::SinPermisos:
        soltarVentana();
        mensaje(this, MsgIcon::Critical, textoSinPermisos(TxtUsuario->text()));
        restaurarBotones();
        return;
    case Acceso::GrupoNoAdmitido:
        soltarVentana();
        mensaje(this, MsgIcon::Critical, textoGrupoNoAdmitido());
        restaurarBotones();
        return;
    case Acceso::Concedido:
        break;
    }
    if (d.tieneCatalogos) {
        m_tieneCatalogos = true; // never set back to false here
    }
    s.TipoUsuario = d.tipoUsuario;
    if (d.grupoSuper) {
        s.RolSesion = QStringLiteral("superusuario");
    }
    // The connection and the checks are done: messages and questions from here on.
    soltarVentana();
    // Whether the database may be used, or a restore comes first.
    if (!decidirEntrada(d.restauracion)) {
        return;
    }
    // The session state.
    const ArchivoSesion archivo = guardarSesion();
    // The buttons back.
    restaurarBotones();
    // The session file (flushed to disk, off the window's thread), then the tool's version gate, which ends
    // the program when it fails.
    const QString version = s.VersionHerramienta;
    if (const auto aviso = esperarBloqueada([archivo, version] {
            escribirArchivoSesion(archivo);
            return compuertaVersionHerramienta(version);
        })) {
        mostrar(*aviso);
        terminarPrograma(0);
        return;
    }
    // The notices: the staff table's version, the server's version and the automatic backups.
    const QString carpetaLog = paths::programFolder() + QStringLiteral("log");
    const AvisosInicio avisos =
        esperarBloqueada([carpetaLog] { return avisosDeInicio(conexionPrincipal(), carpetaLog); });
    if (!avisos.versionServidor.isEmpty()) {
        s.VersionServidor = avisos.versionServidor;
    }
    for (const AvisoInicio& aviso : avisos.avisos) {
        mostrar(aviso);
    }
    if (avisos.fallo) {
        manejarFallo(avisos.error, avisos.linea);
    }
}

bool FrmIniciarSesion::decidirEntrada(const std::optional<MarcaRestauracion>& marca) {
    auto& s = sesion();
    // A restore that did not finish (here or from any other installation) may have left a partial database
    // that looks like a working one.
    m_archivoRestauracion = marca ? marca->archivo : QString();
    const bool utilizable = s.BaseDatosValida && m_tieneCatalogos;
    if (utilizable && !marca) {
        entrar();
        return true;
    }
    const MsgResult r =
        dialogs().message(this, MsgIcon::Warning, marca ? textoRestaurarNuevamente(*marca) : textoOfrecerRestauracion(),
                          MsgButtons::YesNo);
    if (r == MsgResult::Yes && m_mostrarRestauracion) {
        m_mostrarRestauracion(*this);
    }
    m_archivoRestauracion.clear();
    if (r == MsgResult::Yes) {
        if (!m_tieneCatalogos) {
            mensaje(this, MsgIcon::Critical, textoSinCatalogos());
            terminarPrograma(0);
            return false;
        }
        entrar();
    } else if (utilizable) {
        // The administrator goes on with the database as it is; the next login asks again.
        entrar();
    }
    // No, without a usable database: the window stays open, untagged, to try again or cancel.
    return true;
}

void FrmIniciarSesion::entrar() {
    m_tag = QStringLiteral("OK");
    hide();
    if (!esDireccionLocal(servidor())) {
        mensaje(this, MsgIcon::Warning, textoDireccionNoLocal());
    }
}

ArchivoSesion FrmIniciarSesion::guardarSesion() {
    auto& s = sesion();
    s.ServidorConexion = servidor();
    s.PuertoConexion = TxtPuerto->text();
    s.UsuarioConexion = TxtUsuario->text();
    s.ClaveConexion = TxtPassword->text();
    s.UsuarioSesion = TxtUsuario->text();
    s.ClaveSesion = s.ClaveConexion;
    s.ServidorSesion = s.ServidorConexion;
    s.PuertoSesion = puertoDesdeTexto(s.PuertoConexion).value_or(0);
    // Never the password.
    return ArchivoSesion{s.UsuarioConexion, s.ServidorConexion, s.PuertoConexion, chkOpciones->isChecked() ? 1 : 0};
}

} // namespace v7
