#include "settings/scelta_comm.h"

#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "settings/settingsfile.h"
#include "settings/tempo_min.h"
#include "tables/convert.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QLabel>
#include <QPushButton>

TForm_Scelta_Comm* Form_Scelta_Comm = nullptr;

TForm_Scelta_Comm::TForm_Scelta_Comm() : Form(QStringLiteral("Form_Scelta_Comm"), QStringLiteral("Impostazione COMM"))
{
    QWidget* c = client();
    place(new QLabel(QStringLiteral("Scegli la COMM"), c), QStringLiteral("Label1"), 16, 12);
    Ed_Comm = place(new ExitEdit(c), QStringLiteral("Ed_Comm"), 16, 36, 49, 21);
    UpDown1 = new UpDown(Ed_Comm, QStringLiteral("UpDown1"), 0, 100, 1, c);
    Button1 = place(new QPushButton(QStringLiteral("OK"), c), QStringLiteral("Button1"), 104, 34, 75, 25);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setOuterSize(201, 104);
    move(10, 40);
    connectHandler(Ed_Comm, &QLineEdit::textChanged, this, &TForm_Scelta_Comm::Ed_CommChange);
    connectHandler(Ed_Comm, &ExitEdit::exited, this, &TForm_Scelta_Comm::Ed_CommExit);
    connectHandler(Button1, &QPushButton::clicked, this, &TForm_Scelta_Comm::Button1Click);
}

void TForm_Scelta_Comm::FormCreate()
{
    // Shows the port in use; filling the field saves nothing.
    const QSignalBlocker blocker(Ed_Comm);
    Ed_Comm->setText(QString::number(Gestione_gare->VaComm1->PortNum()));
}

void TForm_Scelta_Comm::Ed_CommChange()
{
    // Every whole number is applied and saved at once; the port refuses while it is open.
    Gestione_gare->VaComm1->setPortNum(convert::strToInt(Ed_Comm->text()));
    Gestione_gare->Lbl_Comm->setText(QString::number(Gestione_gare->VaComm1->PortNum()));
    SalvoDati();
}

void TForm_Scelta_Comm::Ed_CommExit()
{
    // A field that holds the port in use has nothing to apply: leaving it saves nothing, and raises nothing
    // while the port is open.
    if (Ed_Comm->text() == QString::number(Gestione_gare->VaComm1->PortNum()))
        return;
    Ed_CommChange();
}

void TForm_Scelta_Comm::FormClose()
{
    Ed_Comm->exitIfCurrent();
}

void TForm_Scelta_Comm::Button1Click()
{
    const int port = convert::strToInt(Ed_Comm->text());
    if (port != 1 && port != 2) {
        dialogs::message(QStringLiteral("Scegliere Com 1 o Com 2"));
        return;
    }
    Gestione_gare->VaComm1->setPortNum(port);
    Gestione_gare->Lbl_Comm->setText(QString::number(Gestione_gare->VaComm1->PortNum()));
    SalvoDati();
    Gestione_gare->Inizio_Imposta_Cnt_Dialogo_Seriale();
    Gestione_gare->Cnt_Dialogo_Seriale();
    close();
}

void TForm_Scelta_Comm::SalvoDati()
{
    const int port = convert::strToInt(Ed_Comm->text());
    const int minLap = convert::strToInt(Form_tempo_min->Ed_tempo_min->text());
    settingsfile::write(Gestione_gare->settingsPath, port, minLap);
}
