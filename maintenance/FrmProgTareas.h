// The backup schedule window: the current schedule with its removal, or a four-step wizard (frequency;
// days or day of month and start time; archive path, server and port; summary) whose last step
// schedules V7backup, writes its settings file and the schedule description, and records
// RESPALDOCONFIG and RESPALDOOK.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimeEdit;

namespace v7 {

class MyButton;
class MyFrame;

class FrmProgTareas : public QDialog {
    Q_OBJECT

public:
    explicit FrmProgTareas(QWidget* parent = nullptr);
    ~FrmProgTareas() override;

    // 1 frequency, 21 week days, 22 day of month, 3 connection data, 4 summary.
    int pasoAsistente() const { return PasoAsistente; }
    QString diasTarea() const { return DiasTarea; }

    void BtnSiguiente_Click();
    void BtnAnterior_Click();
    void BtnExaminar_Click();
    void BtnEliminarRespaldo_Click();
    void SalirAsistente();

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void construir();
    void Form_Load();
    void alFrente(MyFrame* paso);
    void mostrarCasillas(bool visibles);
    bool verificarPaso3();
    void resumir();
    void programar();

    qint16 PasoAsistente = 1;
    QString DiasTarea;
    QString m_nombreCd; // the save dialog's last file name

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelTareaActual = nullptr;
    QLabel* EtLog = nullptr;
    MyButton* BtnEliminarRespaldo = nullptr;
    MyButton* BtnSalirActual = nullptr; // BtnSalir of the current-schedule panel
    MyFrame* PanelCentral = nullptr;
    MyButton* BtnAnterior = nullptr;
    MyButton* BtnSalir = nullptr;
    MyButton* BtnSiguiente = nullptr;

    MyFrame* Panel1 = nullptr;
    QRadioButton* OptDiario = nullptr;
    QRadioButton* OptSemanal = nullptr;
    QRadioButton* OptMensual = nullptr;
    QLabel* EtDiario = nullptr;
    QLabel* EtSemanal = nullptr;
    QLabel* EtMensual = nullptr;

    MyFrame* Panel2 = nullptr;
    QComboBox* CmbDiaMes = nullptr;
    QTimeEdit* DtpMensual = nullptr;

    MyFrame* Panel3 = nullptr;
    QCheckBox* Casillas[7] = {};  // ChkLunes … ChkDomingo
    QLabel* EtiquetasDia[7] = {}; // EtLunes … EtDomingo
    QComboBox* CmbDias = nullptr;
    QTimeEdit* DtpDiario = nullptr;

    MyFrame* Panel4 = nullptr;
    QLineEdit* TxtRutaRespaldo = nullptr;
    MyButton* BtnExaminar = nullptr;
    QLineEdit* TxtIP = nullptr;
    QLineEdit* TxtPuerto = nullptr;
    QLabel* lblWinUser = nullptr;
    QLineEdit* TxtWinPass = nullptr;

    MyFrame* Panel5 = nullptr;
    QLabel* EtDiasTarea = nullptr;
    QLabel* EtRutaRespaldo = nullptr;
};

} // namespace v7
