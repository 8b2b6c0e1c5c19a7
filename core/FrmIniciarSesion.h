// The login window: opens the shared connection, decides the user class, checks the database and
// its versions and fills the session state. The console reads its tag ("OK") after the modal show.
#pragma once

#include "core/marca_restauracion.h"
#include "platform/db.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QFrame;

namespace v7 {

class GuardiaVentana;
class MyButton;
struct ArchivoSesion;
struct AvisoInicio;

class FrmIniciarSesion : public QDialog {
    Q_OBJECT
    Q_PROPERTY(bool TieneCatalogos READ tieneCatalogos WRITE setTieneCatalogos)

public:
    explicit FrmIniciarSesion(QWidget* parent = nullptr);
    ~FrmIniciarSesion() override;

    QString tag() const { return m_tag; }
    bool tieneCatalogos() const { return m_tieneCatalogos; }
    void setTieneCatalogos(bool value);

    // Shows the maintenance window to restore a backup (the offer after a missing catalogue, or after a
    // restore that did not finish).
    using MostrarRestauracion = std::function<void(FrmIniciarSesion& login)>;
    void setMostrarRestauracion(MostrarRestauracion show) { m_mostrarRestauracion = std::move(show); }
    // The archive of the restore that did not finish, while the login offers to run it again (the
    // maintenance window preselects it); empty otherwise.
    QString archivoRestauracion() const { return m_archivoRestauracion; }

    void BtnAceptar_Click();
    // During a login it only asks the login to stop: the login then ends without its tag.
    void BtnCancelar_Click();
    void chkOpciones_Click();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_Activate();
    void construir();
    void aplicarDisposicion(bool expandida);
    // Takes the boxes and opens the shared connection (the other driver, or a new database, as its
    // failures say); false when the press ends there.
    bool conectar();
    // The steps after a successful open.
    void continuarLogin();
    // Whether the database may be used, or a restore is offered first (marca: a restore that did not
    // finish); false when the program ends.
    bool decidirEntrada(const std::optional<MarcaRestauracion>& marca);
    // Logged in: the tag, the window hidden, the local-address warning.
    void entrar();
    // The session state; what the session file is to hold.
    ArchivoSesion guardarSesion();
    // Runs statements off the window's thread, under the interactive lock and statement limits, with the
    // window locked (but for Cancel), and returns their result.
    template <typename F> auto esperarBloqueada(F&& trabajo);
    void mostrar(const AvisoInicio& aviso);
    // The connection-failure handler; true when the connection step is to be tried again.
    bool manejarFallo(const db::DbError& error, int linea);
    void restaurarBotones();
    // The server address as typed, without blanks around it.
    QString servidor() const;
    // Gives the window back (before a message box, or when the login is over).
    void soltarVentana();
    // Ends an attempt that Cancel interrupted: no tag, no connection, the window closed.
    void abandonar();

    QString m_tag;
    bool m_tieneCatalogos = false;
    int m_alturaDisenada = 0; // twips
    int m_contadorDriver = 0;
    bool m_enLogin = false;
    bool m_cancelado = false;
    std::unique_ptr<GuardiaVentana> m_guardia;
    MostrarRestauracion m_mostrarRestauracion;
    QString m_archivoRestauracion;

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
