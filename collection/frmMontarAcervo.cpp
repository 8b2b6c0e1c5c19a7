#include "collection/frmMontarAcervo.h"

#include "collection/escritura_ac8.h"
#include "collection/exportacion.h"
#include "collection/sql_asincrono.h"
#include "core/controles_ui.h"
#include "core/errores.h"
#include "core/fallos_ui.h"
#include "core/listas_ui.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>

namespace v7 {

namespace {

using err::kCrLf;
const QString kCaption = QStringLiteral("Exportar acervo para Biblioteca");
const QString kEncabezado = QStringLiteral("   Generación de archivo de exportación para Acervo de Bibliotecas");

constexpr int kGris = 8421504;
constexpr int kAzul = 8388608;
constexpr int kFondoGris = 15790320;
constexpr int kFondoBlanco = 16777215;

// A line on top of a log box (the box shows line breaks as its own).
void anteponer(QPlainTextEdit* caja, const QString& texto) {
    QString nuevo = texto;
    nuevo.replace(kCrLf, QStringLiteral("\n"));
    if (nuevo.endsWith(QLatin1Char('\n'))) {
        nuevo.chop(1);
    }
    const QString anterior = caja->toPlainText();
    caja->setPlainText(anterior.isEmpty() ? nuevo : nuevo + QLatin1Char('\n') + anterior);
}

void colorTexto(QWidget* w, int bgr) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colorDesdeBGR(bgr));
    p.setColor(QPalette::Text, colorDesdeBGR(bgr));
    w->setPalette(p);
}

void colorFondo(QWidget* w, int bgr) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colorDesdeBGR(bgr));
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

frmMontarAcervo::frmMontarAcervo(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMontarAcervo"));
    setModal(true);
    construir();
    Form_Load();
}

frmMontarAcervo::~frmMontarAcervo() = default;

void frmMontarAcervo::construir() {
    using namespace ui;
    setFixedSize(px(9900), px(9600));

    panelConfig = panel(this, QStringLiteral("panelConfig"), twips(120, 120, 9660, 4500));
    // Wide enough for the whole caption, colon included.
    Label5 = etiqueta(panelConfig, QStringLiteral("Label5"), QStringLiteral("Exportar a formato de:"), 240, 560, 2500);
    OptFormato0 = control<QRadioButton>(panelConfig, QStringLiteral("OptFormato_0"), twips(2800, 540, 1500, 330));
    OptFormato0->setText(QStringLiteral("VELIRO7"));
    OptFormato0->setChecked(true);
    OptFormato1 = control<QRadioButton>(panelConfig, QStringLiteral("OptFormato_1"), twips(4350, 540, 1500, 330));
    OptFormato1->setText(QStringLiteral("VELIRO6"));
    // The direction of the export: from this generation to the library's.
    auto flecha = [this](const QString& nombre, const QString& texto) {
        QLabel* l = etiqueta(panelConfig, nombre, texto, 6000, 460, 3300, 500);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("QLabel { border: 1px solid #00007f; border-radius: 6px; color: #00007f; "
                                        "font-weight: bold; background: #eef2fa; }"));
        return l;
    };
    picV7toV7 = flecha(QStringLiteral("picV7toV7"), QStringLiteral("VELIRO7  \u2192  VELIRO7"));
    picV7toV6 = flecha(QStringLiteral("picV7toV6"), QStringLiteral("VELIRO7  \u2192  VELIRO6"));
    picV7toV6->hide();

    Label6 =
        etiqueta(panelConfig, QStringLiteral("Label6"),
                 QStringLiteral("Los ejemplares y fichas a incluir en el archivo de exportación,"), 240, 1140, 6000);
    Label8 = etiqueta(panelConfig, QStringLiteral("Label8"), QStringLiteral("son para la:"), 240, 1530, 1200);
    cboBibliotecas = control<QComboBox>(panelConfig, QStringLiteral("cboBibliotecas"), twips(1500, 1480, 7900, 360));
    cboBibliotecas->setPlaceholderText(QStringLiteral("Seleccione la biblioteca"));

    frameFechas = control<QFrame>(panelConfig, QStringLiteral("frameFechas"), twips(240, 2000, 9180, 1060));
    Label1 = etiqueta(frameFechas, QStringLiteral("Label1"),
                      QStringLiteral("y fueron creados o modificados en el perido de fechas,"), 120, 80, 6000);
    Label2 = etiqueta(frameFechas, QStringLiteral("Label2"), QStringLiteral("desde:"), 120, 560, 700);
    dFecha1 = control<QDateEdit>(frameFechas, QStringLiteral("dFecha1"), twips(840, 500, 1900, 360));
    Label3 = etiqueta(frameFechas, QStringLiteral("Label3"), QStringLiteral("hasta:"), 3000, 560, 700);
    dFecha2 = control<QDateEdit>(frameFechas, QStringLiteral("dFecha2"), twips(3720, 500, 1900, 360));
    for (QDateEdit* d : {dFecha1, dFecha2}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    }

    frameRuta = control<QFrame>(panelConfig, QStringLiteral("frameRuta"), twips(240, 3160, 9180, 1100));
    Label4 = etiqueta(frameRuta, QStringLiteral("Label4"), QStringLiteral("Ubicación para el archivo de exportación:"),
                      120, 80, 5000);
    txtRuta = caja(frameRuta, QStringLiteral("txtRuta"), 120, 520, 8200, 360);
    cmdBrowse = boton(frameRuta, QStringLiteral("cmdBrowse"), QStringLiteral("..."), 8400, 500, 660, 400);
    // "..." says nothing to a screen reader.
    cmdBrowse->setAccessibleName(QStringLiteral("Examinar"));
    cmdBrowse->setToolTip(QStringLiteral("Elegir la carpeta del archivo de exportación"));

    Label7 = etiqueta(this, QStringLiteral("Label7"), QStringLiteral("Servidor de VELIRO7:"), 240, 4740, 2000);
    lblServerIP = etiqueta(this, QStringLiteral("lblServerIP"), QString(), 2300, 4740, 4000);

    frmProgress = control<QGroupBox>(this, QStringLiteral("frmProgress"), twips(120, 5100, 9660, 1260));
    frmProgress->setTitle(QStringLiteral("Estado actual del proceso:"));
    lblEstatusGlobal =
        etiqueta(frmProgress, QStringLiteral("lblEstatusGlobal"), QStringLiteral("Avance global:"), 240, 380, 2400);
    PBarGral = control<QProgressBar>(frmProgress, QStringLiteral("PBarGral"), twips(2700, 380, 6700, 280));
    lblEstatus =
        etiqueta(frmProgress, QStringLiteral("lblEstatus"), QStringLiteral("Avance especifico"), 240, 820, 2400);
    PBar1 = control<QProgressBar>(frmProgress, QStringLiteral("PBar1"), twips(2700, 820, 6700, 280));
    for (QProgressBar* b : {PBarGral, PBar1}) {
        b->setTextVisible(false);
        b->setRange(1, 100);
        b->setValue(1);
    }

    txtLog = control<QPlainTextEdit>(this, QStringLiteral("txtLog"), twips(120, 6480, 4700, 2340));
    txtLog->setReadOnly(true);
    frameLOG = control<QGroupBox>(this, QStringLiteral("frameLOG"), twips(4920, 6400, 4860, 2420));
    frameLOG->setTitle(QStringLiteral("Log de errores encontrados:"));
    txtERR = control<QPlainTextEdit>(frameLOG, QStringLiteral("txtERR"), twips(120, 300, 4620, 2000));
    txtERR->setReadOnly(true);
    frameLOG->hide();

    cmdCreaTablas = boton(this, QStringLiteral("cmdCreaTablas"), QStringLiteral("Exporta acervo"), 5640, 8940, 2000);
    cmdRegresar = boton(this, QStringLiteral("cmdRegresar"), QStringLiteral("&Regresar"), 7780, 8940, 2000);
    // Never shown: their handlers are the two file writers the export calls.
    creaArchivoDUMP = boton(this, QStringLiteral("creaArchivoDUMP"), QStringLiteral("Crea archivo"), 120, 8940, 1800);
    cmdArchivoDUMP_V6 =
        boton(this, QStringLiteral("cmdArchivoDUMP_V6"), QStringLiteral("Exporta a VELIRO6"), 2040, 8940, 1800);
    creaArchivoDUMP->hide();
    cmdArchivoDUMP_V6->hide();

    connect(OptFormato0, &QRadioButton::clicked, this, [this] { OptFormato_Click(0); });
    connect(OptFormato1, &QRadioButton::clicked, this, [this] { OptFormato_Click(1); });
    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdRegresar, &QPushButton::clicked, this, [this] { cmdRegresar_Click(); });
    connect(cmdCreaTablas, &QPushButton::clicked, this, [this] { cmdCreaTablas_Click(); });
    connect(creaArchivoDUMP, &QPushButton::clicked, this, [this] { creaArchivoDUMP_Click(); });
    connect(cmdArchivoDUMP_V6, &QPushButton::clicked, this, [this] { cmdArchivoDUMP_V6_Click(); });
}

void frmMontarAcervo::Form_Load() {
    auto& s = sesion();
    setWindowTitle(kCaption + QStringLiteral(" - ") + s.VersionHerramienta);
    AplicarEstiloPanelEncabezado(panelConfig, kEncabezado, true, true);
    // The enlarged caption is the header's alone: the panel's controls keep the window's font.
    QFont propia = font();
    propia.setFamily(propia.family()); // set explicitly, so the panel's font is not inherited
    propia.setPointSize(propia.pointSize());
    propia.setBold(false);
    for (QObject* o : panelConfig->children()) {
        if (auto* w = qobject_cast<QWidget*>(o)) {
            w->setFont(propia);
        }
    }
    AplicarEstiloBotones(this);
    aplicarColorFondo(this);
    for (QFrame* f : {frameFechas, frameRuta}) {
        colorFondo(f, kFondoBlanco);
    }
    conexionPrincipal();
    s.ConexionSecundaria = s.ConexionPrincipal;
    lblServerIP->setText(s.ServidorSesion);
    // The id goes with each entry: the text shows it in three digits or more.
    (void)LlenarCombo(acervo::sqlListaBibliotecas(), cboBibliotecas);
    for (int i = 0; i < cboBibliotecas->count(); ++i) {
        bool ok = false;
        const int id = cboBibliotecas->itemText(i).section(QStringLiteral(" - "), 0, 0).toInt(&ok);
        cboBibliotecas->setItemData(i, ok ? QVariant(id) : QVariant());
    }
    cboBibliotecas->setCurrentIndex(-1);
    // From the first day of this month to today.
    const QDate hoy = QDate::currentDate();
    dFecha1->setDate(QDate(hoy.year(), hoy.month(), 1));
    dFecha2->setDate(hoy);
    OptFormato_Click(0);
}

void frmMontarAcervo::OptFormato_Click(int Index) {
    const bool v7 = Index == 0;
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, Label2, Label3, Label4, txtRuta}) {
        colorTexto(w, v7 ? kAzul : kGris);
    }
    dFecha1->setEnabled(v7);
    dFecha2->setEnabled(v7);
    for (QFrame* f : {frameFechas, frameRuta}) {
        colorFondo(f, v7 ? kFondoBlanco : kFondoGris);
        f->setEnabled(v7);
    }
    picV7toV7->setVisible(v7);
    picV7toV6->setVisible(!v7);
}

void frmMontarAcervo::cmdBrowse_Click() {
    const QString carpeta = SeleccionarCarpeta(this, QStringLiteral("Indica el directorio para generar archivo de "
                                                                    "exportación"));
    if (!carpeta.isEmpty()) {
        txtRuta->setText(carpeta);
    } else {
        SeleccionarTexto(txtRuta);
    }
}

void frmMontarAcervo::cmdRegresar_Click() {
    close();
}

void frmMontarAcervo::reject() {
    // Escape while a run works must not close the window under it.
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    QDialog::reject();
}

acervo::InterfazExportacion frmMontarAcervo::interfaz() {
    acervo::InterfazExportacion ui;
    ui.sentencia = [this](const QString& sql, QString& error) {
        const bool ok = executeSQLasync(sql, PBar1, 0, errorLocal);
        error = errorLocal;
        return ok;
    };
    auto barra = [](QProgressBar* b, int valor, int maximo) {
        if (maximo > 0) {
            b->setRange(1, maximo);
        }
        b->setValue(valor);
    };
    ui.avanceGeneral = [this, barra](int valor, int maximo) { barra(PBarGral, valor, maximo); };
    ui.avanceEspecifico = [this, barra](int valor, int maximo) { barra(PBar1, valor, maximo); };
    ui.estado = [this](const QString& texto) { lblEstatus->setText(texto); };
    ui.registro = [this](const QString& linea) { anteponer(txtLog, linea); };
    // The lines stay from run to run while the window is open.
    ui.error = [this](const QString& linea) { txtERR->appendPlainText(linea); };
    ui.aviso = [this](std::optional<Gravedad> gravedad, const QString& texto, const QString& titulo) {
        dialogs().message(this, gravedad ? iconoDe(*gravedad) : MsgIcon::None, texto, MsgButtons::Ok, titulo);
    };
    return ui;
}

bool frmMontarAcervo::executeSQLasync(const QString& sql, QProgressBar* elPBar, int recordsAFectados,
                                      QString& MsgError) {
    Q_UNUSED(recordsAFectados);
    // A bar left beyond 1000 by the previous statement starts again from the bottom.
    elPBar->setMinimum(1);
    elPBar->setMaximum(1000);
    if (elPBar->value() < elPBar->minimum()) {
        elPBar->setValue(1);
    }
    const bool ok = acervo::ejecutarSentencia(sql, MsgError, [elPBar] {
        int valor = elPBar->value();
        int maximo = elPBar->maximum();
        avanzarActividad(valor, maximo);
        elPBar->setMaximum(maximo);
        elPBar->setValue(valor);
    });
    if (ok) {
        elPBar->setValue(elPBar->maximum());
    }
    return ok;
}

void frmMontarAcervo::ImprimeLog(const QString& queTabla, QPlainTextEdit* queTextBox) {
    if (const auto linea = acervo::lineaConteo(queTabla)) {
        anteponer(queTextBox, *linea);
    }
}

void frmMontarAcervo::cmdCreaTablas_Click() {
    // The checks: nothing is changed before they pass.
    bool idValido = false;
    const int id = cboBibliotecas->currentData().toInt(&idValido);
    const acervo::RechazoExportacion rechazo = acervo::revisarExportacion(
        {cboBibliotecas->currentIndex() >= 0, idValido ? std::optional<int>(id) : std::nullopt, txtRuta->text(),
         dFecha1->date(), dFecha2->date()});
    if (rechazo != acervo::RechazoExportacion::Ninguno) {
        const acervo::Aviso a = acervo::avisoRechazo(rechazo);
        dialogs().message(this, MsgIcon::Warning, a.texto, MsgButtons::Ok, a.titulo);
        QWidget* foco = rechazo == acervo::RechazoExportacion::SinCarpeta         ? static_cast<QWidget*>(txtRuta)
                        : rechazo == acervo::RechazoExportacion::FechasInvertidas ? static_cast<QWidget*>(dFecha2)
                                                                                  : cboBibliotecas;
        foco->setFocus();
        return;
    }
    nBib = id;
    cmdCreaTablas->setEnabled(false);
    // The format is read here once: the run and its writer follow this choice.
    const bool veliro6 = !OptFormato0->isChecked();
    const acervo::Seleccion sel =
        acervo::seleccion(nBib, dFecha1->date(), dFecha2->date(), veliro6, QDate::currentDate());
    sFecha1 = sel.sFecha1;
    sFecha2 = sel.sFecha2;
    if (ObtenerRutaBinPostgres().isEmpty()) {
        const acervo::Aviso a = acervo::avisoSinHerramientas(sesion().VersionServidor);
        dialogs().message(this, MsgIcon::Information, a.texto, MsgButtons::Ok, a.titulo);
        cmdCreaTablas->setEnabled(true);
        return;
    }
    txtLog->clear();
    strVersionAct = acervo::versionActual(QDateTime::currentDateTime());
    // The staging locks the whole window; each writer then locks it for its own work, with its dialogs
    // and its outcome shown on the unlocked window.
    acervo::ResultadoPreparacion r;
    {
        GuardiaVentana guardia(this);
        r = acervo::prepararExportacion(sel, strVersionAct, interfaz());
    }
    switch (r.fin) {
    case acervo::FinPreparacion::FallaEstructura:
        // The button stays off until the window is opened again.
        dialogs().message(this, MsgIcon::Warning, r.aviso, MsgButtons::Ok,
                          QStringLiteral("Exportar acervo para biblioteca"));
        return;
    case acervo::FinPreparacion::Interrumpida:
        dialogs().message(this, MsgIcon::None, r.aviso);
        break;
    case acervo::FinPreparacion::Preparada:
        if (!veliro6) {
            creaArchivoDUMP_Click();
        } else {
            cmdArchivoDUMP_V6_Click();
        }
        break;
    }
    cmdCreaTablas->setEnabled(true);
}

void frmMontarAcervo::creaArchivoDUMP_Click() {
    anteponer(txtLog, QStringLiteral("Generando archivo de respaldo 'dump' de respaldo"));
    const QString bin = ObtenerRutaBinPostgres();
    if (bin.isEmpty()) {
        return;
    }
    acervo::ResultadoArchivo r;
    {
        GuardiaVentana guardia(this);
        r = acervo::escribirVolcado(bin, txtRuta->text(), nBib, strVersionAct, interfaz());
    }
    m_archivoExportado = r.archivo;
    mostrarFallo(this, r.mensaje, r.titulo);
    if (r.ok) {
        anteponer(txtLog, QStringLiteral("Archivo de exportación 'dump' de respaldo creado exitósamente"));
    }
}

QString frmMontarAcervo::elegirArchivoAc8() {
    QString ruta =
        dialogs().saveFile(this, QStringLiteral("Indique la ubicación y nombre del archivo de exportación (ac8)"),
                           QString(), QStringLiteral("Archivos de acervo para VELIRO6 (*.ac8)"));
    if (!ruta.isEmpty() && QFileInfo(ruta).suffix().isEmpty()) {
        ruta += QStringLiteral(".ac8");
    }
    return ruta;
}

void frmMontarAcervo::cierreAc8() {
    PBarGral->setValue(1);
    PBar1->setValue(1);
    lblEstatus->clear();
    lblEstatusGlobal->clear();
}

bool frmMontarAcervo::Create_Database(const QString& strDBPath) {
    const ac8::Resultado r = acervo::crearArchivoAc8(strDBPath);
    if (!r.ok()) {
        dialogs().message(this, MsgIcon::Critical, acervo::textoFallaAc8(r));
    }
    return r.ok();
}

ac8::Resultado frmMontarAcervo::Create_TableEjemplares() {
    return dbExportacion ? acervo::definirTablaEjemplares(*dbExportacion)
                         : ac8::Resultado{err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado)};
}

ac8::Resultado frmMontarAcervo::Create_TableFichas() {
    return dbExportacion ? acervo::definirTablaFichas(*dbExportacion)
                         : ac8::Resultado{err::kObjetoCerrado, err::descripcion(err::kObjetoCerrado)};
}

bool frmMontarAcervo::GetTagsMARCV6(qint64 queIDficha, QString& strDatosFijos, QString& strTagsMARC, QString* error) {
    return acervo::etiquetasV6(queIDficha, strDatosFijos, strTagsMARC, error);
}

void frmMontarAcervo::cmdArchivoDUMP_V6_Click() {
    // The file's name comes from the save dialog alone; a folder at it is asked for again. Nothing is removed
    // here: the finished file replaces an earlier one of this program's user, and goes under a free name
    // where anything else stands (a folder still there the second time too).
    QString ruta = elegirArchivoAc8();
    if (!ruta.isEmpty() && !acervo::nombreAc8Utilizable(ruta)) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se puede reemplazar el archivo seleccionado por favor escoja un nuevo "
                                         "nombre para su archivo de exportación"),
                          MsgButtons::Ok, QStringLiteral("Selección de archivo"));
        ruta = elegirArchivoAc8();
    }
    if (ruta.isEmpty()) {
        cierreAc8();
        return;
    }
    acervo::ResultadoAc8 r;
    {
        GuardiaVentana guardia(this);
        r = acervo::escribirAc8(ruta, nBib, interfaz());
        cierreAc8();
    }
    if (!r.titulo.isEmpty()) {
        mostrarFallo(this, r.mensaje, r.titulo);
    }
    if (r.conDetalles()) {
        frameLOG->show();
    }
}

} // namespace v7
