// The staff accounts window: the library's staff logins with their group and validity, and the
// form in which the administrator creates, changes and removes them. Each time it comes up it makes
// sure of the four group roles and their privileges before it lists the accounts.
#pragma once

#include "core/analistas.h"
#include "platform/db.h"
#include "platform/events.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTreeWidget;

namespace v7 {

class MyButton;
class MyFrame;

class FrmUsuarios : public QDialog {
    Q_OBJECT

public:
    // mostrarCatalogos shows the libraries editor modally (the libraries button); nothing when empty.
    explicit FrmUsuarios(std::function<void(QWidget* parent)> mostrarCatalogos = {}, QWidget* parent = nullptr);
    ~FrmUsuarios() override;

    // True while a run finds groups missing and sets them up: the window refuses to close then.
    bool permisosEnProceso() const { return m_permisosEnProceso.load(); }
    // How many times the window has finished coming up (tests wait for it).
    int activaciones() const { return m_activaciones; }

    // Coming up: on every showing and when the libraries editor returns.
    void Form_Activate();

    void ListUsuarios_Click();
    void OptCrearUsuario_Click();
    void OptModificarUsuario_Click();
    void OptEliminarUsuario_Click();
    void BtnUsuariosAceptar_Click();
    void BtnCancelar_Click();
    void BtnSalir_Click();
    void BtnBibliotecas_Click();
    void BtnPrimero_Click();
    void BtnAnterior_Click();
    void BtnSiguiente_Click();
    void BtnFinal_Click();

    void LlenarListaUsuarios();
    void LlenarGrupos(const QString& tipo);
    void LlenarBibliotecas();
    void HabilitarControlesUsuario();
    void DeshabilitarControlesUsuario();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ponerControlesUsuario(bool habilitados);
    void construir();
    void Form_Load();
    void Form_Unload();
    void mostrarRegistro();
    void CmbGrupo_Click(bool eleccionUsuario);
    void ChkIndefinido_Click();
    void seleccionarFila(int indice);
    void limpiarOpcion(QRadioButton* opcion);
    void ponerModulos(const ModulosAnalista& modulos);
    ModulosAnalista modulos() const;
    bool validarFormulario();
    // Selects the library entry of id; an id the catalogue lacks gets an entry of its own, so the
    // account keeps it.
    void elegirBiblioteca(const std::optional<qint64>& id);
    void quitarBibliotecaAjena();
    void aceptarCrear();
    void aceptarModificar();
    void aceptarEliminar();
    void finAceptar();
    void error(const QString& texto);

    std::function<void(QWidget*)> m_mostrarCatalogos;
    // Set by the group set-up, which runs on a thread of its own.
    std::atomic<bool> m_permisosEnProceso = false;
    bool m_activando = false;
    std::atomic<bool> m_detener = false; // the window is closing while it comes up
    bool m_cerrarPendiente = false;      // it closes as soon as it has stopped coming up
    int m_activaciones = 0;
    // From the showing until it has come up: the window is busy.
    std::unique_ptr<events::OperacionLarga> m_apertura;

    std::unique_ptr<db::Recordset> rsUsuarios;
    QString m_tipoCuentas;    // the session's class when the lists were last read
    bool m_veCuentas = false; // that class lists accounts
    std::unique_ptr<db::Recordset> rsGrupos;
    std::unique_ptr<db::Recordset> rsBibliotecas;

    // What modify mode started from.
    QString UsuarioAnterior;
    QString ClaveAnterior;
    int GrupoAnterior = 0;
    QString m_idAnterior;

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelCentral = nullptr;
    MyFrame* PanelSec1 = nullptr;
    MyFrame* PanelSec2 = nullptr;
    MyFrame* PanelSec3 = nullptr;
    QRadioButton* OptCrearUsuario = nullptr;
    QRadioButton* OptModificarUsuario = nullptr;
    QRadioButton* OptEliminarUsuario = nullptr;
    QLabel* EtCrearUsuario = nullptr;
    QLabel* EtModificarUsuario = nullptr;
    QLabel* EtEliminarUsuario = nullptr;
    QLabel* EtNoUsuarios = nullptr;
    QTreeWidget* ListUsuarios = nullptr;
    MyButton* BtnPrimero = nullptr;
    MyButton* BtnAnterior = nullptr;
    MyButton* BtnSiguiente = nullptr;
    MyButton* BtnFinal = nullptr;
    QLineEdit* TxtLogin = nullptr;
    QLineEdit* TxtContrasena = nullptr; // "TxtContraseña"
    QLineEdit* TxtConfirmar = nullptr;
    QLineEdit* TxtNombre = nullptr;
    QComboBox* CmbGrupo = nullptr;
    QComboBox* CmbBibliotecas = nullptr;
    MyButton* BtnBibliotecas = nullptr;
    QDateEdit* DtpVigencia = nullptr;
    QCheckBox* ChkIndefinido = nullptr;
    QLabel* EtIndefinido = nullptr;
    QCheckBox* ChkAdqui = nullptr;
    QCheckBox* ChkPrestamo = nullptr;
    QCheckBox* ChkConsulta = nullptr;
    QCheckBox* ChkInventario = nullptr;
    QCheckBox* ChkAnalisis = nullptr;
    QCheckBox* ChkServicios = nullptr;
    QLabel* EtAdqui = nullptr;
    QLabel* EtPrestamo = nullptr;
    QLabel* EtConsulta = nullptr;
    QLabel* EtInventario = nullptr;
    QLabel* EtAnalisis = nullptr;
    QLabel* EtServicios = nullptr;
    MyButton* BtnUsuariosAceptar = nullptr;
    MyButton* BtnCancelar = nullptr;
    MyButton* BtnSalir = nullptr;
};

} // namespace v7
