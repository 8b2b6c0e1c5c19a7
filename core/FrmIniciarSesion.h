// The login window: opens the shared connection, decides the user class, checks the database and
// its versions and fills the session state. The console reads its tag ("OK") after the modal show.
#pragma once

#include "platform/db.h"
#include "platform/espera_ui.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QFrame;

namespace v7 {

class MyButton;

class FrmIniciarSesion : public QDialog {
    Q_OBJECT
    Q_PROPERTY(bool TieneCatalogos READ tieneCatalogos WRITE setTieneCatalogos)

public:
    explicit FrmIniciarSesion(QWidget* parent = nullptr);

    QString tag() const { return m_tag; }
    bool tieneCatalogos() const { return m_tieneCatalogos; }
    void setTieneCatalogos(bool value);

    // Shows the maintenance window to restore a backup (the offer after a missing catalogue).
    using MostrarRestauracion = std::function<void(FrmIniciarSesion& login)>;
    void setMostrarRestauracion(MostrarRestauracion show) { m_mostrarRestauracion = std::move(show); }

    void BtnAceptar_Click();
    void BtnCancelar_Click();
    void chkOpciones_Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Activate();
    void construir();
    void aplicarDisposicion(bool expandida);
    // The steps after a successful open.
    void continuarLogin();
    // The connection-failure handler; true when the connection step is to be tried again.
    bool manejarFallo(const db::DbError& error, int linea);
    void restaurarBotones();

    QString m_tag;
    bool m_tieneCatalogos = false;
    int m_alturaDisenada = 0; // twips
    int m_contadorDriver = 0;
    bool m_enLogin = false;
    CursorEspera m_cursor;
    MostrarRestauracion m_mostrarRestauracion;

    QLineEdit* TxtUsuario = nullptr;
    QLineEdit* TxtPassword = nullptr;
    QLineEdit* TxtIpServidor = nullptr;
    QLineEdit* TxtPuerto = nullptr;
    QCheckBox* chkOpciones = nullptr;
    QFrame* picOpciones = nullptr;
    QLabel* EtActualizacion = nullptr;
    MyButton* BtnAceptar = nullptr;
    MyButton* BtnCancelar = nullptr;
    QLabel* ImgCabecera = nullptr;
    QFrame* Line3 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
};

} // namespace v7
