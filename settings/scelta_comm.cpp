#include "settings/scelta_comm.h"

#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "widgets/controls.h"

#include <QLabel>
#include <QPushButton>

TForm_Scelta_Comm* Form_Scelta_Comm = nullptr;

TForm_Scelta_Comm::TForm_Scelta_Comm() : Form(QStringLiteral("Form_Scelta_Comm"), QStringLiteral("Impostazione COMM"))
{
    QWidget* c = client();
    place(new QLabel(QStringLiteral("Scegli la COMM"), c), QStringLiteral("Label1"), 16, 12);
    Ed_Comm = place(new QLineEdit(c), QStringLiteral("Ed_Comm"), 16, 36, 49, 21);
    UpDown1 = new UpDown(Ed_Comm, 0, 100, 1, c);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Button1 = place(new QPushButton(QStringLiteral("OK"), c), QStringLiteral("Button1"), 104, 34, 75, 25);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setOuterSize(201, 104);
    move(10, 40);
}

void TForm_Scelta_Comm::FormCreate()
{
    // Shows the port in use; filling the field saves nothing.
    const QSignalBlocker blocker(Ed_Comm);
    Ed_Comm->setText(QString::number(Gestione_gare->VaComm1->PortNum()));
}
