#include "maintenance/FrmProgTareas.h"

#include "core/config.h"
#include "core/errores.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/tema_ui.h"
#include "maintenance/programacion.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimeEdit>

namespace v7 {

namespace {

const QString kSiguiente = QStringLiteral("Sigui&ente >");
const QString kFinalizar = QStringLiteral("Finalizar");
const QString kFiltroRespaldo = QStringLiteral("Archivos de Respaldo (*.zip);;Todos los archivos (*)");
// The scheduler that runs the task, where the messages once named Windows.
const QString kProgramador = QStringLiteral("El programador de tareas del sistema");

const char* const kNombresCasilla[7] = {"ChkLunes",   "ChkMartes", "ChkMiercoles", "ChkJueves",
                                        "ChkViernes", "ChkSabado", "ChkDomingo"};
const char* const kNombresEtiqueta[7] = {"EtLunes",   "EtMartes", "EtMiercoles", "EtJueves",
                                         "EtViernes", "EtSabado", "EtDomingo"};
const char* const kDias[7] = {"Lunes", "Martes", "Miércoles", "Jueves", "Viernes", "Sábado", "Domingo"};
const char* const kDiasLista[7] = {"Lunes", "Martes", "Miercoles", "Jueves", "Viernes", "Sábado", "Domingo"};

// A button whose caption is beside it (or is only "..."): the name a screen reader says and the tooltip.
void nombrar(QWidget* boton, const QString& nombre, const QString& ayuda = QString()) {
    boton->setAccessibleName(nombre);
    boton->setToolTip(ayuda.isEmpty() ? nombre : ayuda);
}

// A schedule flag of the configuration table, stored off the windows' thread with the interactive limits.
bool guardarBandera(const QString& clave, bool valor) {
    return conPlazos(kPlazosInteractivos, [&] {
        QString texto = booleanoATexto(valor);
        return GuardarConfiguracion(texto, clave);
    });
}

QTimeEdit* selectorHora(QWidget* parent, const QString& name, const QRect& rect) {
    auto* t = ui::control<QTimeEdit>(parent, name, rect);
    t->setDisplayFormat(QStringLiteral("HH:mm"));
    t->setTime(QTime(8, 0));
    return t;
}

} // namespace

FrmProgTareas::FrmProgTareas(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmProgTareas"));
    setWindowTitle(QStringLiteral("Configuración del respaldo"));
    setModal(true);
    construir();
    Form_Load();
}

FrmProgTareas::~FrmProgTareas() = default;

void FrmProgTareas::construir() {
    using namespace ui;
    setFixedSize(px(7500), px(6600));

    ImgCabecera = crearImagenCabecera(this);

    // The wizard.
    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 6780, 5200));
    const QRect lugarPaso = twips(120, 120, 6540, 4200);

    Panel1 = panel(PanelCentral, QStringLiteral("Panel1"), lugarPaso);
    etiqueta(Panel1, QStringLiteral("EtRealizar"), QStringLiteral("Realizar respaldo:"), 360, 700, 3000);
    auto opcion = [this](const QString& name, const QString& labelName, const QString& caption, int top,
                         QLabel*& label) {
        auto* o = control<QRadioButton>(Panel1, name, twips(720, top, 300, 300));
        label = etiqueta(Panel1, labelName, caption, 1080, top, 2400);
        enlazarEtiqueta(label, o);
        nombrar(o, caption);
        return o;
    };
    OptDiario =
        opcion(QStringLiteral("OptDiario"), QStringLiteral("EtDiario"), QStringLiteral("Diariamente"), 1200, EtDiario);
    OptSemanal = opcion(QStringLiteral("OptSemanal"), QStringLiteral("EtSemanal"), QStringLiteral("Semanalmente"), 1650,
                        EtSemanal);
    OptMensual = opcion(QStringLiteral("OptMensual"), QStringLiteral("EtMensual"), QStringLiteral("Mensualmente"), 2100,
                        EtMensual);
    OptDiario->setChecked(true);

    Panel2 = panel(PanelCentral, QStringLiteral("Panel2"), lugarPaso);
    etiqueta(Panel2, QStringLiteral("EtDiaMes"),
             QStringLiteral("Seleccione el día del mes en el que se efectuará el respaldo"), 360, 700, 6000);
    CmbDiaMes = control<QComboBox>(Panel2, QStringLiteral("CmbDiaMes"), twips(360, 1100, 1200, 330));
    etiqueta(Panel2, QStringLiteral("EtHoraMensual"), QStringLiteral("Hora de inicio:"), 360, 1800, 2400);
    DtpMensual = selectorHora(Panel2, QStringLiteral("DtpMensual"), twips(360, 2150, 1500, 330));

    Panel3 = panel(PanelCentral, QStringLiteral("Panel3"), lugarPaso);
    etiqueta(Panel3, QStringLiteral("EtDiasSemana"), QStringLiteral("Seleccione el día o los días de la semana: "), 360,
             700, 6000);
    for (int i = 0; i < 7; ++i) {
        const int left = i < 4 ? 480 : 2400;
        const int top = 1100 + (i % 4) * 400;
        Casillas[i] = casilla(Panel3, QString::fromLatin1(kNombresCasilla[i]), QString(), twips(left, top, 300, 300));
        EtiquetasDia[i] = etiqueta(Panel3, QString::fromLatin1(kNombresEtiqueta[i]), QString::fromUtf8(kDias[i]),
                                   left + 360, top, 1400);
        enlazarEtiqueta(EtiquetasDia[i], Casillas[i]);
        nombrar(Casillas[i], QString::fromUtf8(kDias[i]));
    }
    CmbDias = control<QComboBox>(Panel3, QStringLiteral("CmbDias"), twips(480, 1100, 2400, 330));
    for (const char* dia : kDiasLista) {
        CmbDias->addItem(QString::fromUtf8(dia));
    }
    CmbDias->hide();
    etiqueta(Panel3, QStringLiteral("EtHoraDiario"), QStringLiteral("Hora de inicio:"), 4440, 1100, 1900);
    DtpDiario = selectorHora(Panel3, QStringLiteral("DtpDiario"), twips(4440, 1450, 1500, 330));

    Panel4 = panel(PanelCentral, QStringLiteral("Panel4"), lugarPaso);
    etiqueta(Panel4, QStringLiteral("EtInstrucciones"),
             QStringLiteral("Proporcione la ubicación (ruta) en la cual se va a generar el respaldo. Así como también "
                            "la dirección IP y el puerto del servidor donde se encuentra la base de datos. Se "
                            "recomienda que no sean rutas de red."),
             240, 560, 6060, 1000, true);
    etiqueta(Panel4, QStringLiteral("EtRuta"), QStringLiteral("Ruta del respaldo:"), 240, 1650, 3000);
    TxtRutaRespaldo = caja(Panel4, QStringLiteral("TxtRutaRespaldo"), 240, 1950, 5400);
    BtnExaminar = boton(Panel4, QStringLiteral("BtnExaminar"), QStringLiteral("..."), 5700, 1950, 600, 330);
    nombrar(BtnExaminar, QStringLiteral("Examinar"), QStringLiteral("Elegir el archivo del respaldo"));
    etiqueta(Panel4, QStringLiteral("EtIP"), QStringLiteral("Dirección IP:"), 240, 2450, 2400);
    TxtIP = caja(Panel4, QStringLiteral("TxtIP"), 240, 2750, 2400);
    etiqueta(Panel4, QStringLiteral("EtPuerto"), QStringLiteral("Puerto:"), 2880, 2450, 1500);
    TxtPuerto = caja(Panel4, QStringLiteral("TxtPuerto"), 2880, 2750, 1200);
    // Typed or pasted, the boxes take only what their key filters let through.
    TxtIP->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9.]*")), TxtIP));
    TxtPuerto->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), TxtPuerto));
    TxtIP->installEventFilter(this);
    TxtPuerto->installEventFilter(this);
    // This system's scheduler needs no operating-system password: the box is never shown.
    lblWinUser = etiqueta(Panel4, QStringLiteral("lblWinUser"), QStringLiteral("Contraseña del  usuario de Windows: "),
                          240, 3250, 6000);
    TxtWinPass = caja(Panel4, QStringLiteral("TxtWinPass"), 240, 3550, 2400);
    TxtWinPass->setEchoMode(QLineEdit::Password);
    lblWinUser->hide();
    TxtWinPass->hide();

    Panel5 = panel(PanelCentral, QStringLiteral("Panel5"), lugarPaso);
    etiqueta(Panel5, QStringLiteral("EtProgramado"),
             QStringLiteral("Ha programado correctamente la tarea de respaldo automático."), 240, 600, 6060);
    EtDiasTarea = etiqueta(Panel5, QStringLiteral("EtDiasTarea"), QString(), 240, 1050, 6060, 2000, true);
    EtDiasTarea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    EtRutaRespaldo = etiqueta(Panel5, QStringLiteral("EtRutaRespaldo"), QString(), 240, 3150, 6060, 900, true);
    EtRutaRespaldo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    BtnSalir = boton(PanelCentral, QStringLiteral("BtnSalir"), QStringLiteral("&Salir"), 120, 4560, 1500);
    BtnAnterior = boton(PanelCentral, QStringLiteral("BtnAnterior"), QStringLiteral("< &Anterior"), 3420, 4560, 1500);
    BtnAnterior->setEnabled(false);
    BtnSiguiente = boton(PanelCentral, QStringLiteral("BtnSiguiente"), kSiguiente, 5040, 4560, 1500);

    // The current schedule, in the wizard's place when there is one.
    PanelTareaActual = panel(this, QStringLiteral("PanelTareaActual"), twips(360, 1000, 6780, 5200));
    EtLog = etiqueta(PanelTareaActual, QStringLiteral("EtLog"),
                     QStringLiteral("Aqui se muestra la información relacionada al respaldo previamente "
                                    "programado...."),
                     240, 360, 6300, 4000, true);
    EtLog->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BtnEliminarRespaldo = boton(PanelTareaActual, QStringLiteral("BtnEliminarRespaldo"),
                                QStringLiteral("&Eliminar programación"), 240, 4560, 2700);
    BtnSalirActual = boton(PanelTareaActual, QStringLiteral("BtnSalir"), QStringLiteral("&Salir"), 4800, 4560, 1800);
    PanelTareaActual->hide();

    connect(BtnSiguiente, &QPushButton::clicked, this, [this] { BtnSiguiente_Click(); });
    connect(BtnAnterior, &QPushButton::clicked, this, [this] { BtnAnterior_Click(); });
    connect(BtnExaminar, &QPushButton::clicked, this, [this] { BtnExaminar_Click(); });
    connect(BtnEliminarRespaldo, &QPushButton::clicked, this, [this] { BtnEliminarRespaldo_Click(); });
    connect(BtnSalir, &QPushButton::clicked, this, [this] { SalirAsistente(); });
    connect(BtnSalirActual, &QPushButton::clicked, this, [this] { SalirAsistente(); });
}

void FrmProgTareas::Form_Load() {
    lblWinUser->setText(lblWinUser->text() + paths::loginName());
    AplicarEstiloPanel(PanelCentral);
    const QString captions[5] = {QStringLiteral("Paso 1 de 4"), QStringLiteral("Paso 2 de 4"),
                                 QStringLiteral("Paso 2 de 4"), QStringLiteral("Paso 3 de 4"),
                                 QStringLiteral("Paso 4 de 4")};
    MyFrame* pasos[5] = {Panel1, Panel2, Panel3, Panel4, Panel5};
    for (int i = 0; i < 5; ++i) {
        AplicarEstiloPanelEncabezado(pasos[i], captions[i], false, false);
    }
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    // The server and port of the session, where the box can hold them (an address of digits and dots).
    const auto& s = sesion();
    static const QRegularExpression direccion(QStringLiteral("^[0-9.]+$"));
    if (direccion.match(s.ServidorIP).hasMatch()) {
        TxtIP->setText(s.ServidorIP);
    }
    if (s.PuertoBD > 0) {
        TxtPuerto->setText(QString::number(s.PuertoBD));
    }
    // The days of the month; the wizard starts at its first step.
    for (int dia = 1; dia <= 31; ++dia) {
        CmbDiaMes->addItem(QString::number(dia));
    }
    CmbDiaMes->setCurrentIndex(0);
    PasoAsistente = 1;
    alFrente(Panel1);
    // A backup already scheduled is shown with its details.
    if (const auto lineas = leerDescripcionRespaldo()) {
        AplicarEstiloPanel(PanelTareaActual);
        QString texto = QStringLiteral("Actualmente ya se encuentra activado un respaldo automático, a continuación se "
                                       "muestran los detalles:") +
                        err::kCrLf + err::kCrLf;
        for (const QString& l : *lineas) {
            texto += l + err::kCrLf;
        }
        EtLog->setText(texto);
        PanelCentral->hide();
        PanelTareaActual->show();
        PanelTareaActual->raise();
        // Enter on opening only closes the window: the removal is a click (and a question) away.
        BtnSalirActual->setFocus();
    }
}

void FrmProgTareas::alFrente(MyFrame* paso) {
    // Only the step in front is shown, so the keyboard never reaches a control of a step behind it.
    for (MyFrame* p : {Panel1, Panel2, Panel3, Panel4, Panel5}) {
        p->setVisible(p == paso);
    }
    paso->raise();
}

void FrmProgTareas::mostrarCasillas(bool visibles) {
    for (int i = 0; i < 7; ++i) {
        Casillas[i]->setVisible(visibles);
        EtiquetasDia[i]->setVisible(visibles);
    }
    CmbDias->setVisible(!visibles);
}

void FrmProgTareas::BtnSiguiente_Click() {
    switch (PasoAsistente) {
    case 1:
        if (OptMensual->isChecked()) {
            alFrente(Panel2);
            PasoAsistente = 22;
        } else {
            alFrente(Panel3);
            if (OptDiario->isChecked()) {
                mostrarCasillas(true);
                for (QCheckBox* c : Casillas) {
                    c->setChecked(true);
                }
            } else {
                mostrarCasillas(false);
                CmbDias->setCurrentIndex(0);
            }
            PasoAsistente = 21;
        }
        BtnAnterior->setEnabled(true);
        break;
    case 21:
        DiasTarea.clear();
        if (OptDiario->isChecked()) {
            QStringList codigos;
            for (int i = 0; i < 7; ++i) {
                if (Casillas[i]->isChecked()) {
                    codigos << kCodigosDia[i];
                }
            }
            if (codigos.isEmpty()) {
                dialogs().message(this, MsgIcon::Critical, QStringLiteral("Debe seleccionar almenos un dia"));
                Casillas[0]->setFocus();
                return;
            }
            DiasTarea = codigos.join(QLatin1Char(','));
        } else {
            DiasTarea = kCodigosDia.value(CmbDias->currentIndex());
        }
        alFrente(Panel4);
        PasoAsistente = 3;
        break;
    case 22:
        DiasTarea = CmbDiaMes->currentText();
        alFrente(Panel4);
        PasoAsistente = 3;
        break;
    case 3:
        if (!verificarPaso3()) {
            return;
        }
        alFrente(Panel5);
        resumir();
        BtnSiguiente->setText(kFinalizar);
        PasoAsistente = 4;
        break;
    case 4:
        programar();
        break;
    default:
        break;
    }
}

bool FrmProgTareas::verificarPaso3() {
    auto rechazar = [this](const QString& texto, QWidget* campo) {
        dialogs().message(this, MsgIcon::Critical, texto);
        if (campo != nullptr) {
            campo->setFocus();
        }
        return false;
    };
    if (TxtRutaRespaldo->text().isEmpty()) {
        return rechazar(QStringLiteral("Proporcione la ruta del respaldo"), TxtRutaRespaldo);
    }
    if (TxtIP->text().isEmpty()) {
        return rechazar(QStringLiteral("Proporcione la dirección IP del servidor"), TxtIP);
    }
    if (TxtPuerto->text().isEmpty()) {
        return rechazar(QStringLiteral("Proporcione el puerto de conexión con el servidor"), TxtPuerto);
    }
    const std::optional<int> puerto = puertoDesdeTexto(TxtPuerto->text());
    if (!puerto) {
        return rechazar(QStringLiteral("El puerto debe ser un número entre 1 y 65535"), TxtPuerto);
    }
    // The settings file cannot hold every character: refused before anything is written.
    if (const QString motivo = motivoCredencialesRespaldo(); !motivo.isEmpty()) {
        return rechazar(motivo, nullptr);
    }
    // The schedule is only as good as the server it names: the typed server and port are tried now
    // with the session's login, as V7backup will use them every night.
    GuardiaVentana guardia(this);
    const QString error = probarConexionRespaldo(TxtIP->text(), *puerto);
    guardia.liberar();
    if (!error.isEmpty()) {
        return rechazar(QStringLiteral("No se pudo establecer una conexión al servidor, verifique la información "
                                       "proporcionada e inténtelo nuevamente"),
                        nullptr);
    }
    return true;
}

void FrmProgTareas::resumir() {
    QString dias;
    if (OptDiario->isChecked()) {
        dias = kProgramador + QStringLiteral(" realizará esta tarea los dias ");
        for (int i = 0; i < 7; ++i) {
            if (Casillas[i]->isChecked()) {
                dias += err::kCrLf + QStringLiteral("- ") + QString::fromUtf8(kDias[i]);
            }
        }
        dias += err::kCrLf + QStringLiteral("a las ") + DtpDiario->time().toString(QStringLiteral("HH:mm"));
    } else if (OptSemanal->isChecked()) {
        dias = kProgramador + QStringLiteral(" realizará esta tarea cada semana el día ") + CmbDias->currentText() +
               QStringLiteral(" a las ") + DtpDiario->time().toString(QStringLiteral("HH:mm"));
    } else {
        dias = kProgramador + QStringLiteral(" realizará esta tarea cada mes el día ") + CmbDiaMes->currentText() +
               QStringLiteral(" a las ") + DtpMensual->time().toString(QStringLiteral("HH:mm"));
    }
    EtDiasTarea->setText(dias);
    // The name V7backup gives each day's archive, not the one typed.
    const QString ruta = TxtRutaRespaldo->text();
    const QString archivo = archivoDelRespaldo(ruta);
    EtRutaRespaldo->setText(
        QStringLiteral("El respaldo se generará en la siguiente ubicación: ") + archivo +
        (archivo == ruta ? QString() : err::kCrLf + QStringLiteral("(AAAAMMDD: el año, mes y día de cada respaldo)")));
}

void FrmProgTareas::programar() {
    BtnSiguiente->setEnabled(false);
    ProgramaRespaldo programa;
    programa.frecuencia = OptMensual->isChecked()   ? FrecuenciaRespaldo::Mensual
                          : OptSemanal->isChecked() ? FrecuenciaRespaldo::Semanal
                                                    : FrecuenciaRespaldo::Diaria;
    programa.dias = DiasTarea;
    programa.hora = (OptMensual->isChecked() ? DtpMensual : DtpDiario)->time();

    // The task, then the file the unattended backup reads.
    GuardiaVentana guardia(this);
    const QString r = AgregarTareaVista(programa);
    if (!r.isEmpty()) {
        guardia.liberar();
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se logró configurar el respaldo automático.") + err::kCrLf +
                              QStringLiteral("Por favor, inténtelo nuevamente") + err::kCrLf + r);
        return;
    }
    const bool grabado = GrabarConfiguracionRespaldo(TxtIP->text(), TxtPuerto->text(), TxtRutaRespaldo->text());
    guardia.liberar();
    if (!grabado) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("La tarea no ha sido grabada correctamente, no se logró crear") + err::kCrLf +
                              QStringLiteral("el archivo de configuración. Por favor, inténtelo nuevamente."));
        return;
    }
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("El respaldo automático ha sido programado correctamente"));
    BtnSiguiente->setEnabled(false);
    BtnAnterior->setEnabled(false);

    // The summary the window shows next time.
    const QString descripcion = grabarDescripcionRespaldo({EtDiasTarea->text(), EtRutaRespaldo->text()});
    if (!descripcion.isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, descripcion);
    }
    // The two rows are written while this window is still there and locked: once it is gone, its
    // caller's windows would take clicks during the wait.
    int noGuardadas = 0;
    {
        GuardiaVentana escritura(this);
        for (const char* clave : {"RESPALDOCONFIG", "RESPALDOOK"}) {
            noGuardadas += guardarBandera(QString::fromLatin1(clave), true) ? 0 : 1;
        }
    }
    accept();
    for (int i = 0; i < noGuardadas; ++i) {
        dialogs().message(parentWidget(), MsgIcon::Critical,
                          QStringLiteral("No se agregó la variable de configuración del respaldo, por favor "
                                         "reintente nuevamente"));
    }
}

void FrmProgTareas::BtnAnterior_Click() {
    BtnSiguiente->setEnabled(true);
    switch (PasoAsistente) {
    case 4:
        alFrente(Panel4);
        PasoAsistente = 3;
        if (BtnSiguiente->text() == kFinalizar) {
            BtnSiguiente->setText(kSiguiente);
        }
        break;
    case 3:
        if (OptMensual->isChecked()) {
            alFrente(Panel2);
            PasoAsistente = 22;
        } else {
            alFrente(Panel3);
            PasoAsistente = 21;
        }
        break;
    case 21:
    case 22:
        alFrente(Panel1);
        BtnAnterior->setEnabled(false);
        PasoAsistente = 1;
        break;
    default:
        break;
    }
}

void FrmProgTareas::BtnExaminar_Click() {
    // A cancelled dialog leaves the box as it was.
    const QString elegido = dialogs().saveFile(this, QString(), m_nombreCd, kFiltroRespaldo);
    if (!elegido.isEmpty()) {
        m_nombreCd = elegido;
        TxtRutaRespaldo->setText(elegido);
    }
}

void FrmProgTareas::BtnEliminarRespaldo_Click() {
    // Nothing brings a removed schedule back but the wizard: Enter answers No.
    const QString pregunta =
        QStringLiteral("Se eliminará la programación del respaldo automático: no se harán más respaldos "
                       "automáticos hasta que la programe de nuevo.") +
        err::kCrLf + err::kCrLf + QStringLiteral("¿ Desea eliminar la programación ?");
    if (dialogs().message(this, MsgIcon::Question, pregunta, MsgButtons::YesNo, QStringLiteral("Eliminar programación"),
                          MsgResult::No) != MsgResult::Yes) {
        return;
    }
    // It stays disabled for the rest of the window's life.
    BtnEliminarRespaldo->setEnabled(false);
    GuardiaVentana guardia(this);
    const ResultadoEliminacion r = eliminarProgramacion();
    const bool bandera = r.tareaEliminada && guardarBandera(QStringLiteral("RESPALDOCONFIG"), false);
    guardia.liberar();
    if (!r.tareaEliminada) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("No se logró eliminar la tarea automáticamente, por favor,") + err::kCrLf +
                              QStringLiteral("eliminela manualmente desde el programador de tareas ") + err::kCrLf +
                              QStringLiteral("del sistema, posteriormente elimine la carpeta \"config\" que") +
                              err::kCrLf + QStringLiteral("se encuentra en la carpeta de instalación de VELIRO7.") +
                              err::kCrLf + err::kCrLf + r.error);
        return;
    }
    // The task is gone: the wizard comes to view.
    PanelTareaActual->hide();
    PanelCentral->show();
    if (!r.error.isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, r.error);
    }
    if (bandera) {
        dialogs().message(this, MsgIcon::Information,
                          QStringLiteral("La programación del respaldo ha sido eliminada correctamente"));
    } else {
        dialogs().message(this, MsgIcon::Information,
                          QStringLiteral("La programación del respaldo ha sido eliminada correctamente, sin embargo, "
                                         "la variable de configuración que indica que el respaldo se encuentra "
                                         "activo/inactivo no fue eliminada"));
    }
}

void FrmProgTareas::SalirAsistente() {
    close();
}

void FrmProgTareas::reject() {
    // Escape while an operation runs must not close the window under it.
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    QDialog::reject();
}

bool FrmProgTareas::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == TxtIP || watched == TxtPuerto)) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            BtnSiguiente_Click();
            return true;
        }
        const QString texto = k->text();
        if (!texto.isEmpty() && texto.at(0).isPrint()) {
            const QChar c = texto.at(0);
            const bool admitido = (c >= u'0' && c <= u'9') || (watched == TxtIP && c == u'.');
            return !admitido;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace v7
