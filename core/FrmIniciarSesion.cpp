#include "core/FrmIniciarSesion.h"

#include "core/config.h"
#include "core/controles_ui.h"
#include "core/instalacion.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/tema_ui.h"
#include "core/versiones.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/netaddr.h"
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

const QString kCrLf = QStringLiteral("\r\n");

using ui::px;

constexpr int kAnchoTwips = 6300;
constexpr int kAlturaDisenadaTwips = 3495;
constexpr int kAlturaExpandidaTwips = 4215;

void mensaje(QWidget* parent, MsgIcon icon, const QString& text, const QString& title = QString()) {
    dialogs().message(parent, icon, text, MsgButtons::Ok, title);
}

bool esDireccionLocal(const QString& servidor) {
    if (servidor == QLatin1String("127.0.0.1")) {
        return true;
    }
    return net::direccionesLocales().contains(servidor.trimmed());
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

void FrmIniciarSesion::BtnAceptar_Click() {
    if (m_enLogin) {
        return; // a second Enter while a login runs
    }
    // 1. All four boxes are needed.
    if (TxtUsuario->text().isEmpty() || TxtPassword->text().isEmpty() || servidor().isEmpty() ||
        TxtPuerto->text().isEmpty()) {
        mensaje(this, MsgIcon::Critical,
                QStringLiteral("No se puede inciar la sesión debido a que faltan parámetros de conexión. Verifique") +
                    kCrLf +
                    QStringLiteral("que la información correspondiente al Usuario, Password, Ip y Puerto no "
                                   "este vacia"));
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
        // 2. Take the boxes.
        BtnAceptar->setEnabled(false);
        auto& s = sesion();
        s.UsuarioBD = TxtUsuario->text();
        s.ClaveBD = TxtPassword->text();
        s.ServidorIP = servidor();
        events::pump();
        const auto puerto = puertoDesdeTexto(TxtPuerto->text());
        if (!puerto) {
            // A port outside 1..65535 cannot be held: the generic failure box.
            manejarFallo(db::DbError{QString(), 6, QStringLiteral("Desbordamiento")}, 2);
            return;
        }
        s.PuertoBD = *puerto;
        // 3. A connection left open by an earlier attempt.
        if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
            s.ConexionPrincipal->close();
            events::pump();
        }
        // 4. The installation folder.
        const ResultadoInstalacion inst = BuscarInstalacionPostgres();
        if (!inst.ok) {
            manejarFallo(db::DbError{QString(), inst.numero, inst.descripcion}, 4);
            return;
        }
        // 5.
        s.BaseDatosValida = true;
        // 6. Connect, with the other driver or after creating the database when the failure says so.
        s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
        for (;;) {
            if (m_cancelado) {
                abandonar();
                return;
            }
            db::Connection& con = conexionPrincipal();
            con.setConnectionString(s.CadenaConexion);
            con.setTimeoutSeconds(kPlazoConexionSegundos);
            db::DbError e;
            if (abrirSinCongelar(con, e)) {
                events::pump();
                break;
            }
            if (m_cancelado) {
                abandonar();
                return;
            }
            if (!manejarFallo(e, 6)) {
                return;
            }
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

bool FrmIniciarSesion::manejarFallo(const db::DbError& error, int linea) {
    events::pump();
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
    db::Connection& con = conexionPrincipal();
    db::DbError e;
    // 7. Is there a staff table?
    auto rs = con.query(QStringLiteral("SELECT distinct(table_schema) FROM information_schema.columns WHERE "
                                       "table_schema = 'catalogos' AND table_name = 'analistas'"),
                        e);
    if (!rs) {
        manejarFallo(e, 7);
        return;
    }
    if (rs->eof()) {
        // Not seen: missing, or hidden from a login without privileges on it (then the database is
        // there and no restore may be offered over it).
        auto existe = con.query(consultaExisteAnalistas(), e);
        if (!existe) {
            manejarFallo(e, 7);
            return;
        }
        if (!existe->eof()) {
            soltarVentana();
            mensaje(this, MsgIcon::Critical, textoSinPermisos(TxtUsuario->text()));
            con.close();
            restaurarBotones();
            return;
        }
        s.TipoUsuario = QStringLiteral("superusuario");
    } else {
        m_tieneCatalogos = true;
        rs->close();
        // 8. The user class from the login's group role.
        rs = con.query(consultaClaseUsuario(), e);
        if (!rs) {
            manejarFallo(e, 8);
            return;
        }
        const QString grupo = rs->eof() ? QString() : rs->text(QStringLiteral("groname"));
        const QString clase = claseDeGrupo(grupo);
        if (clase.isEmpty()) {
            soltarVentana();
            mensaje(this, MsgIcon::Critical,
                    QStringLiteral("Solo un usuario con permisos de Superusuario ó Administrador pueden hacer uso de "
                                   "esta funcionalidad"));
            rs->close();
            con.close();
            restaurarBotones();
            events::pump();
            return;
        }
        s.TipoUsuario = clase;
        if (grupo == QLatin1String("v7_super")) {
            s.RolSesion = QStringLiteral("superusuario");
        }
        rs->close();
    }
    // The connection and the checks are done: messages and questions from here on.
    soltarVentana();
    // 9. Database and catalogue state.
    auto avisoLocal = [this] {
        if (!esDireccionLocal(servidor())) {
            mensaje(this, MsgIcon::Warning,
                    QStringLiteral("Esta aplicación solo funciona en la PC donde se encuentra instalado el") + kCrLf +
                        QStringLiteral("servidor de VELIRO7, si se utiliza fuera de esta no tendra acceso a las") +
                        kCrLf + QStringLiteral("herramientas que lo integran."));
        }
    };
    if (s.BaseDatosValida && m_tieneCatalogos) {
        m_tag = QStringLiteral("OK");
        hide();
        avisoLocal();
    } else {
        const MsgResult r =
            dialogs().message(this, MsgIcon::Warning,
                              QStringLiteral("No se encontro la base de VELIRO7") + kCrLf +
                                  QStringLiteral("Se recomienda montar el último respaldo") + kCrLf +
                                  QString(12, QLatin1Char(' ')) + QStringLiteral("¿ Desea hacerlo ahora ?"),
                              MsgButtons::YesNo);
        if (r == MsgResult::Yes) {
            if (m_mostrarRestauracion) {
                m_mostrarRestauracion(*this);
            }
            if (!m_tieneCatalogos) {
                mensaje(this, MsgIcon::Critical,
                        QStringLiteral("No se encontraron los catalogos de la base de veliro7"));
                terminarPrograma(0);
                return;
            }
            m_tag = QStringLiteral("OK");
            hide();
            avisoLocal();
        }
    }
    // 10. Session state.
    s.ServidorConexion = servidor();
    s.PuertoConexion = TxtPuerto->text();
    s.UsuarioConexion = TxtUsuario->text();
    s.ClaveConexion = TxtPassword->text();
    s.UsuarioSesion = TxtUsuario->text();
    s.ClaveSesion = s.ClaveConexion;
    s.ServidorSesion = s.ServidorConexion;
    s.PuertoSesion = puertoDesdeTexto(s.PuertoConexion).value_or(0);
    // 11. The session file (never the password).
    escribirArchivoSesion(
        ArchivoSesion{s.UsuarioConexion, s.ServidorConexion, s.PuertoConexion, chkOpciones->isChecked() ? 1 : 0});
    // 12.
    events::pump();
    restaurarBotones();
    events::pump();
    // 13. Tool version gate.
    QString version = s.VersionHerramienta;
    QString msg;
    const QString formateada = FormatearVersion(version, msg);
    QString almacenada;
    if (!ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), formateada, msg, almacenada)) {
        if (!almacenada.isEmpty()) {
            mensaje(this, MsgIcon::Warning,
                    QStringLiteral("Se ha detectado que su Módulo de Administración no cuenta con la versión de "
                                   "actualización más reciente.") +
                        kCrLf + QStringLiteral("La última versión disponible es ") + almacenada + kCrLf + kCrLf + msg,
                    QStringLiteral("Falta actualizar Módulo"));
        } else {
            mensaje(this, MsgIcon::Warning,
                    QStringLiteral("Se ha detectado que su Módulo de Administración no coincide con la versión de "
                                   "actualización más reciente.") +
                        kCrLf + QStringLiteral("Deberá actualizar su VELIRO7 para poder continuar") + kCrLf + msg,
                    QStringLiteral("Falta actualizar Módulo"));
        }
        terminarPrograma(0);
        return;
    }
    // 14. Table version gate (a notice).
    QString msgTabla, versionTabla;
    if (!ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, msgTabla, versionTabla)) {
        mensaje(this, MsgIcon::None,
                QStringLiteral("Error de versión de tablas. Actualizar con script") + kCrLf + msgTabla);
    }
    // 15. Server version.
    int total = 0;
    QString err;
    if (auto v = ExecuteSQLrs(QStringLiteral("SELECT substring(version() FROM 1 FOR 14)"), total, err);
        v && err.isEmpty() && !v->eof()) {
        s.VersionServidor = v->text(0);
    }
    // 16. Backup notices.
    auto cfg = conexionPrincipal().query(kConsultaConfiguracion, e);
    if (!cfg) {
        manejarFallo(e, 16);
        return;
    }
    const QString configurado = ObtenerValorConfiguracion(QStringLiteral("RESPALDOCONFIG"), *cfg);
    bool respaldoConfigurado = false;
    if (configurado.isEmpty()) {
        QString falso = booleanoATexto(false);
        if (!GuardarConfiguracion(falso, QStringLiteral("RESPALDOCONFIG"))) {
            mensaje(this, MsgIcon::Critical,
                    QStringLiteral("No se logró grabar la variable de configuración RESPALDOCONFIG"));
        }
    } else {
        const QString t = configurado.trimmed().toUpper();
        respaldoConfigurado = t == QLatin1String("VERDADERO") || t == QLatin1String("TRUE");
    }
    if (!respaldoConfigurado) {
        mensaje(this, MsgIcon::Critical,
                QStringLiteral("! ! ! I M P O R T A N T E ¡ ¡ ¡") + kCrLf + kCrLf +
                    QStringLiteral("Es necesario programar los respaldos automáticos, esto permitirá contar con un "
                                   "respaldo de la información en caso de alguna contingencia en la computadora. Para "
                                   "realizar dicha configuración ") +
                    kCrLf + QStringLiteral("por favor diríjase a la opcion \"Respaldos\" "),
                QStringLiteral("IMPORTANTE: aún no se configuran los respaldos automáticos"));
    } else {
        const QString ok = ObtenerValorConfiguracion(QStringLiteral("RESPALDOOK"), *cfg);
        if (ok.isEmpty()) {
            QString verdadero = booleanoATexto(true);
            if (!GuardarConfiguracion(verdadero, QStringLiteral("RESPALDOOK"))) {
                mensaje(this, MsgIcon::Critical,
                        QStringLiteral("No se logró grabar la variable de configuración RESPALDOOK"));
            }
        } else {
            const QString t = ok.toUpper(); // not trimmed: " true" reads as false
            if (!(t == QLatin1String("VERDADERO") || t == QLatin1String("TRUE"))) {
                mensaje(this, MsgIcon::Critical,
                        QStringLiteral("Se ha detectado que no se estan realizando los respaldos automáticos, esto "
                                       "puede ser por alguna de las siguientes razones:") +
                            kCrLf +
                            QStringLiteral("- La pc se encuentra apagada a la hora en la cual se programó el "
                                           "respaldo ") +
                            kCrLf +
                            QStringLiteral("- Se eliminó la tarea del programador de tareas de Windows o marco algún "
                                           "conflicto") +
                            kCrLf + kCrLf +
                            QStringLiteral("Este último punto se puede conocer a través de un archivo log que se "
                                           "genera en el servidor en la siguiente ubicación: ") +
                            paths::programFolder() +
                            QStringLiteral("log, es necesario localizar dicha carpeta y posteriormente abrir el "
                                           "archivo más reciente, ahi deberá indicar la causa por la cual no se "
                                           "generó el respaldo"));
            }
        }
    }
    cfg->close();
}

} // namespace v7
