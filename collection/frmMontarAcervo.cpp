#include "collection/frmMontarAcervo.h"

#include "collection/exportacion.h"
#include "collection/sql_asincrono.h"
#include "collection/volcado.h"
#include "core/controles_ui.h"
#include "core/listas_ui.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
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

const QString kCrLf = QStringLiteral("\r\n");
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

QString horaLog() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
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
    Label5 = etiqueta(panelConfig, QStringLiteral("Label5"), QStringLiteral("Exportar a formato de:"), 240, 560, 2000);
    OptFormato0 = control<QRadioButton>(panelConfig, QStringLiteral("OptFormato_0"), twips(2300, 540, 1500, 330));
    OptFormato0->setText(QStringLiteral("VELIRO7"));
    OptFormato0->setChecked(true);
    OptFormato1 = control<QRadioButton>(panelConfig, QStringLiteral("OptFormato_1"), twips(3900, 540, 1500, 330));
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
    // 1.
    setWindowTitle(kCaption + QStringLiteral(" - ") + s.VersionHerramienta);
    // 2.
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
    // 3.
    conexionPrincipal();
    s.ConexionSecundaria = s.ConexionPrincipal;
    // 4.
    lblServerIP->setText(s.ServidorSesion);
    // 5. The id goes with each entry: the text shows it in three digits or more.
    (void)LlenarCombo(QStringLiteral("SELECT idbiblioteca,nombre FROM catalogos.bibliotecas ORDER BY idbiblioteca"),
                      cboBibliotecas);
    for (int i = 0; i < cboBibliotecas->count(); ++i) {
        bool ok = false;
        const int id = cboBibliotecas->itemText(i).section(QStringLiteral(" - "), 0, 0).toInt(&ok);
        cboBibliotecas->setItemData(i, ok ? QVariant(id) : QVariant());
    }
    cboBibliotecas->setCurrentIndex(-1);
    // 6.
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

bool frmMontarAcervo::executeSQLasync(const QString& sql, QProgressBar* elPBar, int recordsAFectados,
                                      QString& MsgError) {
    Q_UNUSED(recordsAFectados);
    // A bar left beyond 1000 by the previous statement starts again from the bottom.
    elPBar->setMinimum(1);
    elPBar->setMaximum(1000);
    if (elPBar->value() < elPBar->minimum()) {
        elPBar->setValue(1);
    }
    auto& s = sesion();
    if (s.CadenaConexion.isEmpty()) {
        s.CadenaConexion = conexionPrincipal().connectionString();
    }
    const ResultadoAsincrono r = ejecutarAsincrono(s.CadenaConexion, sql, [elPBar] {
        int valor = elPBar->value();
        int maximo = elPBar->maximum();
        avanzarActividad(valor, maximo);
        elPBar->setMaximum(maximo);
        elPBar->setValue(valor);
    });
    if (!r.ok) {
        MsgError = r.errores;
        return false;
    }
    elPBar->setValue(elPBar->maximum());
    return true;
}

void frmMontarAcervo::ImprimeLog(const QString& queTabla, QPlainTextEdit* queTextBox) {
    if (queTabla.isEmpty()) {
        return;
    }
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT count(*) as Cant FROM ") + queTabla, total, error);
    if (!rs) {
        anteponer(queTextBox, error + kCrLf);
        return;
    }
    const QString cuenta = rs->eof() ? QStringLiteral("0") : rs->text(0);
    const QString etiqueta = acervo::etiquetaConteo(queTabla);
    if (!etiqueta.isEmpty()) {
        anteponer(queTextBox, etiqueta + cuenta + kCrLf);
    }
}

void frmMontarAcervo::cmdCreaTablas_Click() {
    // 1. Checks, nothing changed before they pass.
    auto rechazar = [this](const QString& titulo, const QString& texto, QWidget* foco) {
        dialogs().message(this, MsgIcon::Warning, texto, MsgButtons::Ok, titulo);
        foco->setFocus();
    };
    if (cboBibliotecas->currentIndex() < 0) {
        rechazar(QStringLiteral("Falta la biblioteca"),
                 QStringLiteral("Debe seleccionar una biblioteca para la cual desea generar el archivo de "
                                "actualización del acervo"),
                 cboBibliotecas);
        return;
    }
    bool idValido = false;
    const int id = cboBibliotecas->currentData().toInt(&idValido);
    if (!idValido || id < 1) {
        rechazar(QStringLiteral("Error en ID de Biblioteca"),
                 QStringLiteral("El valor de la Biblioteca seleccionada no es válido"), cboBibliotecas);
        return;
    }
    if (txtRuta->text().isEmpty() || !QFileInfo(txtRuta->text()).isDir()) {
        rechazar(QStringLiteral("No existe la carpeta destino"),
                 QStringLiteral("No se ha localizado la carpeta que se ha indicado como destino para el archivo de "
                                "exportación.") +
                     kCrLf + QStringLiteral("Por favor cerciórese de que la carpeta seleccionada existe."),
                 txtRuta);
        return;
    }
    if (dFecha2->date() < dFecha1->date()) {
        rechazar(QStringLiteral("Error en rango de fechas"),
                 QStringLiteral("El rango de fechas indicado no es apropiado,") + kCrLf +
                     QStringLiteral("Verifique que la segunda fecha sea mayor que la primera."),
                 dFecha2);
        return;
    }
    nBib = id;
    // 2.
    cmdCreaTablas->setEnabled(false);
    // 3. The format is read here once: the run and its writer follow this choice.
    const bool veliro6 = !OptFormato0->isChecked();
    const acervo::Seleccion sel =
        acervo::seleccion(nBib, dFecha1->date(), dFecha2->date(), veliro6, QDate::currentDate());
    sFecha1 = sel.sFecha1;
    sFecha2 = sel.sFecha2;
    // 4.
    if (ObtenerRutaBinPostgres().isEmpty()) {
        dialogs().message(this, MsgIcon::Information,
                          QStringLiteral("La versión de postrgreSQL local, no es compatible con") + kCrLf +
                              QStringLiteral("la versión instalada en el servidor.") + kCrLf + kCrLf +
                              QStringLiteral("Instale localmente la versión ") + sesion().VersionServidor,
                          MsgButtons::Ok, QStringLiteral("Error de compatibilidad de la base de datos"));
        cmdCreaTablas->setEnabled(true);
        return;
    }
    // The staging locks the whole window; each writer then locks it for its own work, with its dialogs
    // and its outcome shown on the unlocked window.
    QString aviso;
    FinCorrida fin = FinCorrida::Interrumpida;
    {
        GuardiaVentana guardia(this);
        fin = exportar(veliro6, aviso);
    }
    switch (fin) {
    case FinCorrida::FallaEstructura:
        // The button stays off until the window is opened again.
        dialogs().message(this, MsgIcon::Warning, aviso, MsgButtons::Ok,
                          QStringLiteral("Exportar acervo para biblioteca"));
        return;
    case FinCorrida::Interrumpida:
        dialogs().message(this, MsgIcon::None, aviso);
        break;
    case FinCorrida::Preparada:
        if (!veliro6) {
            creaArchivoDUMP_Click();
        } else {
            cmdArchivoDUMP_V6_Click();
        }
        break;
    }
    cmdCreaTablas->setEnabled(true);
}

frmMontarAcervo::FinCorrida frmMontarAcervo::exportar(bool veliro6, QString& aviso) {
    const acervo::Seleccion sel{nBib, sFecha1, sFecha2, veliro6};
    auto correr = [this](const QString& sql) { return executeSQLasync(sql, PBar1, 0, errorLocal); };

    // 5.
    txtLog->clear();
    strVersionAct = acervo::versionActual(QDateTime::currentDateTime());
    PBarGral->setRange(1, 16);
    PBarGral->setValue(1);

    bool exito = true;
    QString errores;
    auto paso = [&](const QString& codigo, bool resultado, const QString& tablaConteo) {
        exito = exito && resultado;
        if (!resultado) {
            errores += codigo + kCrLf + errorLocal;
        }
        lblEstatus->setText(codigo);
        PBarGral->setValue(PBarGral->value() + 1);
        ImprimeLog(tablaConteo, txtLog);
    };

    // 6. The stamp.
    exito = correr(acervo::sqlEstampa(strVersionAct));

    // 7. [01] The records, their analytic records and the marker record.
    bool r01 = correr(acervo::sqlFichas(sel));
    if (r01 && !veliro6) {
        r01 = correr(acervo::sqlAnaliticas(nBib));
    }
    if (r01) {
        int total = 0;
        QString error;
        auto rs = ExecuteSQLrs(acervo::sqlIdfichaMarcador(), total, error);
        if (!rs) {
            errorLocal = error;
            r01 = correr(acervo::sqlMarcador(QString(), nBib));
        } else if (rs->eof() || rs->isNull(QStringLiteral("ficha_np"))) {
            r01 = false;
            errorLocal = QStringLiteral("No se encontraron fichas de la biblioteca en el periodo indicado") + kCrLf;
        } else {
            r01 = correr(acervo::sqlMarcador(rs->text(QStringLiteral("ficha_np")), nBib));
        }
    }
    paso(QStringLiteral("[01]"), r01, QStringLiteral("analisis.zexporta_aafichas"));

    // 8. [02] The items.
    paso(QStringLiteral("[02]"), correr(acervo::sqlEjemplares(sel)), QStringLiteral("analisis.zexporta_bejemplares"));

    // 9.
    if (veliro6) {
        aviso = renumerarFichas();
        if (!aviso.isEmpty()) {
            return FinCorrida::Interrumpida;
        }
    } else {
        // 10. - 21.
        paso(QStringLiteral("[03]"), correr(acervo::sqlEjemplaresDpi(nBib)), QString());
        if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
            paso(QStringLiteral("[04]"), correr(acervo::sqlColumnasEnlace()), QString());
            anteponer(txtLog, QStringLiteral("Actualizando estructura tabla etiquetas MARC"));
        } else {
            lblEstatus->setText(QStringLiteral("[04]"));
        }
        paso(QStringLiteral("[05]"), correr(acervo::sqlEnlazarEtiquetas(nBib)), QString());
        anteponer(txtLog, QStringLiteral("Enlazando etiquetas MARC con autoridades"));
        paso(QStringLiteral("[06]"), correr(acervo::sqlEtiquetas()),
             QStringLiteral("analisis.zexporta_betiquetasmarc"));
        bool r07 = correr(acervo::sqlIndizado());
        if (r07) {
            r07 = correr(acervo::sqlIndizadoBiblioteca(nBib));
        }
        paso(QStringLiteral("[07]"), r07, QStringLiteral("analisis.zexporta_bindizado"));
        paso(QStringLiteral("[07a]"), correr(acervo::sqlEnvios()), QStringLiteral("analisis.zexporta_cenviosdpi"));
        paso(QStringLiteral("[07b]"), correr(acervo::sqlRecepciones()),
             QStringLiteral("analisis.zexporta_crecepcionesdpi"));
        paso(QStringLiteral("[08]"), correr(acervo::sqlAutoridades()),
             QStringLiteral("analisis.zexporta_dautoridades"));
        paso(QStringLiteral("[09]"), correr(acervo::sqlReferencias()),
             QStringLiteral("analisis.zexporta_dreferencias"));
        paso(QStringLiteral("[010]"), correr(acervo::sqlHoldings()), QString());
        paso(QStringLiteral("[011]"), correr(acervo::sqlEscuelas()), QString());
        paso(QStringLiteral("[012]"), correr(acervo::sqlBibliotecas()), QString());
    }

    // 22. Finish.
    if (!exito) {
        aviso = QStringLiteral("Ocurrió un error al generar la estructura temporal para la exportación de registros") +
                kCrLf + errores;
        return FinCorrida::FallaEstructura;
    }
    return FinCorrida::Preparada;
}

QString frmMontarAcervo::renumerarFichas() {
    if (!executeSQLasync(acervo::sqlFichaNoEnEjemplares(), PBar1, 0, errorLocal)) {
        return QStringLiteral("Error al actualizar ficha_no") + kCrLf + errorLocal;
    }
    int total = 0;
    QString error;
    auto lista = ExecuteSQLrs(acervo::sqlListaRenumerar(), total, error);
    if (!lista) {
        return error;
    }
    // Each row is compared with the one read just before it, as read (not as renumbered).
    QString fichaAnterior = QStringLiteral("0");
    QString idfichaAnterior = QStringLiteral("0");
    for (; !lista->eof(); lista->moveNext()) {
        const QString fichaNo = lista->text(QStringLiteral("ficha_no"));
        const QString idficha = lista->text(QStringLiteral("idficha"));
        if (fichaNo == fichaAnterior && idficha != idfichaAnterior) {
            bool hecho = false;
            auto maximo = ExecuteSQLrs(acervo::sqlMaximoFichaNo(), total, error);
            bool ok = false;
            const qint64 nuevo = maximo && !maximo->eof() ? maximo->text(0).toLongLong(&ok) + 1 : 0;
            if (ok) {
                int filas = 0;
                hecho = ExecuteSQLaction(acervo::sqlRenumerar(nuevo, idficha), filas, error);
            }
            if (!hecho) {
                dialogs().message(this, MsgIcon::None, QStringLiteral("No se actualizó la ficha ") + fichaNo);
            }
        }
        fichaAnterior = fichaNo;
        idfichaAnterior = idficha;
        events::pump();
    }
    lista->close();
    return QString();
}

void frmMontarAcervo::creaArchivoDUMP_Click() {
    auto& s = sesion();
    // 1. - 2.
    const QString archivo = acervo::archivoExportacion(txtRuta->text(), nBib, strVersionAct);
    anteponer(txtLog, QStringLiteral("Generando archivo de respaldo 'dump' de respaldo"));
    // 3.
    const QString bin = ObtenerRutaBinPostgres();
    if (bin.isEmpty()) {
        return;
    }
    GuardiaVentana guardia(this);
    // 4. - 5. The password reaches pg_dump through its environment only.
    const acervo::ResultadoVolcado r =
        acervo::volcarExportacion({bin, s.ServidorSesion, s.PuertoSesion, s.UsuarioSesion, s.ClaveSesion, archivo});
    // 6. - 8. Judged by pg_dump's own outcome: a dump that failed after creating its file is no export.
    if (!r.ok()) {
        m_archivoExportado.clear();
        guardia.liberar();
        if (r.falla == acervo::FallaVolcado::SinArchivo) {
            dialogs().message(this, MsgIcon::Critical, QStringLiteral("No se generó el archivo 'dump' de exportación"),
                              MsgButtons::Ok, QStringLiteral("Error critico"));
        } else {
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("Error al generar archivo 'dump' de exportación") +
                                  (r.detalle.isEmpty() ? QString() : kCrLf + r.detalle),
                              MsgButtons::Ok, QStringLiteral("Error"));
        }
        return;
    }
    PBarGral->setValue(PBarGral->maximum());
    // 9.
    const acervo::ResultadoEmpacado e = acervo::empacarExportacion(archivo);
    m_archivoExportado = e.archivo;
    const QString nota = e.ok ? QString() : QStringLiteral(", pero se ha generado un error al intentar compactarlo.");
    guardia.liberar();
    // 10. - 11.
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("El archivo de exportacion se ha generado con exito, en") + kCrLf +
                          m_archivoExportado + nota,
                      MsgButtons::Ok, QStringLiteral("Exportacion exitosa"));
    anteponer(txtLog, QStringLiteral("Archivo de exportación 'dump' de respaldo creado exitósamente"));
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

void frmMontarAcervo::anotarError(const QString& linea) {
    // The lines stay from run to run while the window is open.
    txtERR->appendPlainText(linea);
}

void frmMontarAcervo::cierreAc8() {
    PBarGral->setValue(1);
    PBar1->setValue(1);
    if (dbExportacion) {
        (void)dbExportacion->cerrar();
        dbExportacion.reset();
    }
    lblEstatus->clear();
    lblEstatusGlobal->clear();
}

bool frmMontarAcervo::Create_Database(const QString& strDBPath) {
    dbExportacion = ac8::nuevoArchivoAcervo();
    ac8::Resultado r = dbExportacion->crear(strDBPath);
    if (r.ok()) {
        r = Create_TableEjemplares();
    }
    if (r.ok()) {
        r = Create_TableFichas();
    }
    const ac8::Resultado cierre = dbExportacion->cerrar();
    if (r.ok()) {
        r = cierre;
    }
    dbExportacion.reset();
    if (!r.ok()) {
        dialogs().message(this, MsgIcon::Critical, QString::number(r.numero) + kCrLf + kCrLf + r.descripcion);
        return false;
    }
    return true;
}

ac8::Resultado frmMontarAcervo::Create_TableEjemplares() {
    return dbExportacion->definir(ac8::tablaEjemplares());
}

ac8::Resultado frmMontarAcervo::Create_TableFichas() {
    return dbExportacion->definir(ac8::tablaFichas());
}

bool frmMontarAcervo::GetTagsMARCV6(qint64 queIDficha, QString& strDatosFijos, QString& strTagsMARC, QString* error) {
    strDatosFijos.clear();
    strTagsMARC.clear();
    QVector<ac8::FilaEtiqueta> filas;
    if (queIDficha > 0) {
        int total = 0;
        QString e;
        auto rs = ExecuteSQLrs(acervo::sqlEtiquetasV6(queIDficha, m_conEnlaces), total, e);
        if (!rs) {
            // A record without its tags is not written as if it had none.
            if (error != nullptr) {
                *error = e;
            }
            return false;
        }
        for (; !rs->eof(); rs->moveNext()) {
            filas.push_back({rs->text(QStringLiteral("numetiqueta")).toInt(), rs->text(QStringLiteral("data"))});
        }
        rs->close();
    }
    strTagsMARC = ac8::empacarEtiquetas(filas, strDatosFijos);
    return true;
}

void frmMontarAcervo::cmdArchivoDUMP_V6_Click() {
    // 1. - 2.
    QString ruta = elegirArchivoAc8();
    if (ruta.isEmpty()) {
        cierreAc8();
        return;
    }
    if (QFileInfo::exists(ruta) && !QFile::remove(ruta)) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se puede reemplazar el archivo seleccionado por favor escoja un nuevo "
                                         "nombre para su archivo de exportación"),
                          MsgButtons::Ok, QStringLiteral("Selección de archivo"));
        ruta = elegirArchivoAc8();
        if (ruta.isEmpty()) {
            cierreAc8();
            return;
        }
    }
    // 3. The window stays locked until the closing steps; it is given back on every path.
    GuardiaVentana guardia(this);
    PBarGral->setRange(1, 5);
    PBarGral->setValue(1);
    lblEstatus->setText(QStringLiteral("Creando contenedor AC8..."));
    // 4.
    if (!Create_Database(ruta)) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("No se pudo crear el archivo con la exportación"),
                          MsgButtons::Ok, QStringLiteral("Error al exportar acervo"));
        cierreAc8();
        return;
    }
    // 5.
    dbExportacion = ac8::nuevoArchivoAcervo();
    if (const ac8::Resultado r = dbExportacion->abrir(ruta); !r.ok()) {
        dialogs().message(this, MsgIcon::Information,
                          QStringLiteral("No se pudo abrir el archivo AC8 para el vaciado de los datos"),
                          MsgButtons::Ok, QStringLiteral("Error en Exportación de acervo"));
        cierreAc8();
        return;
    }
    m_conEnlaces = ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"));
    int rechazadosEjemplares = 0;
    int rechazadosFichas = 0;
    int recortes = 0;
    QStringList lecturasFallidas;
    auto anotarRecortes = [&](const QString& marca, const QString& fichaNo, const QVector<ac8::Recorte>& lista) {
        for (const ac8::Recorte& c : lista) {
            ++recortes;
            anotarError(horaLog() + marca + fichaNo + QStringLiteral(" <") + c.campo + QStringLiteral(" recortado a ") +
                        QString::number(c.tamano) + QStringLiteral("> ") + c.original);
        }
    };

    // 6. Items.
    PBarGral->setValue(2);
    lblEstatus->setText(QStringLiteral("Recuperando información de ejemplares a exportar..."));
    events::pump();
    int total = 0;
    QString error;
    auto ejemplares = ExecuteSQLrs(acervo::sqlEjemplaresV6(nBib), total, error);
    if (!ejemplares) {
        lecturasFallidas << QStringLiteral("No se pudo leer la información de ejemplares a exportar:") + kCrLf + error;
    } else {
        PBar1->setRange(1, ejemplares->recordCount() + 1);
        PBar1->setValue(1);
        PBarGral->setValue(3);
        lblEstatus->setText(QStringLiteral("Exportando ejemplares ..."));
        for (; !ejemplares->eof(); ejemplares->moveNext()) {
            QVector<ac8::Recorte> cortes;
            const QString fichaNo = ejemplares->text(QStringLiteral("ficha_no"));
            const ac8::Resultado r =
                dbExportacion->ejecutar(ac8::insertEjemplar(*ejemplares, QDateTime::currentDateTime(), cortes));
            if (!r.ok()) {
                ++rechazadosEjemplares;
                anotarError(horaLog() + QStringLiteral(" >EE ") + fichaNo + QStringLiteral(" <") +
                            QString::number(r.numero) + QStringLiteral("> ") +
                            ejemplares->text(QStringLiteral("no_adqui")));
            } else {
                anotarRecortes(QStringLiteral(" >EE "), fichaNo, cortes);
            }
            events::pump();
            PBar1->setValue(PBar1->value() + 1);
        }
        ejemplares->close();
    }

    // 7. Records.
    lblEstatus->setText(QStringLiteral("Recuperando información de fichas a exportar..."));
    events::pump();
    auto fichas = ExecuteSQLrs(acervo::sqlFichasV6(nBib), total, error);
    if (!fichas) {
        lecturasFallidas << QStringLiteral("No se pudo leer la información de fichas a exportar:") + kCrLf + error;
    } else {
        PBarGral->setValue(4);
        PBar1->setRange(1, fichas->recordCount() + 1);
        PBar1->setValue(1);
        lblEstatus->setText(QStringLiteral("Exportando fichas ..."));
        for (; !fichas->eof(); fichas->moveNext()) {
            const QString fichaNo = fichas->text(QStringLiteral("ficha_no"));
            const QString cola = QStringLiteral("> ") + fichas->text(QStringLiteral("titulo")) + QLatin1Char('/') +
                                 fichas->text(QStringLiteral("autor"));
            QString datosFijos;
            QString etiquetas;
            QString errorEtiquetas;
            if (!GetTagsMARCV6(fichas->text(QStringLiteral("idficha")).toLongLong(), datosFijos, etiquetas,
                               &errorEtiquetas)) {
                ++rechazadosFichas;
                anotarError(horaLog() + QStringLiteral(" >EF ") + fichaNo + QStringLiteral(" <") +
                            QString::number(db::kProviderErrorNumber) + cola + QStringLiteral(" ") +
                            errorEtiquetas.section(kCrLf, 0, 0).simplified());
            } else {
                QVector<ac8::Recorte> cortes;
                const ac8::Resultado r = dbExportacion->ejecutar(
                    ac8::insertFicha(*fichas, datosFijos, etiquetas, QDateTime::currentDateTime(), cortes));
                if (!r.ok()) {
                    ++rechazadosFichas;
                    anotarError(horaLog() + QStringLiteral(" >EF ") + fichaNo + QStringLiteral(" <") +
                                QString::number(r.numero) + cola);
                } else {
                    anotarRecortes(QStringLiteral(" >EF "), fichaNo, cortes);
                }
            }
            events::pump();
            PBar1->setValue(PBar1->value() + 1);
        }
        fichas->close();
    }

    // 8. - 10.
    PBarGral->setValue(PBarGral->maximum());
    const ac8::Resultado cierre = dbExportacion->cerrar();
    if (!cierre.ok()) {
        lecturasFallidas << QStringLiteral("No se pudo guardar el archivo: ") + QString::number(cierre.numero) +
                                QLatin1Char(' ') + cierre.descripcion;
    }
    cierreAc8();
    guardia.liberar();

    if (rechazadosEjemplares == 0 && rechazadosFichas == 0 && lecturasFallidas.isEmpty()) {
        dialogs().message(this, MsgIcon::Information, QStringLiteral("Exportación exitosa"), MsgButtons::Ok,
                          QStringLiteral("Archivo de exportación generado!!!"));
    } else {
        QStringList partes;
        const QString inicio =
            QStringLiteral("El proceso de Exportación ha terminado,") + QStringLiteral("sin embargo se identificaron ");
        if (rechazadosFichas > 0) {
            partes << inicio + QString::number(rechazadosFichas) +
                          QStringLiteral(" ficha(s) que aparentemente estan duplicadas y que no se incluirán en este "
                                         "paquete");
        }
        if (rechazadosEjemplares > 0) {
            partes << (rechazadosFichas > 0
                           ? QStringLiteral("Tampoco se incluirán ") + QString::number(rechazadosEjemplares) +
                                 QStringLiteral(" ejemplar(es).")
                           : inicio + QString::number(rechazadosEjemplares) +
                                 QStringLiteral(" ejemplar(es) que no se incluirán en este paquete"));
        }
        partes << lecturasFallidas;
        dialogs().message(this, lecturasFallidas.isEmpty() ? MsgIcon::Information : MsgIcon::Warning,
                          partes.join(kCrLf), MsgButtons::Ok,
                          QStringLiteral("Archivo de exportación generado con detalles!!!"));
    }
    if (rechazadosEjemplares > 0 || rechazadosFichas > 0 || recortes > 0 || !lecturasFallidas.isEmpty()) {
        frameLOG->show();
    }
}

} // namespace v7
