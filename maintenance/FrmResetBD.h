// The database reset window: asks for the session's password again and for a confirmation, then
// returns database veliro7 to its installation state.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace v7 {

class MyButton;
class MyFrame;

class FrmResetBD : public QDialog {
    Q_OBJECT

public:
    explicit FrmResetBD(QWidget* parent = nullptr);
    ~FrmResetBD() override;

    void BtnAceptar_Click();
    void BtnCancelar_Click();

public slots:
    void reject() override;

private:
    void construir();
    void Form_Load();

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelPpal = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* TxtClave = nullptr;
    MyButton* BtnAceptar = nullptr;
    MyButton* BtnCancelar = nullptr;
};

} // namespace v7
