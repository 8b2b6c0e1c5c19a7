// The maintenance window: compaction, backup, restore and the update options of database veliro7,
// one tab each. Each long operation locks the window while it runs; the reset window is shown on Ctrl+F12.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTabBar;
class QTimer;
class QWidget;

namespace v7 {

class FrmIniciarSesion;
class MyButton;
class MyFrame;

class FrmBase : public QDialog {
    Q_OBJECT
    Q_PROPERTY(QString ZonaHoraria READ zonaHoraria WRITE setZonaHoraria)

public:
    // login: the login window when it is the one showing this window to restore (its TieneCatalogos
    // decides); nullptr when the console shows it, after a login that found the catalogues.
    explicit FrmBase(QWidget* parent = nullptr, FrmIniciarSesion* login = nullptr);
    ~FrmBase() override;

    QString zonaHoraria() const { return m_zonaHoraria; }
    void setZonaHoraria(const QString& zona) { m_zonaHoraria = zona; }
    // Opens on the restore tab with this archive (the login offers to run a restore again).
    void setArchivoRestaurar(const QString& ruta);

    // The destination of the backup running or last run (cleared by Salir and at each backup's start).
    QString rutaDestino() const { return m_rutaDestino; }

    // What Ctrl+F12 shows: the database reset window unless another is set.
    void setMostrarReset(std::function<void(QWidget* parent)> mostrar) { m_mostrarReset = std::move(mostrar); }

    // Whether a tab carries the highlight.
    bool tabResaltada(int indice) const;

    void TabAdmin_Click();
    void BtnExaminar_Click();
    void BtnExaminarRespaldo_Click();
    void BtnGuardar_Click();
    void BtnSalir_Click();
    void BtnRespaldar_Click();
    void BtnMontar_Click();
    void BtnCompactar_Click();
    void TmrProgreso_Timer();

    QTimer* progressTimer() const { return TmrProgreso; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void construir();
    void Form_Load();
    void Form_Unload();
    void ponerResaltada(int indice, bool on);
    void mostrarReset();
    QString examinar();

    FrmIniciarSesion* m_login = nullptr;
    QString m_zonaHoraria;
    QString m_rutaDestino;
    QString m_nombreCd; // the one file dialog's last file name, shared by both browse buttons
    std::function<void(QWidget*)> m_mostrarReset;

    MyFrame* PanelCentral = nullptr;
    QLabel* ImgCabecera = nullptr;
    QTabBar* TabAdmin = nullptr;
    QWidget* FrameMantenimiento = nullptr;
    QWidget* FrameRespaldador = nullptr;
    QWidget* FrameMontar = nullptr;
    QWidget* FrameActualizacion = nullptr;
    MyFrame* PanelMant = nullptr;
    MyFrame* PanelRespaldo = nullptr;
    MyFrame* PanelMontar = nullptr;
    MyFrame* PanelActualizacion = nullptr;
    MyButton* BtnCompactar = nullptr;
    QLabel* EtCompacta = nullptr;
    QLineEdit* txtRuta = nullptr;
    MyButton* BtnExaminar = nullptr;
    MyButton* BtnRespaldar = nullptr;
    QLabel* EtStatusRespaldo = nullptr; // what the running backup is doing
    QLineEdit* TxtRutaRespaldo = nullptr;
    MyButton* BtnExaminarRespaldo = nullptr;
    MyButton* BtnMontar = nullptr;
    QLabel* EtStatusRestaura = nullptr;
    QCheckBox* ChkActOficial = nullptr;
    QCheckBox* chkActBeta = nullptr;
    MyButton* BtnGuardar = nullptr;
    MyButton* BtnSalir = nullptr;
    QProgressBar* ProgBarr = nullptr;
    QTimer* TmrProgreso = nullptr;
};

} // namespace v7
