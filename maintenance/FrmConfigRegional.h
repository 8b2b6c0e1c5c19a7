// The time-zone choice of a restore: lists the server's American zones and hands the confirmed one to
// the maintenance window's ZonaHoraria. It stores nothing itself.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;

namespace v7 {

class FrmBase;
class MyButton;
class MyFrame;

class FrmConfigRegional : public QDialog {
    Q_OBJECT

public:
    explicit FrmConfigRegional(FrmBase& base);

    void BtnZona_Click();

public slots:
    void reject() override;

private:
    void construir();
    void Form_Load();
    // The closing rule: true when the window may close (a zone is held, or none can be chosen).
    bool Form_Unload();
    bool confirmar();

    FrmBase& m_base;

    MyFrame* PanelCentral = nullptr;
    QLabel* ImgCabecera = nullptr;
    QComboBox* CmbConfigRegional = nullptr;
    MyButton* BtnZona = nullptr;
};

} // namespace v7
